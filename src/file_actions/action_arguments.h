// The names a file manager hands the action: plain paths (Nemo's %F, GNOME
// Files' script), or file:// URLs (Dolphin's %U, the only way KDE passes a
// name that is not UTF-8), each percent-decoded to the name's exact bytes.
//
// Pure functions of their arguments: any thread.
#pragma once

#include <string>
#include <string_view>

namespace pixmoor::file_actions {

// The absolute path an argument names: a local file:// URL ("file:///p",
// "file://localhost/p", "file:/p") decoded, its query or fragment dropped;
// anything else as a path, joined to `here` when relative (a URL of another
// host or scheme then names nothing, and the companion says so). A "%" not followed by two hex
// digits stays as it is.
std::string chosenPath(std::string_view argument, std::string_view here);

}  // namespace pixmoor::file_actions

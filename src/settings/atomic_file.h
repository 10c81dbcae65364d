// Replacing a small file whole, so that readers see the old text or the new
// one and never a mixture: the text goes to a temporary file in the same
// folder, is flushed, and is renamed over the target.
#pragma once

#include <string>
#include <string_view>

namespace pixmoor::settings {

// Creates the file when it does not exist. A symbolic link is followed, so the
// file it points to is replaced and the link stays. The replaced file keeps
// its permission bits; a new one gets 0666 less the umask. False when
// anything fails; the target is then as it was and no temporary file remains.
bool replaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace pixmoor::settings

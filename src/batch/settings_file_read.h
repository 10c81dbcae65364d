// Reading a settings file without ever writing it (the command-line
// companion uses the window's pref.qvl as it finds it).
//
// Same choice of group as the program's own start-up: "DEFAUT" when it is
// the file's only group, else "USER"; a missing key takes its default.
// Unlike the program's start-up, a missing file is not created. Any thread.
#pragma once

#include <optional>
#include <string>

#include "settings/settings.h"

namespace pixmoor::batch {

// The Settings the file holds, on top of the defaults for a desktop of the
// given size; nothing when the file cannot be opened.
std::optional<settings::Settings> readSettingsFile(const std::string& path, int desktopWidth,
                                                   int desktopHeight);

}  // namespace pixmoor::batch

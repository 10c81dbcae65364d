// How pixmoor-batch takes the paths it is given: a drop's rules, with each
// path looked at, nothing taken from a Trash, and hidden folders walked only
// when asked (--hidden).
//
// The home Trash is found where the desktop looks for it, from the
// environment's values given here. Pure functions; any thread.
#pragma once

#include <string>
#include <vector>

#include "batch/intake.h"
#include "companion/options.h"

namespace pixmoor::companion {

// Where the home Trash may be: $XDG_DATA_HOME/Trash and
// $HOME/.local/share/Trash (both, when both are set: whichever the desktop
// uses stays untouched). Null or empty values give nothing.
std::vector<std::string> homeTrashFolders(const char* xdgDataHome, const char* home);

batch::IntakeRules companionIntakeRules(const Options& options, const char* xdgDataHome, const char* home);

}  // namespace pixmoor::companion

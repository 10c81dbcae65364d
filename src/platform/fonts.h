// Fonts asked for by family name and point size; fontconfig substitutes an
// installed family where the one asked for is missing.
#pragma once

#include <QFont>

namespace pixmoor::platform {

QFont fontByName(const char* family, int points);

}  // namespace pixmoor::platform

// Fonts asked for by family name and point size.
//
// The window was laid out for the widths of the families it names. Where a
// family is not installed, a metric-compatible one (same advance widths) is
// preferred by name before fontconfig's general substitute, which is often
// wider and would clip the texts: Liberation Sans stands in for Arial and
// Microsoft Sans Serif. Interface thread only (QFont).
#pragma once

#include <QFont>

namespace pixmoor::platform {

QFont fontByName(const char* family, int points);

}  // namespace pixmoor::platform

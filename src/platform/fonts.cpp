#include "platform/fonts.h"

#include <QStringList>
#include <string_view>

namespace pixmoor::platform {

namespace {

// Families with the widths of the one asked for, best first (Microsoft Sans
// Serif's are close to Arial's); Qt takes the first one installed before it
// asks fontconfig for a look-alike.
QStringList sameWidthFamilies(std::string_view family) {
  if (family == "Microsoft Sans Serif" || family == "Arial") {
    return {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")};
  }
  // No free font has Arial Black's widths; the heavy cut of the Arial metrics
  // family comes closest without running wider than the layout.
  if (family == "Arial black") return {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")};
  return {};
}

}  // namespace

QFont fontByName(const char* family, int points) {
  QFont font(QString::fromUtf8(family), points);
  font.setStyleHint(QFont::SansSerif);
  QStringList families{font.family()};
  families << sameWidthFamilies(family);
  families.removeDuplicates();
  font.setFamilies(families);
  return font;
}

}  // namespace pixmoor::platform

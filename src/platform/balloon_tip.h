// Balloon tips: rich-text tool tips with an optional title and information
// icon, at most 180 pixels wide.
//
// AddBalloonTip sets the control's tool tip; an empty title gives neither
// title nor icon. A carriage return or line feed in the text starts a new
// line of the tip. Interface thread only.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace pixmoor::platform {

inline constexpr int kBalloonMaxWidth = 180;

// The rich text shown for a tip (exposed so that tests can read it).
QString balloonTipHtml(const std::string& text, const std::string& title);

void AddBalloonTip(QWidget* control, const std::string& text, const std::string& title);

}  // namespace pixmoor::platform

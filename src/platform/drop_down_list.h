// A drop-down list (not editable) whose arrow button is 16 px wide, about as on
// the desktop the window was laid out for, so that its caption keeps the
// room the layout gave it. Otherwise a plain QComboBox of the application's
// style. Interface thread only.
#pragma once

#include <QComboBox>

namespace pixmoor::platform {

inline constexpr int kDropDownArrowWidth = 16;

class DropDownList : public QComboBox {
 public:
  explicit DropDownList(QWidget* parent = nullptr);
};

}  // namespace pixmoor::platform

// The prefix input box: a small modal window with a prompt, a one-line edit
// holding the proposed text (all of it selected, with the focus) and an OK
// button.
//
// 300 x 130, centred on the screen, a caption without any button; prompt
// (plain text) at 10,10 (280 x 22), edit at 10,32 (275 x 21), default button
// "OK" at 110,67 (80 x 25). Enter presses OK; Escape cancels. Interface
// thread only.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pixmoor::platform {

class InputBoxDialog : public QDialog {
 public:
  InputBoxDialog(const std::string& title, const std::string& prompt, const std::string& proposed,
                 QWidget* parent = nullptr);

  // The edit's text after OK, "" after a cancel.
  std::string result() const;

  QLabel* promptLabel() const { return prompt_; }
  QLineEdit* edit() const { return edit_; }
  QPushButton* okButton() const { return ok_; }

 private:
  QLabel* prompt_;
  QLineEdit* edit_;
  QPushButton* ok_;
};

// Shows the box modally (the program's own windows are disabled meanwhile).
std::string runInputBox(const std::string& title, const std::string& prompt, const std::string& proposed,
                        QWidget* owner);

}  // namespace pixmoor::platform

// Requesters: the modal boxes the program asks questions with.
//
// The program talks to an interface so that tests can answer the boxes
// themselves. QtRequesters shows real boxes: the system message box (Yes/No,
// OK with the information icon) and the prefix input box. Texts are shown as
// plain text, never as markup. While a box is open the rest of the program
// takes no input (ProgramModal), and the program's own topmost windows lose
// their topmost flag (the ones not in the foreground are disabled) so that
// they do not hide it; all comes back when the box closes. Interface thread
// only.
#pragma once

#include <string>

class QWidget;

namespace pixmoor::platform {

// The answer Enter gives in a Yes/No box (its default button). Escape
// always answers No.
enum class DefaultAnswer { yes, no };

class Requesters {
 public:
  virtual ~Requesters() = default;
  // Yes/No box without icon; true for Yes.
  virtual bool askYesNo(const std::string& title, const std::string& text, DefaultAnswer enter) = 0;
  // OK box with the information icon.
  virtual void showInformation(const std::string& title, const std::string& text) = 0;
  // The prefix input box: the edit's text on OK, "" when cancelled.
  virtual std::string inputBox(const std::string& title, const std::string& prompt,
                               const std::string& proposed) = 0;
};

class QtRequesters final : public Requesters {
 public:
  bool askYesNo(const std::string& title, const std::string& text, DefaultAnswer enter) override;
  void showInformation(const std::string& title, const std::string& text) override;
  std::string inputBox(const std::string& title, const std::string& prompt,
                       const std::string& proposed) override;
};

}  // namespace pixmoor::platform

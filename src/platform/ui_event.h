// The events that the window layer hands to the program's dispatch function.
//
// Every notification of a window, control or menu becomes one UiEvent and is
// delivered, on the interface thread, to the single dispatch function the
// program installed. The event carries numbers, never widget pointers, so the
// program and its tests speak only in the program's own numbering.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pixmoor::platform {

enum class UiEventKind {
  control,       // a notification of control `number`
  menuCommand,   // a menu entry or keyboard shortcut raised command `number`
  filesDropped,  // `paths` were dropped on window `number`, in drop order
  closeRequest,  // the user asked to close window `number`
};

struct UiEvent {
  UiEventKind kind = UiEventKind::control;
  int number = 0;
  std::vector<std::string> paths;  // FilesDropped only: local paths, UTF-8
};

using UiDispatch = std::function<void(const UiEvent&)>;

}  // namespace pixmoor::platform

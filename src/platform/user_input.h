// The events a user causes: keys, shortcuts, the mouse, the wheel, touch and
// tablet, context menus, drag and drop, close requests.
//
// One list for every filter that holds the user back while something else
// has the program (a box that is modal for the whole program, the ball
// game); painting, timers and queued calls are not in it, so the window
// keeps drawing and the batch keeps reporting. Any thread; no state.
#pragma once

#include <QEvent>

namespace pixmoor::platform {

bool isUserInput(QEvent::Type type);

}  // namespace pixmoor::platform

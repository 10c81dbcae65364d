// What Qt's window flags do not tell an X11 window manager, said through
// xcb on the program's own connection to the X server.
//
// On any other window system (Wayland, offscreen) the functions change
// nothing. Interface thread only, with a QGuiApplication alive.
#pragma once

#include <QtGui/qwindowdefs.h>  // WId

class QWidget;

namespace pixmoor::platform {

// The native window of a top-level widget, made if it has none yet, on any
// window system. QWidget::winId would also mark the widget native, and that
// makes every other child of its parent a native window too (for a dialog
// the main window owns: the menu bar and the client area), which at
// fractional scaling are placed and flushed in rounded device pixels and
// keep one-pixel remnants of whatever covered them.
WId nativeWindowOf(QWidget* window);

// True when the program talks to an X server.
bool onX11();

// True when a compositing manager runs on the X screen of `window`: the
// selection _NET_WM_CM_S<screen> has an owner. Only then does a window's
// opacity show. False off X11 and without a native window.
bool x11CompositorRunning(const QWidget* window);

// Gives a top-level window's native window the Motif hints its Qt flags
// mean: a move function always, minimise, maximise and close only for the
// buttons its flags name, resizing only when its size is not fixed. Qt
// leaves the window manager's functions open whenever no button is named,
// so a window with a title only would still get all three buttons. Call
// again after every change of the window's flags.
void setWindowManagerButtons(QWidget* window);

}  // namespace pixmoor::platform

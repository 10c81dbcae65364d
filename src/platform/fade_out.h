// The closing fade-out: a window's opacity animated from where it is to 0
// over a duration, then the window hidden.
//
// Blocks the calling (interface) thread for the duration while events keep
// flowing. Only where the window system composites does opacity show: on
// Wayland always, on X11 while a compositing manager runs. Elsewhere
// (a plain X server, the offscreen platform) the window is hidden at once.
// Answers whether the animation ran.
#pragma once

class QWidget;

namespace pixmoor::platform {

inline constexpr int kFadeOutMilliseconds = 2000;

bool windowOpacitySupported(const QWidget* window);
bool fadeOutAndHide(QWidget* window, int milliseconds = kFadeOutMilliseconds);

}  // namespace pixmoor::platform

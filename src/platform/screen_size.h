// A screen's size in the device's own pixels.
//
// QScreen gives sizes in device-independent pixels, rounded to whole ones;
// multiplied back by a fractional scale factor they can be a pixel off (a
// 2560 x 1600 screen at 1.5 reads 1707 x 1067, which gives 2561 x 1601).
// The platform's own screen knows its pixels exactly. Interface thread
// only, with a QGuiApplication alive.
#pragma once

#include <QSize>

class QScreen;

namespace pixmoor::platform {

// The size of `screen` in device pixels; empty without a screen.
QSize screenPixelSize(const QScreen* screen);

}  // namespace pixmoor::platform

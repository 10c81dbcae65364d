// Menu titles that stay in the menu bar when their text is empty.
//
// Qt leaves a title without text or icon out of the bar, and a bar whose
// titles are all empty shrinks to a few pixels, moving the window's
// controls. keepEmptyMenuTitles gives such a title the room of a single
// space, as tall as a title with text: the menus stay reachable and the bar
// keeps its height. The bar keeps the style object. Interface thread only.
#pragma once

class QMenuBar;

namespace pixmoor::platform {

void keepEmptyMenuTitles(QMenuBar* bar);

}  // namespace pixmoor::platform

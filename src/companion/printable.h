// A file name (or any text of the system's) as one line a person can read
// safely in a terminal or a log: the program's lines name pictures, and a
// name may hold any byte but "/" and NUL.
//
// Pure function; any thread.
#pragma once

#include <string>

namespace pixmoor::companion {

// Line feeds become "\n"; every other control (below 0x20, 0x7F, and the C1
// controls 0x80 to 0x9F, raw or as UTF-8) becomes "\xHH" per byte, so that
// no name can end a line, forge another, or send the terminal a control
// sequence. Letters of any script and the bytes of other encodings stay.
std::string printable(const std::string& text);

}  // namespace pixmoor::companion

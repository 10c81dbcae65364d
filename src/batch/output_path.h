// Output naming: where the picture made from a source is written.
//
// Pure function; any thread. "/" is the only separator (a backslash is an
// ordinary character of a Linux file name).
#pragma once

#include <string>

namespace pixmoor::batch {

// The source's folder (up to and including its last "/"), then `prefix`
// exactly as given, then the source's name without its last extension, then
// "." and `format` in ASCII lower case: ("/p/IMG.JPEG", "prefix_", "JPG")
// gives "/p/prefix_IMG.jpg". With an empty prefix and a matching format the
// output is the source itself.
std::string outputPath(const std::string& source, const std::string& prefix, const std::string& format);

}  // namespace pixmoor::batch

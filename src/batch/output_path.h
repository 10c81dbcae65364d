// Output naming: where the picture made from a source is written.
//
// Pure function; any thread. "/" is the only separator (a backslash is an
// ordinary character of a Linux file name).
#pragma once

#include <string>
#include <string_view>

#include "settings/settings.h"

namespace pixmoor::batch {

// The extension of the output files of the chosen format ("jpg", "png",
// "webp", "avif").
// An unknown format, which writes nothing, still names the picture in
// progress: by its text in ASCII lower case ("GIF" gives "gif").
std::string outputExtension(const settings::Settings& settings);

// The source's folder (up to and including its last "/"), then `prefix`
// exactly as given, then the source's name without its last extension, then
// "." and `extension`: ("/p/IMG.JPEG", "prefix_", "jpg") gives
// "/p/prefix_IMG.jpg". With an empty prefix and a matching format the output
// is the source itself.
std::string outputPath(const std::string& source, const std::string& prefix, std::string_view extension);

// The output of `source` under the chosen prefix ("0" for none) and format.
std::string outputPath(const std::string& source, const settings::Settings& settings);

}  // namespace pixmoor::batch

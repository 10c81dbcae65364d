// Output naming: where the picture made from a source is written.
//
// Pure function; any thread. "/" is the only separator (a backslash is an
// ordinary character of a Linux file name).
#pragma once

#include <string>
#include <string_view>

#include "batch/output_choice.h"
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

// The same in the choice's output folder, when it names one: the folder,
// then the source's folder relative to `choice.tree` when the source lies
// inside it (nothing otherwise), then the name as above.
// ("/p/a/IMG.JPEG" with the tree "/p" and the folder "out") gives "out/a/prefix_IMG.jpg".
std::string outputPath(const std::string& source, const settings::Settings& settings,
                       const OutputChoice& choice);

// "name (n).ext" for the output path "folder/name.ext" (n from 1), as
// desktop file managers name a copy; a name without an extension gets the
// number at its end.
std::string numberedPath(const std::string& path, int n);

// Copies "name (1).jpg" ... "name (9999).jpg" are tried before --if-exists
// rename gives up (exists), in the run as in the plan.
inline constexpr int kMostNumberedNames = 9999;

}  // namespace pixmoor::batch

// Encoding: writes a raster to a file through the encoder registry.
//
// Every save is a replacement of the files layer (files/replace_file.h): the
// picture goes to a temporary file in the target folder, which is renamed
// over the target only after success, so a failed or cancelled save leaves
// no partial file and leaves an existing file of that name untouched.
// The registry is filled once at start-up, before any worker runs, and is
// only read afterwards; saveRaster is then callable from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "files/replace_file.h"
#include "image/raster.h"

namespace pixmoor::image {

// Four ASCII letters packed into 32 bits, first letter in the lowest byte.
constexpr std::uint32_t encoderId(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}
inline constexpr std::uint32_t kJpegEncoder = encoderId('J', 'P', 'E', 'G');
inline constexpr std::uint32_t kPngEncoder = encoderId('P', 'N', 'G', '\0');
// Lossy and lossless WebP are two encoders: two bitstreams, one extension.
inline constexpr std::uint32_t kWebpEncoder = encoderId('W', 'E', 'B', 'P');
inline constexpr std::uint32_t kWebpLosslessEncoder = encoderId('W', 'E', 'B', 'L');
inline constexpr std::uint32_t kAvifEncoder = encoderId('A', 'V', 'I', 'F');

void registerJpegEncoder();
void registerPngEncoder();
// Both WebP encoders.
void registerWebpEncoder();
void registerAvifEncoder();

// The replacement's reasons (files::ReplaceStatus) keep their names here.
enum class SaveStatus {
  saved,
  badRequest,           // empty path, no pixels, unsupported raster depth
  noEncoder,            // identifier not in the registry
  cannotCreate,         // no temporary file (no such folder, a path too long)
  refused,              // a link the replacement policy does not follow (dangling, or another user's)
  notAFile,             // the name holds a folder, a FIFO or a device
  nameTooLong,          // the name is longer than its file system takes
  writeProtected,       // the file under the name may not be written
  folderNotWritable,    // the folder lets us make no file
  writeFailed,          // the library or the disk failed while writing (an I/O error, ...)
  diskFull,             // no room left on the file system
  tooManyOpenFiles,     // the process has no descriptor left
  outOfMemory,          // memory ran out while encoding (a copy of the picture, the library, the output)
  cancelled,            // `cancel` was raised part-way
  wouldReplaceAnother,  // the name holds a file other than the one `rule` allows
  setAsideNotReplaced,  // `rule` set the old file aside, then the new one could not take its name
  nameTaken,            // `rule` wants the name free, and something is under it
};

// The reason a replacement that did not happen gives a save.
SaveStatus saveStatusOf(files::ReplaceStatus status);

// `depth` -1 means `sourceDepth`. `quality` is the program's 0..10 scale for
// JPEG, WebP and AVIF (clamped; lossless WebP spends more effort for more);
// PNG ignores it. `iccProfile`, when not empty, is the
// picture's colour profile, written into the file (not into palette output).
// `rule` says what may already be under the name (by default any file the
// replacement policy allows). `exif`, when not empty, is an EXIF block
// already fitted to this output (metadata/exif_editor.h): a JPEG's APP1 segment (left
// out when it would not fit one), a PNG's eXIf chunk.
SaveStatus saveRaster(const Raster& raster, int sourceDepth, const std::string& path, std::uint32_t encoder,
                      int quality, int depth, const CancelFlag* cancel = nullptr,
                      std::span<const std::uint8_t> iccProfile = {}, const files::ReplaceRule& rule = {},
                      std::span<const std::uint8_t> exif = {});

// Puts bytes that encodeRaster made in place under `path`, as saveRaster
// would have written them: the same replacement, `rule` and cancel points.
SaveStatus saveEncoded(std::span<const std::uint8_t> bytes, const std::string& path,
                       const CancelFlag* cancel = nullptr, const files::ReplaceRule& rule = {});

// Encodes exactly as saveRaster would, into `bytes` instead of a file: the
// same checks, the same writer, the same bytes; nothing touches the disk.
// `bytes` is emptied first and holds the picture when the answer is Saved.
SaveStatus encodeRaster(const Raster& raster, int sourceDepth, std::uint32_t encoder, int quality, int depth,
                        std::vector<std::uint8_t>& bytes, const CancelFlag* cancel = nullptr,
                        std::span<const std::uint8_t> iccProfile = {},
                        std::span<const std::uint8_t> exif = {});

}  // namespace pixmoor::image

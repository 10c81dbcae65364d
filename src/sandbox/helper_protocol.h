// The messages between the engine and its decode helper, the program
// pixmoor-decode that reads one picture of a format the engine never decodes
// in its own process (decode_client.h): how each is written, and how each is
// read back.
//
// One conversation per picture, over two pipes:
//   engine -> helper   request: the format, the file's size, the memory
//                      budget, the CPU seconds, header alone or picture
//   helper -> engine   header: the upright size, once the reader took it
//   engine -> helper   target: the size the picture will be resampled to, or none
//   helper -> engine   the last message: a failure (a load status), "header
//                      read" (when only the header was asked), or the picture
// A failure may also come before any header. Every message is a frame of
// eight bytes (its kind, three zero bytes, the length of its fixed part,
// little-endian) and that fixed part; a picture's is followed by its ICC
// profile, its EXIF block and its rows, bottom row first, without padding,
// and "header read" by the EXIF block. The picture comes
// back at the target's size when the target reduces it (returnedSize), else
// whole.
//
// The helper has read a hostile file and may have been taken over by it, so
// receiveDecode reads everything it sends as hostile data: a message out of
// turn, a field out of range, a size other than the one foreseen, a picture
// beyond the memory budget, a profile that is no usable ICC profile or an
// EXIF block that is no TIFF structure makes
// the load `damaged`, found before anything is allocated for it. The helper
// reads the engine's messages just as strictly.
//
// Pure functions over byte sources; any thread, each conversation on one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/decoded_picture.h"
#include "image/loaded_picture.h"
#include "image/picture_format.h"

namespace pixmoor::image {

// The longest format name a request carries (the registry's names are shorter).
inline constexpr std::size_t kMaxHelperFormatName = 32;

struct HelperRequest {
  std::string format;  // the registry's name: "GIF"
  std::uint64_t fileSize = 0;
  std::uint64_t memoryBudget = kNoMemoryBudget;
  std::uint32_t cpuSeconds = 0;
  ReadUpTo upTo = ReadUpTo::picture;
};

// Where a conversation's bytes come from: a pipe (decode_client.h waits on
// it and gives up at a cancel), or a block in memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Fills `out` exactly; false when the bytes ended or broke first, or the
  // wait was given up.
  virtual bool read(std::span<std::uint8_t> out) = 0;
};

class BlockSource final : public ByteSource {
 public:
  explicit BlockSource(std::span<const std::uint8_t> block) : block_(block) {}
  bool read(std::span<std::uint8_t> out) override;

 private:
  std::span<const std::uint8_t> block_;
};

// ---- the engine's messages ----

std::vector<std::uint8_t> encodeRequest(const HelperRequest& request);
// Sizes outside 1..32767 are sent as no target.
std::vector<std::uint8_t> encodeTarget(std::optional<PictureSize> target);

// nullopt for anything but a well-formed request.
std::optional<HelperRequest> readRequest(ByteSource& in);
// The target answered to a header; false when no well-formed answer came.
bool readTarget(ByteSource& in, std::optional<PictureSize>& target);

// ---- the helper's messages ----

std::vector<std::uint8_t> encodeHeader(PictureSize upright);
// Only the statuses a reading gives: unreadable, unknownFormat,
// unsupported, tooLargeForMemory.
std::vector<std::uint8_t> encodeFailure(LoadStatus status);
// The end of a header reading: whether the picture would come back reduced,
// its depth (24 or 32) and the source's EXIF block (a TIFF structure, or
// none), as the in-process header gives them.
std::vector<std::uint8_t> encodeHeaderRead(const HeaderFacts& header);
// A picture's frame, its fixed part, its ICC profile and its EXIF block; its rows follow,
// pictureRowBytes each, from the raster's storage row 0 up.
std::vector<std::uint8_t> encodePictureHead(const DecodedPicture& picture);
std::size_t pictureRowBytes(const Raster& raster);

// The size a picture of `picture` comes back at: `target` when that is a
// reduction (both sides positive, neither longer, not both equal: what a
// reader reduces while it decodes), else the picture's own.
PictureSize returnedSize(PictureSize picture, std::optional<PictureSize> target);

// Called once the header came, with the upright size: sends the target to
// the helper and answers it (none: the picture comes back whole).
using AnswerHeader = std::function<std::optional<PictureSize>(PictureSize upright)>;

struct HelperReply {
  // What the load answers: loaded with the picture, the status the helper
  // sent, or damaged for anything malformed (headerTaken and the source size
  // set once a header came).
  LoadedPicture loaded;
  // The bytes stopped before the last message: the helper died, or the wait
  // was given up. `loaded` then says only what came before.
  bool ended = false;
};

// Reads the helper's side of one conversation, for a request of `upTo`
// under `memoryBudget` (what the picture and its profile may take here).
HelperReply receiveDecode(ByteSource& in, ReadUpTo upTo, std::uint64_t memoryBudget,
                          const AnswerHeader& answer);

}  // namespace pixmoor::image

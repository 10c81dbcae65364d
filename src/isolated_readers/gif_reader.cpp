#include "isolated_readers/gif_reader.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "codecs/decoder.h"
#include "metadata/icc_profile.h"
#include "resample/row_reducer.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;

// What giflib holds beside our buffers while it reads one frame: its file
// and private structures (the LZW prefix, suffix and stack tables), the
// colour maps and one saved image description. Measured with heaptrack on
// the first frame of the corpus files: 26 KiB at the peak (25.1 KiB of
// them its private structure); counted with room to spare.
constexpr std::uint64_t kGiflibBytes = std::uint64_t{64} << 10;

// The most pixels one byte of LZW data can give: 8 / 3 codes of 4096.
constexpr std::uint64_t kMostPixelsPerDataByte = 4096 * 8 / 3;

// The application extension that carries an ICC profile in its sub-blocks.
constexpr std::string_view kIccExtension = "ICCRGBG1012";

struct Source {
  image::PictureInput* input = nullptr;
  std::uint64_t position = 0;
};

int readInput(GifFileType* gif, GifByteType* out, int length) {
  auto* source = static_cast<Source*>(gif->UserData);
  if (length <= 0) return 0;
  const auto bytes = source->input->bytes(source->position, static_cast<std::size_t>(length));
  // No bytes past the end: an empty view may point nowhere.
  if (bytes.empty()) return 0;
  std::memcpy(out, bytes.data(), bytes.size());
  source->position += bytes.size();
  return static_cast<int>(bytes.size());
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

// The first frame and what the extensions before it said of it.
struct FirstFrame {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool interlaced = false;
  int transparentIndex = -1;
  const ColorMapObject* colours = nullptr;  // the local palette, else the global one; null: none
  std::vector<std::uint8_t> iccProfile;
};

// Reads the records up to the first frame's descriptor, keeping the last
// graphic control's transparent index and the first ICC profile. False when
// the data ends, breaks or terminates before a frame.
bool readUpToFirstFrame(GifFileType* gif, FirstFrame& frame) {
  bool profileSeen = false;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE) return false;
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
      const GifImageDesc& image = gif->Image;
      frame.left = image.Left;
      frame.top = image.Top;
      frame.width = image.Width;
      frame.height = image.Height;
      frame.interlaced = image.Interlace;
      frame.colours = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
      return true;
    }
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    bool first = true;
    bool profile = false;
    // Each block starts with its length byte.
    for (; block != nullptr; first = false) {
      const std::size_t length = block[0];
      if (code == GRAPHICS_EXT_FUNC_CODE && first && length >= 4) {
        frame.transparentIndex = (block[1] & 1) != 0 ? block[4] : -1;
      } else if (code == APPLICATION_EXT_FUNC_CODE && first) {
        profile = !profileSeen && length == kIccExtension.size() &&
                  std::memcmp(block + 1, kIccExtension.data(), length) == 0;
        profileSeen = profileSeen || profile;
      } else if (profile) {
        if (frame.iccProfile.size() + length > image::kMaxIccProfileBytes) {
          frame.iccProfile.clear();
          profile = false;
        } else {
          frame.iccProfile.insert(frame.iccProfile.end(), block + 1, block + 1 + length);
        }
      }
      if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
  }
}

// Blue, green, red, alpha for every index a line may hold.
using Palette = std::array<std::array<std::uint8_t, 4>, 256>;

Palette paletteOf(const FirstFrame& frame) {
  Palette palette{};
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    palette[i] = frame.colours == nullptr ? std::array<std::uint8_t, 4>{level, level, level, 255}
                                          : std::array<std::uint8_t, 4>{0, 0, 0, 255};
  }
  if (frame.colours != nullptr) {
    const int count = std::clamp(frame.colours->ColorCount, 0, 256);
    for (int i = 0; i < count; ++i) {
      const GifColorType& c = frame.colours->Colors[i];
      palette[i] = {c.Blue, c.Green, c.Red, 255};
    }
  }
  if (frame.transparentIndex >= 0) palette[frame.transparentIndex][3] = 0;
  return palette;
}

// The part of the screen the frame covers: columns [x0, x1), rows [y0, y1).
struct Covered {
  int x0 = 0, x1 = 0, y0 = 0, y1 = 0;

  int width() const { return x1 - x0; }
  int height() const { return y1 - y0; }
  bool empty() const { return x1 <= x0 || y1 <= y0; }
};

Covered coveredBy(const FirstFrame& frame, int screenWidth, int screenHeight) {
  Covered c;
  c.x0 = std::min(frame.left, screenWidth);
  c.x1 = std::min(frame.left + frame.width, screenWidth);
  c.y0 = std::min(frame.top, screenHeight);
  c.y1 = std::min(frame.top + frame.height, screenHeight);
  return c;
}

// Writes the covered part of a frame line as pixels of `bytes` bytes each.
template <int bytes>
void paint(const Palette& palette, const std::uint8_t* indices, int count, std::uint8_t* out) {
  for (int i = 0; i < count; ++i, out += bytes) std::memcpy(out, palette[indices[i]].data(), bytes);
}

// The frame's rows in the order the file stores them: top to bottom, or
// the four passes of an interlaced frame.
template <typename Visit>
bool forEachStoredRow(const FirstFrame& frame, const Visit& visit) {
  if (!frame.interlaced) {
    for (int row = 0; row < frame.height; ++row) {
      if (!visit(row)) return false;
    }
    return true;
  }
  constexpr std::array<std::pair<int, int>, 4> kPasses = {{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};
  for (const auto& [start, step] : kPasses) {
    for (int row = start; row < frame.height; row += step) {
      if (!visit(row)) return false;
    }
  }
  return true;
}

// How the line reading ended: `nothing` when the data broke before its
// first line, or the frame covers no part of the screen.
enum class LinesEnd { complete, broken, nothing, cancelled };

// Reads the frame's lines, handing each covered one to `take(y, indices)`
// (its screen row and the indices of its covered columns). Stops once every
// covered row has come, at a cancel, or where the data breaks.
template <typename Take>
LinesEnd readLines(GifFileType* gif, const FirstFrame& frame, const Covered& covered,
                   const image::CancelFlag* cancel, const Take& take) {
  if (covered.empty()) return LinesEnd::nothing;
  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.width));
  int rowsLeft = covered.height();
  bool anyLine = false;
  LinesEnd end = LinesEnd::complete;
  forEachStoredRow(frame, [&](int row) {
    if (image::cancelled(cancel)) {
      end = LinesEnd::cancelled;
      return false;
    }
    if (DGifGetLine(gif, line.data(), frame.width) == GIF_ERROR) {
      end = anyLine ? LinesEnd::broken : LinesEnd::nothing;
      return false;
    }
    anyLine = true;
    const int y = frame.top + row;
    if (y >= covered.y0 && y < covered.y1) {
      take(y, line.data() + (covered.x0 - frame.left));
      --rowsLeft;
    }
    return rowsLeft > 0;
  });
  return end;
}

// An opaque frame reduced while its rows arrive: in order for a frame
// stored top to bottom, else from its indices once every pass came.
LinesEnd reduceLines(GifFileType* gif, const FirstFrame& frame, const Covered& covered,
                     const Palette& palette, image::RowReducer& reducer, const image::CancelFlag* cancel) {
  const auto width = static_cast<std::size_t>(covered.width());
  if (!frame.interlaced) {
    return readLines(gif, frame, covered, cancel, [&](int, const std::uint8_t* indices) {
      paint<3>(palette, indices, covered.width(), reducer.nextRow());
      reducer.rowDone();
    });
  }
  std::vector<std::uint8_t> indices(width * static_cast<std::size_t>(covered.height()));
  std::vector<bool> arrived(static_cast<std::size_t>(covered.height()));
  const LinesEnd end = readLines(gif, frame, covered, cancel, [&](int y, const std::uint8_t* line) {
    const auto row = static_cast<std::size_t>(y - covered.y0);
    std::memcpy(indices.data() + row * width, line, width);
    arrived[row] = true;
  });
  if (end == LinesEnd::cancelled) return end;
  // Rows that never came are black, as in a raster that was never painted.
  for (std::size_t row = 0; row < arrived.size(); ++row) {
    std::uint8_t* out = reducer.nextRow();
    if (arrived[row]) {
      paint<3>(palette, indices.data() + row * width, covered.width(), out);
    } else {
      std::memset(out, 0, width * 3);
    }
    reducer.rowDone();
  }
  return end;
}

LinesEnd paintLines(GifFileType* gif, const FirstFrame& frame, const Covered& covered, const Palette& palette,
                    image::Raster& raster, const image::CancelFlag* cancel) {
  const int bytes = raster.bytesPerPixel();
  return readLines(gif, frame, covered, cancel, [&](int y, const std::uint8_t* indices) {
    std::uint8_t* out = raster.pictureRow(y) + static_cast<std::size_t>(covered.x0) * bytes;
    if (bytes == 4) {
      paint<4>(palette, indices, covered.width(), out);
    } else {
      paint<3>(palette, indices, covered.width(), out);
    }
  });
}

// The picture of an opaque frame that covers the screen, reduced to
// `target` while its lines arrive; null when memory cannot be had or the
// read was cancelled.
std::unique_ptr<image::Raster> reducedFrame(GifFileType* gif, const FirstFrame& frame, const Covered& covered,
                                            const Palette& palette, image::PictureSize target,
                                            const image::CancelFlag* cancel, LinesEnd& end) {
  auto reducer = image::RowReducer::make(covered.width(), covered.height(), 1, target.width, target.height);
  if (reducer == nullptr) return nullptr;
  end = reduceLines(gif, frame, covered, palette, *reducer, cancel);
  return end == LinesEnd::cancelled ? nullptr : reducer->finish();
}

// The whole screen with the frame painted on it; null when memory cannot
// be had.
std::unique_ptr<image::Raster> paintedFrame(GifFileType* gif, const FirstFrame& frame, const Covered& covered,
                                            const Palette& palette, image::PictureSize screen, int depth,
                                            const image::CancelFlag* cancel, LinesEnd& end) {
  auto raster = image::makeRaster(screen.width, screen.height, depth);
  if (raster == nullptr) return nullptr;
  end = paintLines(gif, frame, covered, palette, *raster, cancel);
  return raster;
}

}  // namespace

image::Reading readGif(image::PictureInput& input, const image::DecodeLimits& limits,
                       const image::ReduceTo* reduce, image::ReadUpTo upTo) {
  image::Reading reading;
  const auto refuse = [&reading](DecodeFailure why) {
    reading.failure = why;
    return std::move(reading);
  };
  Source source{&input};
  int error = 0;
  GifHandle gif(DGifOpen(&source, readInput, &error));
  if (gif == nullptr) {
    return refuse(error == D_GIF_ERR_NOT_ENOUGH_MEM ? DecodeFailure::overBudget
                                                    : DecodeFailure::unrecognised);
  }
  const int width = gif->SWidth;
  const int height = gif->SHeight;
  if (width <= 0 || height <= 0) return refuse(DecodeFailure::unrecognised);
  if (width > image::kMaxSide || height > image::kMaxSide) return refuse(DecodeFailure::tooLarge);
  FirstFrame frame;
  if (!readUpToFirstFrame(gif.get(), frame)) return refuse(DecodeFailure::unrecognised);
  if (!image::usableIccProfile(frame.iccProfile)) frame.iccProfile.clear();

  const Covered covered = coveredBy(frame, width, height);
  const auto screenPixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  const auto coveredPixels = covered.empty() ? std::uint64_t{0}
                                             : static_cast<std::uint64_t>(covered.width()) *
                                                   static_cast<std::uint64_t>(covered.height());
  // Nor may a frame claim more pixels than its LZW data could ever give:
  // every code, of at least 3 bits, yields at most 4096 of them.
  const std::uint64_t dataLeft = input.size() - std::min(input.size(), source.position);
  if (image::paintsTooLittleOf(screenPixels, coveredPixels) ||
      (screenPixels > image::kFreePixels && coveredPixels > kMostPixelsPerDataByte * dataLeft))
    return refuse(DecodeFailure::unrecognised);
  const bool alpha = frame.transparentIndex >= 0 || covered.x0 != 0 || covered.y0 != 0 ||
                     covered.x1 != width || covered.y1 != height;
  const int depth = alpha ? 32 : 24;
  // (A size rather than the optional: GCC 12 takes the optional's value
  // for uninitialised once it is passed down.)
  const auto asked = !alpha ? image::reductionFor(reduce, width, height) : std::nullopt;
  const bool reducing = asked.has_value();
  const image::PictureSize target = asked.value_or(image::PictureSize{});
  // What the decode holds: the raster or the reducer, a frame line, the
  // indices of an interlaced frame being reduced, giflib, the input's window.
  std::uint64_t needed = kGiflibBytes + static_cast<std::uint64_t>(frame.width) + input.heldBytes();
  if (reducing) {
    needed += image::RowReducer::bytesNeeded(width, height, 1, target.width, target.height);
    if (frame.interlaced)
      needed += std::uint64_t{static_cast<unsigned>(width)} * static_cast<unsigned>(height);
  } else {
    needed += image::rasterBytes(width, height, depth);
  }
  if (needed > limits.memoryBudget) return refuse(DecodeFailure::overBudget);
  reading.header = image::HeaderFacts{{width, height}, false, false, 24, {}};
  if (upTo == image::ReadUpTo::header) return reading;

  image::DecodedPicture picture;
  picture.source = {width, height};
  picture.sourceDepth = alpha ? 32 : frame.colours != nullptr ? frame.colours->BitsPerPixel : 8;
  const Palette palette = paletteOf(frame);
  LinesEnd end = LinesEnd::complete;
  picture.raster =
      reducing ? reducedFrame(gif.get(), frame, covered, palette, target, limits.cancel, end)
               : paintedFrame(gif.get(), frame, covered, palette, picture.source, depth, limits.cancel, end);
  picture.iccProfile = std::move(frame.iccProfile);
  if (end == LinesEnd::cancelled || image::cancelled(limits.cancel)) return refuse(DecodeFailure::cancelled);
  if (picture.raster == nullptr) return refuse(DecodeFailure::overBudget);
  picture.partial = end == LinesEnd::broken || end == LinesEnd::nothing;
  picture.nothingDecoded = end == LinesEnd::nothing;
  reading.picture = std::move(picture);
  return reading;
}

}  // namespace pixmoor::foreign

#include "encoders/encoder_registry.h"

#include <mutex>
#include <vector>

#include "encoders/alpha_flatten.h"

namespace pixmoor::image {
namespace {

struct Registry {
  std::mutex lock;
  std::vector<Encoder> entries;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

SaveStatus saveStatusOf(files::ReplaceStatus status) {
  switch (status) {
    case files::ReplaceStatus::badPath:
      return SaveStatus::badRequest;
    case files::ReplaceStatus::wouldReplaceAnother:
      return SaveStatus::wouldReplaceAnother;
    case files::ReplaceStatus::refused:
      return SaveStatus::refused;
    case files::ReplaceStatus::notAFile:
      return SaveStatus::notAFile;
    case files::ReplaceStatus::nameTooLong:
      return SaveStatus::nameTooLong;
    case files::ReplaceStatus::cannotCreate:
      return SaveStatus::cannotCreate;
    case files::ReplaceStatus::writeProtected:
      return SaveStatus::writeProtected;
    case files::ReplaceStatus::folderNotWritable:
      return SaveStatus::folderNotWritable;
    case files::ReplaceStatus::diskFull:
      return SaveStatus::diskFull;
    case files::ReplaceStatus::tooManyOpenFiles:
      return SaveStatus::tooManyOpenFiles;
    case files::ReplaceStatus::setAsideNotReplaced:
      return SaveStatus::setAsideNotReplaced;
    case files::ReplaceStatus::nameTaken:
      return SaveStatus::nameTaken;
    case files::ReplaceStatus::replaced:
    case files::ReplaceStatus::writeFailed:
      break;
  }
  return SaveStatus::writeFailed;
}

namespace {

RowSource rowsOf(const Raster& raster, std::span<const std::uint8_t> iccProfile,
                 std::span<const std::uint8_t> exif) {
  RowSource rows;
  rows.pixels = raster.data();
  rows.width = raster.width;
  rows.height = raster.height;
  rows.stride = raster.stride;
  rows.bytesPerPixel = raster.depth / 8;
  rows.bottomUp = true;  // every raster of the store is stored bottom-up
  rows.iccProfile = iccProfile;
  rows.exif = exif;
  return rows;
}

// Checks the request, picks the writer (a 32-bit raster without one of its
// own is flattened onto white first) and hands both to `write`, which makes
// the output. saveRaster and encodeRaster share it, so that they give the
// same bytes.
template <typename Write>
SaveStatus encodeWith(const Raster& raster, int sourceDepth, std::uint32_t encoder, int depth,
                      const Write& write) {
  if (raster.data() == nullptr || raster.width <= 0 || raster.height <= 0) return SaveStatus::badRequest;
  if (raster.depth != 24 && raster.depth != 32) return SaveStatus::badRequest;
  if (raster.stride < raster.width * (raster.depth / 8)) return SaveStatus::badRequest;
  if (depth == -1) depth = sourceDepth;

  const auto found = findEncoder(encoder);
  if (!found) return SaveStatus::noEncoder;

  if (raster.depth == 32) {
    if (found->write32 != nullptr) return write(found->write32, raster, depth);
    const auto flat = flattenToWhite(raster);
    if (!flat) return SaveStatus::outOfMemory;  // the raster is one flattenToWhite takes
    return write(found->write24, *flat, depth);
  }
  return write(found->write24, raster, depth);
}

}  // namespace

void addEncoder(const Encoder& encoder) {
  if (encoder.write24 == nullptr) return;
  auto& r = registry();
  std::lock_guard guard(r.lock);
  r.entries.push_back(encoder);
}

std::optional<Encoder> findEncoder(std::uint32_t id) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  for (const auto& e : r.entries) {
    if (e.id == id) return e;
  }
  return std::nullopt;
}

std::size_t encoderCount() {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  return r.entries.size();
}

SaveStatus saveRaster(const Raster& raster, int sourceDepth, const std::string& path, std::uint32_t encoder,
                      int quality, int depth, const CancelFlag* cancel,
                      std::span<const std::uint8_t> iccProfile, const files::ReplaceRule& rule,
                      std::span<const std::uint8_t> exif) {
  if (path.empty()) return SaveStatus::badRequest;
  return encodeWith(
      raster, sourceDepth, encoder, depth, [&](EncoderEntry entry, const Raster& pixels, int bits) {
        files::ReplaceStatus opened = files::ReplaceStatus::writeFailed;
        auto out = TempOutput::create(path, &opened, rule);
        if (!out) return saveStatusOf(opened);
        const SaveStatus status = entry(*out, rowsOf(pixels, iccProfile, exif), quality, bits, cancel);
        // A writer knows only that its output failed; the file knows why.
        // `out` removes its file.
        if (status != SaveStatus::saved) return out->failed() ? saveStatusOf(out->status()) : status;
        if (cancelled(cancel)) return SaveStatus::cancelled;
        return out->commit() ? SaveStatus::saved : saveStatusOf(out->status());
      });
}

SaveStatus saveEncoded(std::span<const std::uint8_t> bytes, const std::string& path, const CancelFlag* cancel,
                       const files::ReplaceRule& rule) {
  if (path.empty() || bytes.empty()) return SaveStatus::badRequest;
  files::ReplaceStatus opened = files::ReplaceStatus::writeFailed;
  auto out = TempOutput::create(path, &opened, rule);
  if (!out) return saveStatusOf(opened);
  if (cancelled(cancel)) return SaveStatus::cancelled;
  if (!out->write(bytes.data(), bytes.size())) return saveStatusOf(out->status());
  if (cancelled(cancel)) return SaveStatus::cancelled;
  return out->commit() ? SaveStatus::saved : saveStatusOf(out->status());
}

SaveStatus encodeRaster(const Raster& raster, int sourceDepth, std::uint32_t encoder, int quality, int depth,
                        std::vector<std::uint8_t>& bytes, const CancelFlag* cancel,
                        std::span<const std::uint8_t> iccProfile, std::span<const std::uint8_t> exif) {
  bytes.clear();
  return encodeWith(
      raster, sourceDepth, encoder, depth, [&](EncoderEntry entry, const Raster& pixels, int bits) {
        MemoryOutput out;
        const SaveStatus status = entry(out, rowsOf(pixels, iccProfile, exif), quality, bits, cancel);
        // A memory output fails only for want of memory.
        if (out.failed()) return SaveStatus::outOfMemory;
        if (status != SaveStatus::saved) return status;
        if (cancelled(cancel)) return SaveStatus::cancelled;
        bytes.swap(out.bytes());
        return SaveStatus::saved;
      });
}

}  // namespace pixmoor::image

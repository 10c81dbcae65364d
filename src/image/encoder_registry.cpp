#include "image/encoder_registry.h"

#include <mutex>
#include <vector>

#include "image/alpha_flatten.h"

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

SaveStatus failedReplacement(files::ReplaceStatus status) {
  switch (status) {
    case files::ReplaceStatus::badPath:
      return SaveStatus::BadRequest;
    case files::ReplaceStatus::wouldReplaceAnother:
      return SaveStatus::WouldReplaceAnother;
    case files::ReplaceStatus::refused:
    case files::ReplaceStatus::cannotCreate:
      return SaveStatus::CannotCreate;
    case files::ReplaceStatus::replaced:
    case files::ReplaceStatus::writeFailed:
      break;
  }
  return SaveStatus::WriteFailed;
}

SaveStatus writeThrough(EncoderEntry entry, const Raster& raster, const std::string& path, int quality,
                        int depth, const CancelFlag* cancel, std::span<const std::uint8_t> iccProfile,
                        const files::ReplaceRule& rule) {
  files::ReplaceStatus opened = files::ReplaceStatus::writeFailed;
  auto out = TempOutput::create(path, &opened, rule);
  if (!out) return failedReplacement(opened);
  RowSource rows;
  rows.pixels = raster.data();
  rows.width = raster.width;
  rows.height = raster.height;
  rows.stride = raster.stride;
  rows.bytesPerPixel = raster.depth / 8;
  rows.bottomUp = true;  // every raster of the store is stored bottom-up
  rows.iccProfile = iccProfile;

  const SaveStatus status = entry(*out, rows, quality, depth, cancel);
  if (status != SaveStatus::Saved) return status;  // `out` removes its file
  if (cancelled(cancel)) return SaveStatus::Cancelled;
  return out->commit() ? SaveStatus::Saved : failedReplacement(out->status());
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
                      std::span<const std::uint8_t> iccProfile, const files::ReplaceRule& rule) {
  if (path.empty()) return SaveStatus::BadRequest;
  if (raster.data() == nullptr || raster.width <= 0 || raster.height <= 0) return SaveStatus::BadRequest;
  if (raster.depth != 24 && raster.depth != 32) return SaveStatus::BadRequest;
  if (raster.stride < raster.width * (raster.depth / 8)) return SaveStatus::BadRequest;
  if (depth == -1) depth = sourceDepth;

  const auto found = findEncoder(encoder);
  if (!found) return SaveStatus::NoEncoder;

  if (raster.depth == 32) {
    if (found->write32 != nullptr)
      return writeThrough(found->write32, raster, path, quality, depth, cancel, iccProfile, rule);
    const auto flat = flattenToWhite(raster);
    if (!flat) return SaveStatus::BadRequest;  // no memory for the flattened copy
    return writeThrough(found->write24, *flat, path, quality, depth, cancel, iccProfile, rule);
  }
  return writeThrough(found->write24, raster, path, quality, depth, cancel, iccProfile, rule);
}

}  // namespace pixmoor::image

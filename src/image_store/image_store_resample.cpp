// Resampling and saving an Image of the store: the store's part is choosing
// the kernel or writer and keeping the record right; the work is elsewhere.
#include "image_store/image_store.h"

namespace pixmoor::image {

std::uintptr_t ImageStore::resample(ImageId number, int width, int height, ResampleMode mode,
                                    const CancelFlag* cancel) {
  ImageRecord* record = find(number);
  if (record == nullptr || record->isIcon) return 0;
  if (width == record->width && height == record->height)
    return reinterpret_cast<std::uintptr_t>(record->raster.get());

  std::unique_ptr<Raster> old = std::move(record->raster);
  std::unique_ptr<Raster> result;
  if (mode == ResampleMode::smooth) {
    result = resampledCopy(*old, width, height, cancel);
  } else {
    // makeRaster refuses sides that are not positive or above 32767 before
    // asking for any memory.
    result = makeRaster(width, height, old->depth);
    if (result != nullptr && !stretchRaw(*old, *result)) result.reset();
  }
  // Width and height take the requested size even after a failure; the
  // number then holds no Image.
  record->width = width;
  record->height = height;
  record->raster = std::move(result);
  return reinterpret_cast<std::uintptr_t>(record->raster.get());
}

SaveStatus ImageStore::save(ImageId number, const std::string& path, std::uint32_t encoder, int quality,
                            int depth, const CancelFlag* cancel) {
  if (path.empty()) return SaveStatus::badRequest;
  const ImageRecord* record = find(number);
  if (record == nullptr || record->isIcon || record->raster->data() == nullptr) return SaveStatus::badRequest;
  return saveRaster(*record->raster, record->sourceDepth, path, encoder, quality, depth, cancel,
                    record->iccProfile);
}

}  // namespace pixmoor::image

// Loading pictures into the store: loadPicture with the window's readers,
// the result taken into the slot.
#include "image_store/image_store.h"

namespace pixmoor::image {

LoadResult ImageStore::load(ImageId number, const std::string& path, const DecodeLimits& limits) {
  PictureFile file(path, FormatSet::window);
  // A file that cannot be read leaves the number as it was.
  if (file.status() == LoadStatus::unreadable) return {0, LoadStatus::unreadable};
  if (file.status() != LoadStatus::loaded) {
    release(number);
    return {0, file.status()};
  }
  if (number < kNewImage || number >= kSlotNumberLimit) return {0, LoadStatus::unsupported};
  // The old Image goes first, so that it and the new one never both take memory.
  release(number);
  return installLoaded(number, loadPicture(file, {limits, nullptr, FormatSet::window}));
}

LoadResult ImageStore::loadData(ImageId number, std::span<const std::uint8_t> data,
                                const DecodeLimits& limits) {
  if (number < kNewImage || number >= kSlotNumberLimit) return {0, LoadStatus::unsupported};
  release(number);
  return installLoaded(number, loadPicture(data, {limits, nullptr, FormatSet::window}));
}

LoadResult ImageStore::installLoaded(ImageId number, LoadedPicture loaded) {
  if (!loaded.loaded()) return {0, loaded.status};
  const std::uintptr_t answer = install(number, std::move(loaded.picture));
  return {answer, answer != 0 ? LoadStatus::loaded : LoadStatus::tooLargeForMemory};
}

}  // namespace pixmoor::image

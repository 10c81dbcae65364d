// The store's slots, dynamic records, creation, release and queries.
#include "image_store/image_store.h"

#include <new>

namespace pixmoor::image {

namespace {
constexpr std::size_t kInitialSlots = 16;
constexpr std::size_t kSlotHeadroom = 16;
}  // namespace

ImageStore::ImageStore() {
  slots_.resize(kInitialSlots);
}

ImageStore::~ImageStore() {
  releaseAll();
}

const ImageRecord* ImageStore::find(ImageId number) const {
  const ImageRecord* found = nullptr;
  if (number >= 0 && static_cast<std::size_t>(number) < slots_.size()) {
    found = slots_[static_cast<std::size_t>(number)].get();
  } else {
    // Any other value may be a dynamic identifier: the address of a record of
    // the list. It is compared, never dereferenced, until it is found there.
    for (const ImageRecord& candidate : dynamic_) {
      if (reinterpret_cast<ImageId>(&candidate) == number) {
        found = &candidate;
        break;
      }
    }
  }
  return found != nullptr && found->raster != nullptr ? found : nullptr;
}

ImageRecord* ImageStore::find(ImageId number) {
  return const_cast<ImageRecord*>(static_cast<const ImageStore*>(this)->find(number));
}

ImageRecord* ImageStore::takeSlot(ImageId number) {
  if (number == kNewImage) {
    try {
      return &dynamic_.emplace_back();
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  if (number < 0 || number >= kSlotNumberLimit) return nullptr;
  const auto index = static_cast<std::size_t>(number);
  if (index >= slots_.size()) {
    try {
      slots_.resize(index + kSlotHeadroom);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  auto& slot = slots_[index];
  if (slot != nullptr) {
    *slot = ImageRecord{};  // releases the Image it held
    return slot.get();
  }
  slot.reset(new (std::nothrow) ImageRecord{});
  return slot.get();
}

void ImageStore::dropRecord(ImageId number, ImageRecord* record) {
  if (record == nullptr) return;
  if (number == kNewImage) {
    for (auto it = dynamic_.begin(); it != dynamic_.end(); ++it) {
      if (&*it == record) {
        dynamic_.erase(it);
        return;
      }
    }
    return;
  }
  *record = ImageRecord{};
}

std::uintptr_t ImageStore::answerFor(ImageId number, const ImageRecord& record) const {
  if (number == kNewImage) return reinterpret_cast<std::uintptr_t>(&record);
  return reinterpret_cast<std::uintptr_t>(record.raster.get());
}

std::uintptr_t ImageStore::install(ImageId number, DecodedPicture picture) {
  if (picture.raster == nullptr) return 0;
  ImageRecord* record = takeSlot(number);
  if (record == nullptr) return 0;
  const Raster& raster = *picture.raster;
  record->width = raster.width;
  record->height = raster.height;
  record->sourceWidth = picture.source.width > 0 ? picture.source.width : raster.width;
  record->sourceHeight = picture.source.height > 0 ? picture.source.height : raster.height;
  record->depth = raster.depth;
  record->isIcon = picture.isIcon;
  record->sourceDepth = picture.isIcon ? raster.depth : picture.sourceDepth;
  record->iccProfile = std::move(picture.iccProfile);
  record->raster = std::move(picture.raster);
  return answerFor(number, *record);
}

std::uintptr_t ImageStore::create(ImageId number, int width, int height, int depth) {
  const bool transparent = (depth & kTransparentFlag) != 0;
  depth &= ~kTransparentFlag;
  ImageRecord* record = takeSlot(number);
  if (record == nullptr) return 0;
  auto raster = makeRaster(width, height, depth);
  if (raster == nullptr) {
    dropRecord(number, record);
    return 0;
  }
  if (raster->depth == 32 && !transparent) {
    // Opaque black: colour 0, alpha 255. A 24-bit raster is black already.
    for (int y = 0; y < raster->height; ++y) {
      std::uint8_t* row = raster->storageRow(y);
      for (int x = 0; x < raster->width; ++x) row[4 * x + 3] = 255;
    }
  }
  record->width = raster->width;
  record->height = raster->height;
  record->depth = raster->depth;
  record->sourceDepth = raster->depth;
  record->isIcon = false;
  record->raster = std::move(raster);
  return answerFor(number, *record);
}

void ImageStore::release(ImageId number) {
  if (number == kNewImage) return;
  if (number >= 0 && static_cast<std::size_t>(number) < slots_.size()) {
    if (auto& slot = slots_[static_cast<std::size_t>(number)]; slot != nullptr) *slot = ImageRecord{};
    return;
  }
  for (auto it = dynamic_.begin(); it != dynamic_.end(); ++it) {
    if (reinterpret_cast<ImageId>(&*it) == number) {
      dynamic_.erase(it);
      return;
    }
  }
}

void ImageStore::releaseAll() {
  for (auto& slot : slots_) {
    if (slot != nullptr) *slot = ImageRecord{};
  }
  dynamic_.clear();
}

int ImageStore::imageWidth(ImageId number) const {
  const ImageRecord* record = find(number);
  return record != nullptr ? record->width : 0;
}

int ImageStore::imageHeight(ImageId number) const {
  const ImageRecord* record = find(number);
  return record != nullptr ? record->height : 0;
}

std::uintptr_t ImageStore::nativeHandle(ImageId number) const {
  const ImageRecord* record = find(number);
  return record != nullptr ? reinterpret_cast<std::uintptr_t>(record->raster.get()) : 0;
}

const ImageRecord* ImageStore::record(ImageId number) const {
  return find(number);
}

Raster* ImageStore::raster(ImageId number) {
  ImageRecord* record = find(number);
  return record != nullptr ? record->raster.get() : nullptr;
}

int hasAlpha(const Raster* raster) {
  return raster != nullptr && raster->data() != nullptr && raster->depth == 32 ? 1 : 0;
}

}  // namespace pixmoor::image

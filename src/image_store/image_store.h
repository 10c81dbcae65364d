// The image store: every picture the program holds, addressed by number.
//
// Numbers 0 and above are slots (16 at first, growing to number + 16 when a
// higher number is used); -1 asks for a new dynamic Image whose identifier
// the store chooses and which never lies in the slot range. An identifier the
// store never issued answers "no Image" and is never dereferenced.
//
// The store has no lock: it belongs to one thread at a time (start-up loads
// its pictures before any worker exists; the game uses dynamic Images on the
// interface thread).
// Failures are answered with 0 (or a status value), never with exceptions.
//
// The batch and the plan load pictures as values instead (loadPicture).
//
// Implemented in image_store.cpp (slots, create, save, release),
// image_store_load.cpp (loading files and memory), image_store_resample.cpp
// (resample) and image_store_premultiply.cpp (display copies with alpha).
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "codecs/load_picture.h"
#include "encoders/encode.h"
#include "image/decoded_picture.h"
#include "image/memory_budget.h"
#include "image/raster.h"
#include "resample/resample.h"

namespace pixmoor::image {

using ImageId = std::intptr_t;
inline constexpr ImageId kNewImage = -1;

// Fixed numbers: the working picture (the number a picture of a batch has
// in the program's design; the batch itself holds its pictures as values)
// and the logo.
inline constexpr ImageId kWorkingPicture = 55;
inline constexpr ImageId kLogo = 57;

// Bit of create's depth argument: start fully transparent.
inline constexpr int kTransparentFlag = 0x100;

// What a load answers: the handle (as loadFromFile answers it: the dynamic
// identifier for -1, else the raster's handle; 0 on failure) and why.
struct LoadResult {
  std::uintptr_t handle = 0;
  LoadStatus status = LoadStatus::unreadable;
};

struct ImageRecord {
  std::unique_ptr<Raster> raster;  // the handle; null means no Image
  int width = 0;                   // kept in signed 16 bits
  int height = 0;
  int sourceWidth = 0;  // the picture's size as its file has it: width and height until resampled
  int sourceHeight = 0;
  int depth = 0;                         // 24 or 32
  int sourceDepth = 0;                   // bits per pixel as the source stored it
  bool isIcon = false;                   // built from an icon container: shown, never resampled or saved
  std::vector<std::uint8_t> iccProfile;  // the source's colour profile, carried into saved files
};

class ImageStore {
 public:
  ImageStore();
  ~ImageStore();
  ImageStore(const ImageStore&) = delete;
  ImageStore& operator=(const ImageStore&) = delete;

  // Each creating operation answers the dynamic identifier for -1, else the
  // raster's handle (nativeHandle); 0 on failure.
  std::uintptr_t create(ImageId number, int width, int height, int depth);
  // A file that cannot be read leaves the number as it was; data that cannot
  // be decoded leaves it without Image. Loads go through loadPicture with
  // the window's readers (codecs/load_picture.h): only regular files are read, and
  // only once their first bytes look like a picture; the file's bytes count
  // against the memory budget of `limits` together with the decode.
  LoadResult load(ImageId number, const std::string& path,
                  const DecodeLimits& limits = machineDecodeLimits());
  LoadResult loadData(ImageId number, std::span<const std::uint8_t> data,
                      const DecodeLimits& limits = machineDecodeLimits());
  // The same, answering the handle alone.
  std::uintptr_t loadFromFile(ImageId number, const std::string& path,
                              const DecodeLimits& limits = machineDecodeLimits()) {
    return load(number, path, limits).handle;
  }
  std::uintptr_t loadFromMemory(ImageId number, std::span<const std::uint8_t> data,
                                const DecodeLimits& limits = machineDecodeLimits()) {
    return loadData(number, data, limits).handle;
  }
  // Same size: answers the handle untouched. Otherwise the new raster replaces
  // the old; on failure the number is left without Image and the requested
  // size is recorded. Icons and missing Images answer 0 and stay as they are.
  std::uintptr_t resample(ImageId number, int width, int height, ResampleMode mode,
                          const CancelFlag* cancel = nullptr);

  // depth -1 means the Image's sourceDepth.
  SaveStatus save(ImageId number, const std::string& path, std::uint32_t encoder, int quality, int depth,
                  const CancelFlag* cancel = nullptr);

  void release(ImageId number);
  void releaseAll();

  int imageWidth(ImageId number) const;
  int imageHeight(ImageId number) const;
  std::uintptr_t nativeHandle(ImageId number) const;
  const ImageRecord* record(ImageId number) const;  // null when there is no Image
  Raster* raster(ImageId number);                   // null when there is no Image
  std::size_t capacity() const { return slots_.size(); }

  // Numbers from this one up are refused: the slot array stays a sensible size.
  static constexpr ImageId kSlotNumberLimit = ImageId{1} << 20;

 private:
  ImageRecord* find(ImageId number);
  const ImageRecord* find(ImageId number) const;
  // The record for a new Image under `number`: a fresh dynamic record for -1,
  // else the slot's record (grown into, and emptied of what it held). Null
  // for a number no slot can have, or when memory cannot be had.
  ImageRecord* takeSlot(ImageId number);
  // Gives back a record that takeSlot handed out when making its Image failed.
  void dropRecord(ImageId number, ImageRecord* record);
  // Takes the slot for a new Image (releasing what it held) and fills it.
  std::uintptr_t install(ImageId number, DecodedPicture picture);
  std::uintptr_t answerFor(ImageId number, const ImageRecord& record) const;
  // Takes the slot for what a load gave (also when it gave nothing).
  LoadResult installLoaded(ImageId number, LoadedPicture loaded);

  std::vector<std::unique_ptr<ImageRecord>> slots_;
  std::list<ImageRecord> dynamic_;  // identifiers are the records' addresses
};

// 1 when the raster carries alpha (it has 32 bits per pixel), else 0.
int hasAlpha(const Raster* raster);

// A 32-bit copy with colours multiplied by alpha for display; `grey` gives
// the dimmed look of a disabled entry. Null when memory cannot be had.
std::unique_ptr<Raster> premultipliedCopy(const Raster& raster, bool grey);

}  // namespace pixmoor::image

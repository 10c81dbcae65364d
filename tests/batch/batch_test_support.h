// Helpers of the batch tests: codecs registered once, pictures written for a
// test, a BatchView that records what it is asked, file checks, and the ways
// a test holds a batch where it wants it (a gate, the pictures told) instead
// of assuming how fast the machine is.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/batch_view.h"
#include "batch/picture_outcome.h"
#include "codecs/format_registry.h"
#include "encoders/encode.h"
#include "image_store/image_store.h"
#include "settings/settings.h"
#include "support/temp_folder.h"

namespace pixmoor::batch {
// Failures read as "path: reason" in test messages.
inline void PrintTo(const PictureFailure& failure, std::ostream* os) {
  *os << failure.sourcePath << ": " << failureReasonText(failure.reason);
}
}  // namespace pixmoor::batch

namespace pixmoor::batch::testing {

inline void registerCodecs() {
  static const bool done = [] {
    image::registerJpegDecoder();
    image::registerPngDecoder();
    image::registerJpegEncoder();
    image::registerPngEncoder();
    image::registerWebpEncoder();
    image::registerAvifEncoder();
    return true;
  }();
  (void)done;
}

// Writes a width x height picture filled with a gradient tinted by `blue`
// (so that two pictures can be told apart after lossy coding).
inline bool writePicture(const std::string& path, int width, int height, std::uint32_t encoder,
                         std::uint8_t blue = 200, std::span<const std::uint8_t> iccProfile = {}) {
  registerCodecs();
  image::ImageStore store;
  if (store.create(1, width, height, 24) == 0) return false;
  image::Raster* raster = store.raster(1);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = raster->pictureRow(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x + 0] = blue;
      row[3 * x + 1] = static_cast<std::uint8_t>((x * 255) / (width > 1 ? width - 1 : 1));
      row[3 * x + 2] = static_cast<std::uint8_t>((y * 255) / (height > 1 ? height - 1 : 1));
    }
  }
  return image::saveRaster(*raster, 24, path, encoder, 9, -1, nullptr, iccProfile) ==
         image::SaveStatus::saved;
}

// The same, with pixels of a seeded noise that no coder compresses: files
// and encoded outputs about as large as the picture itself.
inline bool writeNoisePicture(const std::string& path, int width, int height, std::uint32_t encoder,
                              std::uint32_t seed) {
  registerCodecs();
  image::ImageStore store;
  if (store.create(1, width, height, 24) == 0) return false;
  image::Raster* raster = store.raster(1);
  std::uint32_t state = seed | 1u;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = raster->pictureRow(y);
    for (int x = 0; x < 3 * width; ++x) {
      state ^= state << 13;  // xorshift32
      state ^= state >> 17;
      state ^= state << 5;
      row[x] = static_cast<std::uint8_t>(state >> 24);
    }
  }
  return image::saveRaster(*raster, 24, path, encoder, 9, -1, nullptr) == image::SaveStatus::saved;
}

struct PictureFacts {
  int width = 0;
  int height = 0;
  int meanBlue = 0;  // mean of the blue bytes
};

// What a file decodes to, or nothing when it does not decode.
inline std::optional<PictureFacts> readPicture(const std::string& path) {
  registerCodecs();
  image::ImageStore store;
  if (store.loadFromFile(1, path) == 0) return std::nullopt;
  const image::Raster* raster = store.raster(1);
  PictureFacts facts{raster->width, raster->height, 0};
  std::uint64_t sum = 0;
  const int bytes = raster->bytesPerPixel();
  for (int y = 0; y < raster->height; ++y) {
    const std::uint8_t* row = raster->pictureRow(y);
    for (int x = 0; x < raster->width; ++x) sum += row[bytes * x];
  }
  facts.meanBlue = static_cast<int>(sum / (static_cast<std::uint64_t>(raster->width) * raster->height));
  return facts;
}

inline std::string magicOf(const std::string& path) {
  const std::string bytes = pixmoor::testing::readBytes(path);
  if (bytes.rfind("\xFF\xD8\xFF", 0) == 0) return "jpeg";
  if (bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0) return "png";
  if (bytes.rfind("RIFF", 0) == 0 && bytes.compare(8, 4, "WEBP") == 0) return "webp";
  if (bytes.compare(4, 8, "ftypavif") == 0) return "avif";
  return bytes.empty() ? "empty" : "other";
}

// Relative sizing (landscape pictures to a width, portrait ones to a
// height), the output format named as the settings file names it.
inline settings::Settings relativeSettings(int landscapeWidth, int portraitHeight, const char* format = "JPG",
                                           const char* prefix = "prefix_") {
  settings::Settings s;
  s.mode = settings::SizeMode::relative;
  s.landscapeWidth = landscapeWidth;
  s.portraitHeight = portraitHeight;
  settings::setOutputFormatFromText(s, format);
  s.prefix = prefix;
  return s;
}

inline std::vector<std::string> folderNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// How long a test waits for something that must happen: long enough for any
// machine, loaded or under a sanitizer; reached only when the code is wrong.
inline constexpr std::chrono::seconds kGenerousWait{120};

// Waits until `condition` holds, looking every millisecond, at most `limit`.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = kGenerousWait) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A point where a batch thread waits until the test opens it (a RunOptions
// hook calls pass). Opened, it lets every later pass through.
class Gate {
 public:
  void pass() {
    std::unique_lock lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool waitUntilArrived(std::chrono::milliseconds limit = kGenerousWait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return arrived_; });
  }
  void open() {
    {
      const std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

// The pictures a batch told its observer, in order; tests wait for a count.
class ToldPictures {
 public:
  std::function<void(const PictureReport&)> observer() {
    return [this](const PictureReport& report) {
      {
        const std::lock_guard lock(mutex_);
        told_.push_back(report.index);
      }
      changed_.notify_all();
    };
  }
  bool waitFor(std::size_t count, std::chrono::milliseconds limit = kGenerousWait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return told_.size() >= count; });
  }
  std::vector<std::size_t> indices() const {
    const std::lock_guard lock(mutex_);
    return told_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::size_t> told_;
};

// Records every call; tests wait for a given call to arrive.
class RecordingView : public BatchView {
 public:
  struct Event {
    enum Kind { status, controls, cue } kind;
    std::string text;
    bool running = false;
    int milliseconds = 0;
  };

  void showStatus(const std::string& text) override { add({Event::status, text, false, 0}); }
  void showBatchControls(bool running) override { add({Event::controls, {}, running, 0}); }
  void playCue(int milliseconds) override { add({Event::cue, {}, false, milliseconds}); }

  std::vector<Event> events() const {
    const std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> statuses() const {
    std::vector<std::string> texts;
    for (const Event& event : events()) {
      if (event.kind == Event::status) texts.push_back(event.text);
    }
    return texts;
  }
  std::string lastStatus() const {
    const auto texts = statuses();
    return texts.empty() ? std::string() : texts.back();
  }
  int count(Event::Kind kind) const {
    int n = 0;
    for (const Event& event : events()) n += event.kind == kind ? 1 : 0;
    return n;
  }
  // Waits until `predicate` holds for the events, at most `limit`.
  template <typename Predicate>
  bool waitFor(Predicate predicate, std::chrono::milliseconds limit = kGenerousWait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return predicate(events_); });
  }
  void clear() {
    const std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  void add(Event event) {
    {
      const std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    }
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

}  // namespace pixmoor::batch::testing

#include "decode_helper/decode_session.h"

#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "codecs/decoder.h"
#include "codecs/load_picture.h"
#include "decode_helper/confinement.h"
#include "image/memory_budget.h"
#include "image/thread_budget.h"
#include "resample/resample.h"
#include "sandbox/helper_program.h"
#include "sandbox/helper_protocol.h"

namespace pixmoor::decode_helper {
namespace {

using image::PictureSize;

constexpr int kRequestFd = image::kHelperRequestFd;
constexpr int kReplyFd = image::kHelperReplyFd;
constexpr int kPictureFd = image::kHelperPictureFd;

// The engine's messages, read as they come (a blocking pipe: the engine
// kills this process rather than leave it waiting).
class RequestPipe final : public image::ByteSource {
 public:
  bool read(std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got = ::read(kRequestFd, out.data() + done, out.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
};

bool send(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(kReplyFd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(wrote));
  }
  return true;
}

// The engine that stopped listening or answered out of turn has nothing
// more to say to this process.
[[noreturn]] void abandon() {
  ::_exit(2);
}

// The header goes to the engine the first time a reader asks for its target
// (or once the reader is done, for one that never asks), and the engine's
// answer is the target.
class HeaderExchange {
 public:
  explicit HeaderExchange(image::ByteSource& requests) : requests_(requests) {}

  std::optional<PictureSize> targetFor(PictureSize upright) {
    if (!sent_) {
      sent_ = true;
      if (!send(image::encodeHeader(upright)) || !image::readTarget(requests_, target_)) abandon();
    }
    return target_;
  }

 private:
  image::ByteSource& requests_;
  bool sent_ = false;
  std::optional<PictureSize> target_;
};

bool sendPicture(const image::DecodedPicture& picture) {
  if (!send(image::encodePictureHead(picture))) return false;
  const image::Raster& raster = *picture.raster;
  const std::size_t rowBytes = image::pictureRowBytes(raster);
  for (int y = 0; y < raster.height; ++y) {
    if (!send({raster.storageRow(y), rowBytes})) return false;
  }
  return true;
}

// Reads the picture and answers; the status of the last message.
image::LoadStatus decode(const image::HelperRequest& request, image::FormatReader reader,
                         image::ByteSource& requests) {
  image::FormatDescriptor format;
  format.name = request.format;
  format.read = reader;
  HeaderExchange exchange(requests);
  const image::ReduceTo reduce = [&exchange](int width, int height) {
    return exchange.targetFor({width, height});
  };
  image::LoadRequest load;
  load.limits = {request.memoryBudget, nullptr};
  load.reduce = &reduce;
  image::PictureInput input(kPictureFd, request.fileSize);
  image::LoadedPicture loaded = image::readPicture(format, input, load, request.upTo);
  if (loaded.headerTaken) {
    const std::optional<PictureSize> target = exchange.targetFor(loaded.picture.source);
    if (loaded.loaded() && request.upTo == image::ReadUpTo::picture) {
      // What the batch would do with the whole picture: resample it to a
      // smaller target (a reader that reduced it while decoding left
      // nothing to do).
      image::DecodedPicture& picture = loaded.picture;
      const PictureSize wanted = image::returnedSize(picture.source, target);
      if (wanted.width != picture.raster->width || wanted.height != picture.raster->height) {
        picture.raster = image::resampledCopy(*picture.raster, wanted.width, wanted.height);
        if (picture.raster == nullptr) loaded.status = image::LoadStatus::tooLargeForMemory;
      }
    }
  }
  if (!loaded.loaded()) return loaded.status;
  if (request.upTo == image::ReadUpTo::header) {
    if (!send(image::encodeHeaderRead(loaded.header))) abandon();
  } else if (!sendPicture(loaded.picture)) {
    abandon();
  }
  return image::LoadStatus::loaded;
}

}  // namespace

int runDecodeSession(ReaderOf readerOf) {
  RequestPipe requests;
  std::optional<image::HelperRequest> request = image::readRequest(requests);
  if (!request) return 2;
  const image::FormatReader reader = readerOf(request->format);
  if (reader == nullptr) return send(image::encodeFailure(image::LoadStatus::unsupported)) ? 0 : 2;
  // A load without a budget of its own is still bounded: by the machine's.
  if (request->memoryBudget == image::kNoMemoryBudget) request->memoryBudget = image::machineMemoryBudget();
  // Never a byte of the picture read unconfined: refused, and told why.
  if (!confine({request->memoryBudget, request->cpuSeconds}))
    return send(image::encodeFailure(image::LoadStatus::notConfined)) ? 0 : 2;
  // The resampling stays on this thread: the engine runs pictures side by side.
  image::ThreadBudget oneThread(1);
  const image::ThreadBudgetMember member(oneThread);
  image::LoadStatus status = image::LoadStatus::tooLargeForMemory;
  try {
    status = decode(*request, reader, requests);
  } catch (const std::bad_alloc&) {
    // The address-space limit reached in the middle of a decode.
    status = image::LoadStatus::tooLargeForMemory;
  }
  if (status == image::LoadStatus::loaded) return 0;
  return send(image::encodeFailure(status)) ? 0 : 2;
}

}  // namespace pixmoor::decode_helper

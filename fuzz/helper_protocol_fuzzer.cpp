// Fuzz target: the engine reading what a decode helper sends, which a
// hostile file may have taken over. Arbitrary bytes as the helper's answers
// (and as a request, which the helper reads as strictly) under a budget of
// 64 MiB: malformed data must be `damaged`, never a crash or an allocation
// beyond the budget. The first byte chooses header or picture and whether a
// target is answered.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sandbox/helper_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pixmoor::image;
  if (size == 0) return -1;
  const std::uint8_t choice = data[0];
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  const ReadUpTo upTo = choice & 1 ? ReadUpTo::header : ReadUpTo::picture;
  BlockSource answers(rest);
  const HelperReply reply = receiveDecode(answers, upTo, std::uint64_t{64} << 20, [choice](PictureSize size) {
    return choice & 2 ? std::optional(PictureSize{std::max(1, size.width / 2), size.height}) : std::nullopt;
  });
  if (reply.loaded.loaded() && upTo == ReadUpTo::picture && reply.loaded.picture.raster == nullptr)
    std::abort();
  BlockSource request(rest);
  (void)readRequest(request);
  return 0;
}

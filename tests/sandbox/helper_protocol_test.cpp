// The messages between the engine and its decode helper: what one side
// writes the other reads back, and every malformed answer of a helper that
// a hostile file may have taken over is `damaged`, never a crash or an
// allocation of its choosing.
#include "sandbox/helper_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace pixmoor::image {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes displayP3() {
  std::ifstream in(std::string(PIXMOOR_TEST_DATA) + "/icc/DisplayP3.icc", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The smallest EXIF block: a TIFF header and an empty first directory.
const Bytes kExif = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// A 3x2 picture with alpha whose every byte differs, its profile and EXIF.
DecodedPicture samplePicture(int depth = 32) {
  DecodedPicture picture;
  picture.raster = makeRaster(3, 2, depth);
  for (std::size_t i = 0; i < picture.raster->sizeBytes(); ++i)
    picture.raster->data()[i] = static_cast<std::uint8_t>(i * 7 + 1);
  picture.source = {3, 2};
  picture.sourceDepth = 8;
  picture.partial = true;
  picture.iccProfile = displayP3();
  picture.exif = kExif;
  return picture;
}

Bytes pictureMessage(const DecodedPicture& picture) {
  Bytes bytes = encodePictureHead(picture);
  for (int y = 0; y < picture.raster->height; ++y) {
    const std::uint8_t* row = picture.raster->storageRow(y);
    bytes.insert(bytes.end(), row, row + pictureRowBytes(*picture.raster));
  }
  return bytes;
}

HelperReply receive(const Bytes& bytes, ReadUpTo upTo = ReadUpTo::picture,
                    std::optional<PictureSize> target = std::nullopt,
                    std::uint64_t budget = std::uint64_t{1} << 30) {
  BlockSource source(bytes);
  return receiveDecode(source, upTo, budget, [target](PictureSize) { return target; });
}

TEST(HelperProtocol, RequestAndTargetComeBackAsSent) {
  const HelperRequest sent{"HEIF", 123456789012, 512u << 20, 120, ReadUpTo::header};
  const Bytes request = encodeRequest(sent);
  BlockSource source(request);
  const std::optional<HelperRequest> read = readRequest(source);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->format, "HEIF");
  EXPECT_EQ(read->fileSize, sent.fileSize);
  EXPECT_EQ(read->memoryBudget, sent.memoryBudget);
  EXPECT_EQ(read->cpuSeconds, 120u);
  EXPECT_EQ(read->upTo, ReadUpTo::header);

  for (const std::optional<PictureSize> target :
       {std::optional<PictureSize>{}, std::optional(PictureSize{kMaxSide, 1}),
        std::optional(PictureSize{0, 5})}) {
    const Bytes bytes = encodeTarget(target);
    BlockSource answer(bytes);
    std::optional<PictureSize> got = PictureSize{9, 9};
    ASSERT_TRUE(readTarget(answer, got));
    const bool valid = target && target->width >= 1;
    ASSERT_EQ(got.has_value(), valid);  // a side of 0 travels as no target
    if (valid) {
      EXPECT_EQ(got->width, target->width);
    }
  }
}

TEST(HelperProtocol, MalformedRequestsAndTargetsAreRefused) {
  const Bytes good = encodeRequest({"GIF", 10, 20, 30, ReadUpTo::picture});
  struct Row {
    const char* what;
    std::size_t at;
    std::uint8_t value;
  };
  const Row rows[] = {
      {"another kind", 0, 17}, {"a padding byte", 1, 1},     {"a longer fixed part", 4, 26},
      {"up to 2", 28, 2},      {"a name length off", 29, 4}, {"a control byte in the name", 30, '\n'},
  };
  for (const Row& row : rows) {
    Bytes bad = good;
    bad[row.at] = row.value;
    BlockSource source(bad);
    EXPECT_FALSE(readRequest(source)) << row.what;
  }
  BlockSource cut(std::span<const std::uint8_t>(good).first(good.size() - 1));
  EXPECT_FALSE(readRequest(cut));

  Bytes target = encodeTarget(PictureSize{4, 4});
  target[8] = 2;  // "given" is 0 or 1
  BlockSource source(target);
  std::optional<PictureSize> got;
  EXPECT_FALSE(readTarget(source, got));
}

TEST(HelperProtocol, APictureComesBackWithItsBytesProfileAndFlags) {
  const DecodedPicture sent = samplePicture();
  const HelperReply reply = receive(encodeHeader({3, 2}) + pictureMessage(sent));
  ASSERT_EQ(reply.loaded.status, LoadStatus::loaded);
  EXPECT_FALSE(reply.ended);
  const DecodedPicture& got = reply.loaded.picture;
  ASSERT_EQ(got.raster->depth, 32);
  EXPECT_EQ(0, std::memcmp(got.raster->data(), sent.raster->data(), sent.raster->sizeBytes()));
  EXPECT_EQ(got.source.width, 3);
  EXPECT_EQ(got.sourceDepth, 8);
  EXPECT_TRUE(got.partial);
  EXPECT_FALSE(got.nothingDecoded);
  EXPECT_EQ(got.iccProfile, sent.iccProfile);
  EXPECT_EQ(got.exif, kExif);
  // Not a row from its data: the batch makes no file of it.
  DecodedPicture empty = samplePicture();
  empty.nothingDecoded = true;
  const HelperReply nothing = receive(encodeHeader({3, 2}) + pictureMessage(empty));
  EXPECT_TRUE(nothing.loaded.picture.partial);
  EXPECT_TRUE(nothing.loaded.picture.nothingDecoded);

  // A header alone, and a failure the reader gave after its header.
  const HelperReply header =
      receive(encodeHeader({3, 2}) + encodeHeaderRead({{3, 2}, false, true, 32, kExif}), ReadUpTo::header);
  EXPECT_EQ(header.loaded.status, LoadStatus::loaded);
  EXPECT_EQ(header.loaded.picture.source.height, 2);
  EXPECT_EQ(header.loaded.header.exif, kExif);
  EXPECT_TRUE(header.loaded.header.reduced);
  EXPECT_EQ(header.loaded.header.rasterDepth, 32);
  const HelperReply failure = receive(encodeHeader({3, 2}) + encodeFailure(LoadStatus::tooLargeForMemory));
  EXPECT_EQ(failure.loaded.status, LoadStatus::tooLargeForMemory);
  EXPECT_TRUE(failure.loaded.headerTaken);
}

// Each row: a helper's answer that must read as damaged (`ended` when the
// bytes stopped before the last message).
TEST(HelperProtocol, EveryMalformedAnswerIsDamaged) {
  const DecodedPicture opaque = samplePicture(24);
  const Bytes header = encodeHeader({3, 2});
  const Bytes picture = pictureMessage(opaque);
  const auto with = [](Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
  };
  const std::size_t fixed = 8;  // where a frame's fixed part starts
  struct Row {
    const char* what;
    Bytes answer;
    ReadUpTo upTo = ReadUpTo::picture;
    std::optional<PictureSize> target = std::nullopt;
    std::uint64_t budget = std::uint64_t{1} << 30;
    bool ended = false;
  };
  DecodedPicture bare;
  bare.raster = makeRaster(3, 2, 24);
  bare.sourceDepth = 24;
  const Bytes noProfile = encodePictureHead(bare);
  const Row rows[] = {
      {"nothing", {}, ReadUpTo::picture, {}, 1 << 30, true},
      {"a picture before its header", picture},
      {"two headers", header + header + picture},
      {"a header with a side of 0", with(header, fixed, 0)},
      {"a header beyond 32767", with(with(header, fixed, 0), fixed + 1, 0x80)},
      {"an unknown kind", with(header, 0, 9)},
      {"a padding byte set", with(header, 2, 1)},
      {"a fixed part of another length", with(header, 4, 9)},
      {"an unknown failure code", header + with(encodeFailure(LoadStatus::unsupported), fixed, 0)},
      {"a cancelled status", header + encodeFailure(LoadStatus::cancelled)},
      {"a header read when the picture was asked", header + encodeHeaderRead({})},
      {"a header read of depth 16", header + with(encodeHeaderRead({}), fixed + 5, 16), ReadUpTo::header},
      {"a header read reduced beyond 1", header + with(encodeHeaderRead({}), fixed + 4, 2), ReadUpTo::header},
      {"a picture when the header alone was asked", header + picture, ReadUpTo::header},
      {"a picture of another size than foreseen", header + picture, ReadUpTo::picture, PictureSize{2, 1}},
      {"a depth of 16", header + with(picture, fixed + 8, 16)},
      {"a source depth of 0", header + with(picture, fixed + 9, 0)},
      {"partial beyond 2", header + with(picture, fixed + 10, 3)},
      {"a profile that is no ICC profile", header + with(picture, fixed + 20 + 36, 'x')},
      {"an EXIF block that is no TIFF structure",
       header + with(picture, fixed + 20 + displayP3().size(), 'J')},
      {"an EXIF block beyond 1 MiB", header + with(picture, fixed + 19, 0x01)},
      {"a header read with an EXIF block that is none",
       header + with(encodeHeaderRead({{3, 2}, false, false, 24, kExif}), fixed + 6, 'J'), ReadUpTo::header},
      {"a profile beyond any JPEG's", header + with(picture, fixed + 15, 0x7F)},
      {"a picture beyond the budget", header + picture, ReadUpTo::picture, {}, 64},
      {"rows that stop early",
       header + Bytes(picture.begin(), picture.end() - 1),
       ReadUpTo::picture,
       {},
       1 << 30,
       true},
      {"a picture without its rows", header + noProfile, ReadUpTo::picture, {}, 1 << 30, true},
  };
  for (const Row& row : rows) {
    const HelperReply reply = receive(row.answer, row.upTo, row.target, row.budget);
    EXPECT_EQ(reply.loaded.status, LoadStatus::damaged) << row.what;
    EXPECT_FALSE(reply.loaded.picture.raster) << row.what;
    EXPECT_EQ(reply.ended, row.ended) << row.what;
  }
}

TEST(HelperProtocol, APictureComesBackReducedOnlyToASmallerTarget) {
  struct Row {
    std::optional<PictureSize> target;
    PictureSize returned;
  };
  const Row rows[] = {
      {std::nullopt, {40, 30}},        {PictureSize{20, 15}, {20, 15}}, {PictureSize{40, 30}, {40, 30}},
      {PictureSize{80, 15}, {40, 30}}, {PictureSize{40, 10}, {40, 10}},
  };
  for (const Row& row : rows) {
    const PictureSize got = returnedSize({40, 30}, row.target);
    EXPECT_EQ(got.width, row.returned.width);
    EXPECT_EQ(got.height, row.returned.height);
  }
}

}  // namespace
}  // namespace pixmoor::image

// Reading RIFF/WAVE blocks: good ones, and every way a hostile one can lie.
#include "platform_core/wave_data.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pixmoor::platform {
namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void tag(std::vector<std::uint8_t>& out, const char* t) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(t[i]));
}

// The header fields and sizes of a RIFF/WAVE block that wave() builds.
struct WaveBlockFields {
  std::uint16_t format = 1;
  std::uint16_t channels = 2;
  std::uint32_t rate = 22050;
  std::uint16_t bits = 16;
  std::uint32_t dataBytes = 16;
  std::uint32_t declaredDataBytes = 16;
  bool extraChunk = false;
};

std::vector<std::uint8_t> wave(const WaveBlockFields& fields) {
  std::vector<std::uint8_t> out;
  tag(out, "RIFF");
  put32(out, 0);
  tag(out, "WAVE");
  if (fields.extraChunk) {
    tag(out, "LIST");
    put32(out, 3);
    for (std::uint8_t b : {1, 2, 3, 0}) out.push_back(b);  // odd length, padded
  }
  tag(out, "fmt ");
  put32(out, 16);
  put16(out, fields.format);
  put16(out, fields.channels);
  put32(out, fields.rate);
  put32(out, fields.rate * fields.channels * 2);
  put16(out, static_cast<std::uint16_t>(fields.channels * 2));
  put16(out, fields.bits);
  tag(out, "data");
  put32(out, fields.declaredDataBytes);
  for (std::uint32_t i = 0; i < fields.dataBytes; ++i) out.push_back(static_cast<std::uint8_t>(i));
  const auto riffLength = static_cast<std::uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(riffLength >> (8 * i));
  return out;
}

TEST(WaveData, ReadsFormatAndWholeFrames) {
  WaveBlockFields fields;
  fields.dataBytes = fields.declaredDataBytes = 18;  // four frames and half of one
  fields.extraChunk = true;
  const auto block = wave(fields);
  const auto read = readWave(block);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->channels, 2);
  EXPECT_EQ(read->sampleRate, 22050);
  EXPECT_EQ(read->bitsPerSample, 16);
  EXPECT_EQ(read->frameCount(), 4u);
  EXPECT_EQ(read->samples.size(), 16u);
  EXPECT_EQ(read->samples.data(), block.data() + (block.size() - 18));
}

TEST(WaveData, RefusesWhatItCannotPlay) {
  const std::pair<const char*, WaveBlockFields> rows[] = {
      {"not PCM", {3, 2, 22050, 16, 16, 16, false}},
      {"8 bits", {1, 2, 22050, 8, 16, 16, false}},
      {"six channels", {1, 6, 22050, 16, 16, 16, false}},
      {"no channel", {1, 0, 22050, 16, 16, 16, false}},
      {"absurd rate", {1, 2, 5, 16, 16, 16, false}},
      {"data runs past the block", {1, 2, 22050, 16, 16, 4000, false}},
      {"no whole frame", {1, 2, 22050, 16, 2, 2, false}},
  };
  for (const auto& [name, fields] : rows) EXPECT_FALSE(readWave(wave(fields)).has_value()) << name;
}

TEST(WaveData, EveryTruncationFailsCleanly) {
  const auto block = wave(WaveBlockFields{});
  for (std::size_t length = 0; length < block.size(); ++length) {
    EXPECT_FALSE(readWave(std::span(block.data(), length)).has_value()) << length;
  }
  EXPECT_TRUE(readWave(block).has_value());
}

TEST(WaveData, DataBeforeFormatIsRefused) {
  std::vector<std::uint8_t> out;
  tag(out, "RIFF");
  put32(out, 16);
  tag(out, "WAVE");
  tag(out, "data");
  put32(out, 4);
  put32(out, 0);
  EXPECT_FALSE(readWave(out).has_value());
}

}  // namespace
}  // namespace pixmoor::platform

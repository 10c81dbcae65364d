// The companion's output choices through the pipeline: shrink only, an
// output folder, skip and rename (also against a file that appears while
// the output is written, held there by a write that waits), byte limits.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "batch/output_path.h"
#include "batch/process_picture.h"
#include "batch_test_support.h"
#include "encoders/encode.h"
#include "support/held_write.h"

namespace pixmoor::batch {
namespace {

using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;
using testing::readPicture;
using testing::writeNoisePicture;
using testing::writePicture;

settings::Settings withPrefix(const char* prefix, const char* format = "JPG") {
  return testing::relativeSettings(64, 64, format, prefix);
}

class OutputChoices : public ::testing::Test {
 protected:
  void SetUp() override { testing::registerCodecs(); }
  PictureOutcome run(const std::string& source, const settings::Settings& s, const OutputChoice& choice) {
    return processPicture(source, s, nullptr, nullptr, std::nullopt, image::FormatSet::companion, {}, choice);
  }
  std::string path(const std::string& name) const { return folder_.file(name); }

  TempFolder folder_;
};

TEST_F(OutputChoices, ShrinkOnlyLeavesASmallSourceUntouched) {
  ASSERT_TRUE(writePicture(path("small.jpg"), 40, 30, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("large.jpg"), 400, 300, image::kJpegEncoder));
  const std::string before = readBytes(path("small.jpg"));
  const OutputChoice shrink{.size = {.shrinkOnly = true}};

  const PictureOutcome small = run(path("small.jpg"), withPrefix("0"), shrink);
  EXPECT_EQ(small.reason, FailureReason::alreadySmall);
  EXPECT_TRUE(small.leftAlone());
  EXPECT_EQ(readBytes(path("small.jpg")), before);
  EXPECT_TRUE(run(path("large.jpg"), withPrefix("0"), shrink).written());
  EXPECT_EQ(readPicture(path("large.jpg"))->width, 64);
  // Another format, or a prefix: written at its own size.
  EXPECT_TRUE(run(path("small.jpg"), withPrefix("0", "PNG"), shrink).written());
  EXPECT_EQ(readPicture(path("small.png"))->width, 40);
  EXPECT_TRUE(run(path("small.jpg"), withPrefix("p_"), shrink).written());
  EXPECT_EQ(readPicture(path("p_small.jpg"))->height, 30);
}

TEST_F(OutputChoices, OutputFolderMirrorsTheTreeAndReplacesNoSource) {
  ASSERT_EQ(::mkdir(path("tree").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(path("tree/a").c_str(), 0755), 0);
  ASSERT_TRUE(writePicture(path("tree/a/x.jpg"), 128, 96, image::kJpegEncoder));
  const std::string source = readBytes(path("tree/a/x.jpg"));
  const mode_t mask = ::umask(027);
  const PictureOutcome outcome = run(path("tree/a/x.jpg"), withPrefix("0"),
                                     OutputChoice{.folder = path("out/web"), .tree = path("tree")});
  ::umask(mask);
  EXPECT_TRUE(outcome.written());
  EXPECT_EQ(outcome.outputPath, path("out/web/a/x.jpg"));
  EXPECT_EQ(readPicture(path("out/web/a/x.jpg"))->width, 64);
  EXPECT_EQ(readBytes(path("tree/a/x.jpg")), source);
  struct stat made {};
  ASSERT_EQ(::stat(path("out/web/a").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0750u);  // the user's default permissions

  // An output folder that leads back to the source never replaces it.
  const PictureOutcome back = run(path("tree/a/x.jpg"), withPrefix("0"),
                                  OutputChoice{.folder = path("tree/a"), .tree = path("tree/a")});
  EXPECT_EQ(back.reason, FailureReason::wouldReplaceAnother);
  EXPECT_EQ(readBytes(path("tree/a/x.jpg")), source);
}

TEST_F(OutputChoices, SkipAndRenameNeverReplace) {
  ASSERT_TRUE(writePicture(path("a.png"), 128, 96, image::kPngEncoder));
  writeBytes(path("p_a.jpg"), "already here");
  writeBytes(path("p_a (1).jpg"), "and here");

  const PictureOutcome skipped = run(path("a.png"), withPrefix("p_"), {.ifExists = IfExists::skip});
  EXPECT_EQ(skipped.reason, FailureReason::exists);
  EXPECT_TRUE(skipped.leftAlone());
  const PictureOutcome renamed = run(path("a.png"), withPrefix("p_"), {.ifExists = IfExists::rename});
  EXPECT_TRUE(renamed.written());
  EXPECT_EQ(renamed.outputPath, path("p_a (2).jpg"));
  EXPECT_EQ(readPicture(path("p_a (2).jpg"))->width, 64);
  EXPECT_EQ(readBytes(path("p_a.jpg")), "already here");
  EXPECT_EQ(readBytes(path("p_a (1).jpg")), "and here");
  // Free: written under its own name.
  EXPECT_EQ(run(path("a.png"), withPrefix("q_"), {.ifExists = IfExists::skip}).outputPath, path("q_a.jpg"));
}

// The output's bytes are being written when another program puts a file
// under its name: that file stays, and the picture is skipped or takes the
// next name.
TEST_F(OutputChoices, AFileThatAppearsWhileWritingIsKept) {
  ASSERT_EQ(::mkdir(path("out").c_str(), 0755), 0);
  ASSERT_TRUE(writePicture(path("a.png"), 128, 96, image::kPngEncoder));
  for (const IfExists rule : {IfExists::skip, IfExists::rename}) {
    ::unlink(path("out/a.jpg").c_str());
    held_write::holdIn(path("out"));
    PictureOutcome outcome;
    std::thread writer(
        [&] { outcome = run(path("a.png"), withPrefix("0"), {.folder = path("out"), .ifExists = rule}); });
    ASSERT_TRUE(held_write::waitUntilEntered());
    writeBytes(path("out/a.jpg"), "came meanwhile");
    held_write::release();
    writer.join();
    EXPECT_EQ(readBytes(path("out/a.jpg")), "came meanwhile");
    if (rule == IfExists::skip) {
      EXPECT_EQ(outcome.reason, FailureReason::exists);
    } else {
      EXPECT_EQ(outcome.outputPath, path("out/a (1).jpg"));
      EXPECT_EQ(readPicture(path("out/a (1).jpg"))->width, 64);
    }
  }
}

// The highest quality that fits, checked against the next one up encoded
// independently; a picture too large even at the lowest is made smaller.
TEST_F(OutputChoices, MaxBytesTakesTheHighestQualityThatFits) {
  ASSERT_TRUE(writeNoisePicture(path("noise.png"), 300, 200, image::kPngEncoder, 7));
  settings::Settings s = withPrefix("p_");
  s.landscapeWidth = 200;
  s.quality = 10;
  for (const std::uint64_t limit : {40000u, 25000u, 15000u}) {
    PreparedPicture prepared =
        preparePicture(path("noise.png"), s, nullptr, nullptr, std::nullopt, image::FormatSet::companion, {},
                       OutputChoice{.maxBytes = limit});
    ASSERT_TRUE(prepared.outcome.written());
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(encodePreparedPicture(prepared, bytes), FailureReason::none);
    const int quality = prepared.outcome.quality;
    EXPECT_LE(bytes.size(), limit);
    ASSERT_GE(quality, 0);
    ASSERT_LT(quality, 10) << limit;  // noise at the top quality never fits these
    std::vector<std::uint8_t> higher;
    ASSERT_EQ(image::encodeRaster(*prepared.raster, 24, image::kJpegEncoder, quality + 1, -1, higher),
              image::SaveStatus::saved);
    EXPECT_GT(higher.size(), limit) << limit;
    EXPECT_EQ(prepared.outcome.outputWidth, 200);
  }
  // Below what the lowest quality gives: smaller, quality 0, within the limit.
  const PictureOutcome smaller = run(path("noise.png"), s, OutputChoice{.maxBytes = 1000});
  ASSERT_TRUE(smaller.written()) << failureReasonText(smaller.reason);
  EXPECT_EQ(smaller.quality, 0) << smaller.outputBytes;
  EXPECT_LE(smaller.outputBytes, 1000u);
  EXPECT_LT(smaller.outputWidth, 200);
  const auto decoded = readPicture(path("p_noise.jpg"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, smaller.outputWidth);
  EXPECT_EQ(decoded->height, smaller.outputHeight);
  // PNG has no quality to give up: smaller only.
  const PictureOutcome png = run(path("noise.png"), withPrefix("q_", "PNG"), OutputChoice{.maxBytes = 5000});
  ASSERT_TRUE(png.written());
  EXPECT_EQ(png.quality, -1);
  EXPECT_LE(png.outputBytes, 5000u);
  // Nothing is that small.
  EXPECT_EQ(run(path("noise.png"), withPrefix("r_"), OutputChoice{.maxBytes = 100}).reason,
            FailureReason::cannotFit);
  EXPECT_FALSE(std::filesystem::exists(path("r_noise.jpg")));
}

}  // namespace
}  // namespace pixmoor::batch

#include "batch/process_picture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "batch/output_path.h"
#include "batch_test_support.h"
#include "encoders/encode.h"
#include "support/bounded_child.h"
#include "support/other_user.h"

namespace pixmoor::batch {
namespace {

// Before any thread: see runWithRoom.
[[maybe_unused]] const bool kOneMallocArena = pixmoor::testing::useOneMallocArena();

using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;
using testing::folderNames;
using testing::magicOf;
using testing::readPicture;
using testing::relativeSettings;
using testing::writePicture;

class ProcessPicture : public ::testing::Test {
 protected:
  PictureOutcome run(const std::string& source, const settings::Settings& s,
                     const image::CancelFlag* cancel = nullptr) {
    published_.clear();
    return processPicture(
        source, s, [this](const std::string& p) { published_.push_back(p); }, cancel);
  }
  std::string path(const char* name) const { return folder_.file(name); }

  TempFolder folder_;
  std::vector<std::string> published_;
};

TEST_F(ProcessPicture, LandscapeJpegToTargetWidth) {
  ASSERT_TRUE(writePicture(path("IMG_0001.JPEG"), 400, 300, image::kJpegEncoder));
  const PictureOutcome outcome = run(path("IMG_0001.JPEG"), relativeSettings(200, 100));
  EXPECT_TRUE(outcome.written());
  EXPECT_EQ(outcome.outputPath, path("prefix_IMG_0001.jpg"));
  EXPECT_EQ(published_, std::vector<std::string>{path("prefix_IMG_0001.jpg")});
  EXPECT_EQ(magicOf(outcome.outputPath), "jpeg");
  const auto facts = readPicture(outcome.outputPath);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 200);
  EXPECT_EQ(facts->height, 150);
}

TEST_F(ProcessPicture, ColourProfileReachesTheOutput) {
  const std::string p3 = readBytes(std::string(PIXMOOR_TEST_DATA) + "/icc/DisplayP3.icc");
  const std::vector<std::uint8_t> profile(p3.begin(), p3.end());
  ASSERT_GT(profile.size(), 128u);
  testing::registerCodecs();
  const auto raster = image::makeRaster(400, 300, 24);
  ASSERT_EQ(image::saveRaster(*raster, 24, path("p3.jpg"), image::kJpegEncoder, 8, -1, nullptr, profile),
            image::SaveStatus::saved);
  ASSERT_TRUE(run(path("p3.jpg"), relativeSettings(200, 100, "PNG")).written());
  image::ImageStore written;
  ASSERT_NE(written.loadFromFile(0, path("prefix_p3.png")), 0u);
  EXPECT_EQ(written.record(0)->iccProfile, profile);
}

TEST_F(ProcessPicture, PortraitToPngWithTruncatedWidth) {
  ASSERT_TRUE(writePicture(path("p.png"), 683, 1024, image::kPngEncoder));
  const PictureOutcome outcome = run(path("p.png"), relativeSettings(2000, 480, "PNG"));
  ASSERT_TRUE(outcome.written()) << failureReasonText(outcome.reason);
  EXPECT_EQ(outcome.outputPath, path("prefix_p.png"));
  EXPECT_EQ(magicOf(outcome.outputPath), "png");
  const auto facts = readPicture(outcome.outputPath);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 320);
  EXPECT_EQ(facts->height, 480);
}

// The outcome tells both sizes and the bytes written, and the same prepared
// picture encoded in memory gives exactly those bytes.
TEST_F(ProcessPicture, EncodedInMemoryAreTheBytesWritten) {
  const std::string p3 = readBytes(std::string(PIXMOOR_TEST_DATA) + "/icc/DisplayP3.icc");
  ASSERT_TRUE(writePicture(path("p.png"), 683, 1024, image::kPngEncoder, 200,
                           std::span(reinterpret_cast<const std::uint8_t*>(p3.data()), p3.size())));
  for (const char* format : {"JPG", "PNG"}) {
    PreparedPicture prepared = preparePicture(path("p.png"), relativeSettings(2000, 480, format), nullptr);
    EXPECT_EQ(std::vector({prepared.outcome.sourceWidth, prepared.outcome.sourceHeight,
                           prepared.outcome.outputWidth, prepared.outcome.outputHeight}),
              std::vector({683, 1024, 320, 480}));
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(encodePreparedPicture(prepared, bytes), FailureReason::none);
    std::uint64_t written = 0;
    ASSERT_EQ(writePreparedPicture(prepared, nullptr, &written), FailureReason::none);
    const std::string file = readBytes(prepared.outcome.outputPath);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), file) << format;
    EXPECT_NE(file.find(std::string_view(format) == "JPG" ? "ICC_PROFILE" : "iCCP"), std::string::npos)
        << format << ": the profile is carried";
    EXPECT_EQ(written, file.size()) << format;
  }
  EXPECT_EQ(folderNames(folder_.path()), (std::vector<std::string>{"p.png", "prefix_p.jpg", "prefix_p.png"}));
}

TEST_F(ProcessPicture, FreeModeIgnoresProportions) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 300, 400, image::kJpegEncoder));
  settings::Settings s = relativeSettings(1, 1);
  s.mode = settings::SizeMode::free;
  s.freeWidth = 64;
  s.freeHeight = 32;
  ASSERT_TRUE(run(path("a.jpg"), s).written());
  const auto facts = readPicture(path("prefix_a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 64);
  EXPECT_EQ(facts->height, 32);
}

TEST_F(ProcessPicture, SameSizeIsReencoded) {
  ASSERT_TRUE(writePicture(path("same.png"), 120, 80, image::kPngEncoder));
  ASSERT_TRUE(run(path("same.png"), relativeSettings(120, 999)).written());
  EXPECT_EQ(magicOf(path("prefix_same.jpg")), "jpeg");
  const auto facts = readPicture(path("prefix_same.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 120);
  EXPECT_EQ(facts->height, 80);
}

TEST_F(ProcessPicture, ContentDecidesNotTheExtension) {
  ASSERT_TRUE(writePicture(path("really_png.tif"), 40, 20, image::kPngEncoder));
  ASSERT_TRUE(run(path("really_png.tif"), relativeSettings(20, 20)).written());
  const auto facts = readPicture(path("prefix_really_png.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 20);
  EXPECT_EQ(facts->height, 10);
}

TEST_F(ProcessPicture, FailuresWriteNothingAndSayWhy) {
  writeBytes(path("scan.tif"), std::string("II*\0\x08\0\0\0", 8) + std::string(64, '\0'));
  writeBytes(path("empty.jpg"), "");
  ASSERT_TRUE(writePicture(path("flat.png"), 5000, 3, image::kPngEncoder));
  ASSERT_TRUE(writePicture(path("ok.png"), 30, 20, image::kPngEncoder));
  std::filesystem::create_directory(path("folder.jpg"));
  const std::vector<std::string> before = folderNames(folder_.path());

  struct Row {
    std::string source;
    settings::Settings settings;
    FailureReason reason;
  };
  settings::Settings gif = relativeSettings(10, 10);
  settings::setOutputFormatFromText(gif, "GIF");
  const Row rows[] = {
      {path("scan.tif"), relativeSettings(10, 10), FailureReason::unknownFormat},
      {path("empty.jpg"), relativeSettings(10, 10), FailureReason::unknownFormat},
      {path("missing.jpg"), relativeSettings(10, 10), FailureReason::unreadable},
      {path("folder.jpg"), relativeSettings(10, 10), FailureReason::unreadable},
      {path("flat.png"), relativeSettings(800, 10), FailureReason::noSize},  // 800 x 0
      {path("ok.png"), relativeSettings(0, 10), FailureReason::noSize},
      {path("ok.png"), relativeSettings(-5, 10), FailureReason::noSize},
      {path("ok.png"), relativeSettings(40000, 10), FailureReason::noSize},
      {path("ok.png"), gif, FailureReason::noOutputFormat},
  };
  for (const Row& row : rows) {
    const PictureOutcome outcome = run(row.source, row.settings);
    EXPECT_EQ(outcome.reason, row.reason) << row.source;
    // The name is published even for a picture that fails.
    EXPECT_EQ(published_, std::vector<std::string>{outputPath(row.source, row.settings)});
  }
  EXPECT_EQ(folderNames(folder_.path()), before);
}

// A folder that forbids new files fails the save, and nothing changes: not
// an earlier output, not a writable source that would replace itself.
TEST_F(ProcessPicture, UnwritableFolderLeavesTheOldFilesAlone) {
  ASSERT_TRUE(writePicture(path("a.png"), 30, 20, image::kPngEncoder));
  ASSERT_TRUE(writePicture(path("b.jpg"), 30, 20, image::kJpegEncoder));
  writeBytes(path("prefix_a.jpg"), "old bytes");
  ::chmod(path("prefix_a.jpg").c_str(), 0666);  // the folder alone stands in the way
  ::chmod(path("b.jpg").c_str(), 0666);
  const std::string b = readBytes(path("b.jpg"));
  ::chmod(folder_.path().c_str(), 0555);
  const int result = pixmoor::testing::runAsOrdinaryUser([&] {
    if (run(path("a.png"), relativeSettings(15, 15)).reason != FailureReason::folderNotWritable) return 1;
    return run(path("b.jpg"), relativeSettings(15, 15, "JPG", "")).reason == FailureReason::folderNotWritable
               ? 0
               : 2;
  });
  ::chmod(folder_.path().c_str(), 0755);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(readBytes(path("prefix_a.jpg")), "old bytes");
  EXPECT_EQ(readBytes(path("b.jpg")), b);
  EXPECT_EQ(folderNames(folder_.path()), (std::vector<std::string>{"a.png", "b.jpg", "prefix_a.jpg"}));
}

TEST_F(ProcessPicture, OutputThatCannotBeMadeSaysWhy) {
  ASSERT_TRUE(writePicture(path("a.png"), 30, 20, image::kPngEncoder));
  // The output name is taken by a folder: nothing is made.
  std::filesystem::create_directory(path("prefix_a.jpg"));
  EXPECT_EQ(run(path("a.png"), relativeSettings(15, 15)).reason, FailureReason::notAFile);
  EXPECT_TRUE(std::filesystem::is_directory(path("prefix_a.jpg")));
  EXPECT_TRUE(std::filesystem::is_empty(path("prefix_a.jpg")));
  // A prefix naming a folder that does not exist.
  EXPECT_EQ(run(path("a.png"), relativeSettings(15, 15, "JPG", "missing/")).reason,
            FailureReason::writeFailed);
  EXPECT_EQ(folderNames(folder_.path()), (std::vector<std::string>{"a.png", "prefix_a.jpg"}));
}

TEST_F(ProcessPicture, RaisedCancelAbandonsWithoutOutput) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 64, 48, image::kJpegEncoder));
  const std::string original = readBytes(path("a.jpg"));
  const image::CancelFlag cancel{true};
  EXPECT_EQ(run(path("a.jpg"), relativeSettings(32, 32), &cancel).reason, FailureReason::stopped);
  EXPECT_EQ(run(path("a.jpg"), relativeSettings(32, 32, "JPG", ""), &cancel).reason, FailureReason::stopped);
  EXPECT_EQ(readBytes(path("a.jpg")), original);
  EXPECT_EQ(folderNames(folder_.path()), std::vector<std::string>{"a.jpg"});
}

TEST_F(ProcessPicture, EmptyPrefixReplacesTheSource) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 64, 48, image::kJpegEncoder));
  ASSERT_TRUE(run(path("a.jpg"), relativeSettings(32, 32, "JPG", "")).written());
  EXPECT_EQ(folderNames(folder_.path()), std::vector<std::string>{"a.jpg"});
  const auto facts = readPicture(path("a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 32);
  EXPECT_EQ(facts->height, 24);
}

// Without a prefix a picture replaces only itself: a.png, a.JPEG (dropped
// or not) never overwrite another picture's a.jpg, and "0" still means no
// prefix when a store during the batch brought it back.
TEST_F(ProcessPicture, WithoutPrefixAPictureReplacesOnlyItself) {
  ASSERT_TRUE(writePicture(path("a.png"), 400, 300, image::kPngEncoder, 10));
  ASSERT_TRUE(writePicture(path("a.JPEG"), 400, 300, image::kJpegEncoder, 10));
  ASSERT_TRUE(writePicture(path("a.jpg"), 300, 400, image::kJpegEncoder, 240));
  const std::string original = readBytes(path("a.jpg"));
  for (const char* prefix : {"", "0"}) {
    for (const char* source : {"a.png", "a.JPEG"}) {
      const PictureOutcome outcome = run(path(source), relativeSettings(200, 100, "JPG", prefix));
      EXPECT_EQ(outcome.reason, FailureReason::wouldReplaceAnother) << source;
      EXPECT_EQ(outcome.outputPath, path("a.jpg"));
    }
  }
  EXPECT_EQ(readBytes(path("a.jpg")), original);
  ASSERT_TRUE(run(path("a.jpg"), relativeSettings(200, 100, "JPG", "0")).written());
  const auto facts = readPicture(path("a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 75);
  EXPECT_GT(facts->meanBlue, 200);
  EXPECT_EQ(folderNames(folder_.path()), (std::vector<std::string>{"a.JPEG", "a.jpg", "a.png"}));
}

// A linked picture is replaced through its link, the link staying, but only
// when link and picture are the user's own.
TEST_F(ProcessPicture, LinkedSourceIsReplacedThroughItsLinkWhenOurOwn) {
  std::filesystem::create_directory(path("real"));
  ASSERT_TRUE(writePicture(path("real/photo.jpg"), 64, 48, image::kJpegEncoder));
  std::filesystem::create_symlink("real/photo.jpg", path("photo.jpg"));
  ASSERT_TRUE(run(path("photo.jpg"), relativeSettings(32, 32, "JPG", "")).written());
  EXPECT_TRUE(std::filesystem::is_symlink(path("photo.jpg")));
  const auto facts = readPicture(path("real/photo.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 32);

  if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to make another user's files";
  ASSERT_EQ(::lchown(path("photo.jpg").c_str(), 65534, 65534), 0);
  const std::string before = readBytes(path("real/photo.jpg"));
  EXPECT_EQ(run(path("photo.jpg"), relativeSettings(16, 16, "JPG", "")).reason, FailureReason::linkRefused);
  EXPECT_EQ(readBytes(path("real/photo.jpg")), before);
  // Replacing another user's picture directly keeps its owner.
  ASSERT_EQ(::chown(path("real/photo.jpg").c_str(), 65534, 65534), 0);
  ASSERT_TRUE(run(path("real/photo.jpg"), relativeSettings(16, 16, "JPG", "")).written());
  struct stat st {};
  ASSERT_EQ(::stat(path("real/photo.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
}

// The original went aside (the Trash), then its name was taken before the
// output could have it: that is what the reason says.
TEST_F(ProcessPicture, AnOriginalSetAsideWhoseNameIsTakenIsSaid) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 64, 48, image::kJpegEncoder));
  const std::string original = readBytes(path("a.jpg"));
  const std::string trash = path("trashed.jpg");
  PreparedPicture prepared = preparePicture(path("a.jpg"), relativeSettings(32, 32, "JPG", ""), nullptr);
  ASSERT_TRUE(prepared.outcome.written());
  prepared.replaceRule.setAside = [&](const std::string& spare, const std::string& name) {
    const bool moved = ::rename(spare.c_str(), trash.c_str()) == 0 && ::unlink(name.c_str()) == 0 &&
                       ::mkdir(name.c_str(), 0700) == 0;
    return files::SetAside{moved, nullptr};
  };
  EXPECT_EQ(writePreparedPicture(prepared), FailureReason::trashedNotReplaced);
  EXPECT_EQ(readBytes(trash), original);
}

// Memory that runs out while the picture is encoded (here its copy flattened
// for JPEG): the picture was too large for the memory there was.
TEST_F(ProcessPicture, RunningOutOfMemoryWhileEncodingIsTooLargeForMemory) {
  if (!pixmoor::testing::kAddressSpaceCapWorks) GTEST_SKIP() << "no address-space cap under a sanitizer";
  testing::registerCodecs();
  auto raster = image::makeRaster(3000, 2000, 32);
  ASSERT_TRUE(raster);
  ASSERT_EQ(image::saveRaster(*raster, 32, path("alpha.png"), image::kPngEncoder, 7, -1),
            image::SaveStatus::saved);
  raster.reset();
  PreparedPicture prepared = preparePicture(path("alpha.png"), relativeSettings(3000, 2000), nullptr);
  ASSERT_TRUE(prepared.outcome.written());
  ASSERT_EQ(prepared.raster->depth, 32);
  constexpr std::uint64_t kRoom = 4 << 20;  // the flattened copy needs 18 MB
  const auto inRoom = [&](const std::function<FailureReason()>& encode) {
    return pixmoor::testing::runWithRoom([&] { return static_cast<int>(encode()); }, kRoom);
  };
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(inRoom([&] { return encodePreparedPicture(prepared, bytes); }),
            static_cast<int>(FailureReason::tooLargeForMemory));
  EXPECT_EQ(inRoom([&] { return writePreparedPicture(prepared); }),
            static_cast<int>(FailureReason::tooLargeForMemory));
  EXPECT_EQ(folderNames(folder_.path()), std::vector<std::string>{"alpha.png"});
}

TEST_F(ProcessPicture, PrefixIsAppliedAgainOnAPrefixedName) {
  ASSERT_TRUE(writePicture(path("prefix_a.jpg"), 40, 30, image::kJpegEncoder));
  EXPECT_EQ(run(path("prefix_a.jpg"), relativeSettings(20, 20)).outputPath, path("prefix_prefix_a.jpg"));
  EXPECT_TRUE(readPicture(path("prefix_prefix_a.jpg")));
}

TEST_F(ProcessPicture, LineFeedInAFileName) {
  ASSERT_TRUE(writePicture(path("two\nlines.jpg"), 40, 30, image::kJpegEncoder));
  ASSERT_TRUE(run(path("two\nlines.jpg"), relativeSettings(20, 20)).written());
  const auto facts = readPicture(path("prefix_two\nlines.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 20);
  EXPECT_EQ(facts->height, 15);
}

}  // namespace
}  // namespace pixmoor::batch

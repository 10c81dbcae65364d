#include "encoders/encoder_registry.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "encode_test_support.h"
#include "encoders/alpha_flatten.h"
#include "encoders/encode.h"
#include "encoders/temp_output.h"
#include "support/bounded_child.h"
#include "support/held_write.h"

namespace pixmoor::image {
namespace {

// Before any thread: see runWithRoom.
[[maybe_unused]] const bool kOneMallocArena = pixmoor::testing::useOneMallocArena();

using testing::makeFilled;
using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;

// What the fake writers below were handed.
struct Seen {
  int calls = 0;
  int bytesPerPixel = 0;
  int depth = 0;
  int quality = 0;
  bool bottomUp = false;
  std::vector<std::uint8_t> topRow;
};
Seen seen;
CancelFlag* raiseDuringWrite = nullptr;

SaveStatus recordingWriter(TempOutput& out, const RowSource& rows, int quality, int depth,
                           const CancelFlag*) {
  ++seen.calls;
  seen.bytesPerPixel = rows.bytesPerPixel;
  seen.depth = depth;
  seen.quality = quality;
  seen.bottomUp = rows.bottomUp;
  seen.topRow.assign(rows.row(0), rows.row(0) + rows.width * rows.bytesPerPixel);
  out.write("written", 7);
  return SaveStatus::saved;
}

SaveStatus otherWriter(TempOutput& out, const RowSource&, int, int, const CancelFlag*) {
  out.write("other", 5);
  return SaveStatus::saved;
}

SaveStatus failingWriter(TempOutput& out, const RowSource&, int, int, const CancelFlag*) {
  out.write("partial data", 12);
  return SaveStatus::writeFailed;
}

// Writes half its output, then the user presses Stop.
SaveStatus stoppedWriter(TempOutput& out, const RowSource&, int, int, const CancelFlag*) {
  out.write("half of it", 10);
  if (raiseDuringWrite != nullptr) raiseDuringWrite->store(true);
  return SaveStatus::saved;
}

constexpr std::uint32_t kRecording = encoderId('T', 'E', 'S', 'T');
constexpr std::uint32_t kRecordingRgba = encoderId('T', 'S', '3', '2');
constexpr std::uint32_t kFailing = encoderId('F', 'A', 'I', 'L');
constexpr std::uint32_t kStopped = encoderId('S', 'T', 'O', 'P');

class EncoderRegistryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerJpegEncoder();
    registerPngEncoder();
    registerWebpEncoder();
    registerAvifEncoder();
    addEncoder(Encoder{kRecording, recordingWriter, nullptr});
    addEncoder(Encoder{kRecording, otherWriter, otherWriter});  // never chosen: the first entry wins
    addEncoder(Encoder{kRecordingRgba, recordingWriter, recordingWriter});
    addEncoder(Encoder{kFailing, failingWriter, failingWriter});
    addEncoder(Encoder{kStopped, stoppedWriter, stoppedWriter});
  }
  void SetUp() override { seen = Seen{}; }

  ScratchFolder folder;
};

TEST(EncoderIds, PackFourLettersFirstLetterLowest) {
  EXPECT_EQ(kJpegEncoder, 0x4745504Au);  // "JPEG"
  EXPECT_EQ(kPngEncoder, 0x00474E50u);   // "PNG\0"
}

TEST(FlattenOnWhite, HandWorkedValues) {
  struct Row {
    int colour, alpha, expected;
  };
  const Row rows[] = {{0, 128, 127}, {255, 128, 255}, {0, 0, 255},     {77, 0, 255}, {77, 255, 77},
                      {0, 255, 0},   {100, 1, 254},   {200, 254, 200}, {1, 254, 1},  {128, 127, 191}};
  for (const auto& r : rows) {
    EXPECT_EQ(flattenOnWhite(static_cast<std::uint8_t>(r.colour), static_cast<std::uint8_t>(r.alpha)),
              r.expected)
        << r.colour << " at alpha " << r.alpha;
  }
}

TEST(FlattenOnWhite, EveryValueIsColourShareFlooredPlusWhiteShare) {
  // ((c - 255) a + 255^2) / 255 = c a / 255 + (255 - a), the first term floored.
  for (int c = 0; c < 256; ++c) {
    for (int a = 0; a < 256; ++a) {
      ASSERT_EQ(flattenOnWhite(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(a)),
                c * a / 255 + 255 - a)
          << c << " " << a;
    }
  }
}

TEST(FlattenToWhite, HalfTransparentRedBecomesPinkAndRowsKeepTheirPlace) {
  auto source = makeFilled(3, 2, 32, [](int x, int y, std::uint8_t* p) {
    if (y == 0) {  // top row: the half-transparent red, then opaque green, then clear
      const std::uint8_t px[3][4] = {{0, 0, 255, 128}, {0, 255, 0, 255}, {9, 9, 9, 0}};
      std::copy(px[x], px[x] + 4, p);
    } else {
      p[0] = 10, p[1] = 20, p[2] = 30, p[3] = 255;
    }
  });
  ASSERT_TRUE(source);
  const auto flat = flattenToWhite(*source);
  ASSERT_TRUE(flat);
  EXPECT_EQ(flat->depth, 24);
  EXPECT_EQ(flat->stride, 12);  // 9 bytes of pixels, made up to 12
  const std::uint8_t* top = flat->pictureRow(0);
  const std::vector<std::uint8_t> expectedTop = {127, 127, 255, 0, 255, 0, 255, 255, 255};
  EXPECT_EQ(std::vector<std::uint8_t>(top, top + 9), expectedTop);
  const std::uint8_t* bottom = flat->pictureRow(1);
  EXPECT_EQ(std::vector<std::uint8_t>(bottom, bottom + 9),
            (std::vector<std::uint8_t>{10, 20, 30, 10, 20, 30, 10, 20, 30}));
}

TEST(FlattenToWhite, RefusesA24BitRaster) {
  auto raster = makeRaster(2, 2, 24);
  EXPECT_FALSE(flattenToWhite(*raster));
}

TEST_F(EncoderRegistryTest, RegistrationAddsEachEncoderOnce) {
  const auto before = encoderCount();
  registerJpegEncoder();
  registerPngEncoder();
  registerJpegEncoder();
  EXPECT_EQ(encoderCount(), before);
  ASSERT_TRUE(findEncoder(kJpegEncoder));
  EXPECT_EQ(findEncoder(kJpegEncoder)->write32, nullptr);
  ASSERT_TRUE(findEncoder(kPngEncoder));
  EXPECT_NE(findEncoder(kPngEncoder)->write32, nullptr);
  EXPECT_FALSE(findEncoder(encoderId('N', 'O', 'N', 'E')));
}

TEST_F(EncoderRegistryTest, AnEntryWithoutA24BitWriterIsIgnored) {
  const auto before = encoderCount();
  addEncoder(Encoder{encoderId('H', 'A', 'L', 'F'), nullptr, recordingWriter});
  EXPECT_EQ(encoderCount(), before);
}

TEST_F(EncoderRegistryTest, FirstEntryWins) {
  auto raster = makeRaster(2, 2, 24);
  ASSERT_EQ(saveRaster(*raster, 24, folder.file("a.bin"), kRecording, 7, -1), SaveStatus::saved);
  EXPECT_EQ(seen.calls, 1);
  const auto bytes = readBytes(folder.file("a.bin"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "written");
}

TEST_F(EncoderRegistryTest, DepthMinusOneMeansTheSourceDepth) {
  auto raster = makeRaster(2, 2, 24);
  ASSERT_EQ(saveRaster(*raster, 8, folder.file("a.bin"), kRecording, 3, -1), SaveStatus::saved);
  EXPECT_EQ(seen.depth, 8);
  EXPECT_EQ(seen.quality, 3);
  ASSERT_EQ(saveRaster(*raster, 8, folder.file("a.bin"), kRecording, 3, 24), SaveStatus::saved);
  EXPECT_EQ(seen.depth, 24);
}

TEST_F(EncoderRegistryTest, ThirtyTwoBitRastersGoToTheAlphaWriterWhenThereIsOne) {
  auto raster = makeFilled(2, 2, 32, [](int x, int y, std::uint8_t* p) {
    p[0] = 0, p[1] = 0, p[2] = 255, p[3] = static_cast<std::uint8_t>(x == 0 && y == 0 ? 128 : 0);
  });
  ASSERT_EQ(saveRaster(*raster, 32, folder.file("a.bin"), kRecordingRgba, 0, -1), SaveStatus::saved);
  EXPECT_EQ(seen.bytesPerPixel, 4);
  EXPECT_EQ(seen.topRow, (std::vector<std::uint8_t>{0, 0, 255, 128, 0, 0, 255, 0}));
}

TEST_F(EncoderRegistryTest, ThirtyTwoBitRastersAreFlattenedOnWhiteOtherwise) {
  auto raster = makeFilled(2, 2, 32, [](int x, int y, std::uint8_t* p) {
    p[0] = 0, p[1] = 0, p[2] = 255, p[3] = static_cast<std::uint8_t>(x == 0 && y == 0 ? 128 : 0);
  });
  ASSERT_EQ(saveRaster(*raster, 32, folder.file("a.bin"), kRecording, 0, -1), SaveStatus::saved);
  EXPECT_EQ(seen.bytesPerPixel, 3);
  EXPECT_TRUE(seen.bottomUp);
  EXPECT_EQ(seen.topRow, (std::vector<std::uint8_t>{127, 127, 255, 255, 255, 255}));
}

// In memory the bytes are those a save writes, for every writer and depth,
// and nothing appears in the folder; a failing writer gives no bytes.
TEST_F(EncoderRegistryTest, EncodingInMemoryGivesTheSavedBytes) {
  auto raster = makeFilled(37, 23, 32, [](int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(7 * x), p[1] = static_cast<std::uint8_t>(11 * y), p[2] = 90,
    p[3] = static_cast<std::uint8_t>(x * y);
  });
  struct Row {
    std::uint32_t encoder;
    int depth;
  };
  for (const Row row :
       {Row{kJpegEncoder, 24}, Row{kPngEncoder, 32}, Row{kPngEncoder, 4}, Row{kRecording, 24}}) {
    ASSERT_EQ(saveRaster(*raster, 32, folder.file("saved"), row.encoder, 6, row.depth), SaveStatus::saved);
    const auto saved = readBytes(folder.file("saved"));
    std::vector<std::uint8_t> bytes{1, 2, 3};
    ASSERT_EQ(encodeRaster(*raster, 32, row.encoder, 6, row.depth, bytes), SaveStatus::saved);
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin(), saved.end()), bytes) << row.depth;
  }
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
  EXPECT_EQ(entries, 1);  // the saved file alone
  std::vector<std::uint8_t> bytes{1};
  EXPECT_EQ(encodeRaster(*raster, 32, kFailing, 6, -1, bytes), SaveStatus::writeFailed);
  EXPECT_TRUE(bytes.empty());
}

TEST_F(EncoderRegistryTest, BadRequests) {
  auto raster = makeRaster(2, 2, 24);
  EXPECT_EQ(saveRaster(*raster, 24, "", kRecording, 7, -1), SaveStatus::badRequest);
  Raster empty;
  empty.width = 2, empty.height = 2, empty.depth = 24, empty.stride = 8;
  EXPECT_EQ(saveRaster(empty, 24, folder.file("a.bin"), kRecording, 7, -1), SaveStatus::badRequest);
  Raster odd = std::move(*makeRaster(4, 2, 32));
  odd.depth = 16;
  EXPECT_EQ(saveRaster(odd, 16, folder.file("a.bin"), kRecording, 7, -1), SaveStatus::badRequest);
  EXPECT_EQ(seen.calls, 0);
  EXPECT_TRUE(folder.names().empty());
}

TEST_F(EncoderRegistryTest, UnknownEncoderIsNoEncoderAndWritesNothing) {
  auto raster = makeRaster(2, 2, 24);
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("a.jpg"), encoderId('G', 'I', 'F', '8'), 7, -1),
            SaveStatus::noEncoder);
  EXPECT_TRUE(folder.names().empty());
}

TEST_F(EncoderRegistryTest, MissingFolderIsCannotCreateAndCreatesNothing) {
  auto raster = makeRaster(2, 2, 24);
  for (const auto encoder : {kJpegEncoder, kPngEncoder}) {
    EXPECT_EQ(saveRaster(*raster, 24, folder.file("missing/a.out"), encoder, 7, -1),
              SaveStatus::cannotCreate);
    EXPECT_EQ(saveRaster(*raster, 24, folder.file("missing/deeper/a.out"), encoder, 7, -1),
              SaveStatus::cannotCreate);
  }
  EXPECT_TRUE(folder.names().empty());
}

TEST_F(EncoderRegistryTest, AFileInPlaceOfTheFolderIsCannotCreate) {
  writeBytes(folder.file("plain"), {1, 2, 3});
  auto raster = makeRaster(2, 2, 24);
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("plain/a.jpg"), kJpegEncoder, 7, -1),
            SaveStatus::cannotCreate);
  EXPECT_EQ(folder.names(), std::set<std::string>{"plain"});
}

// Runs `body` in a child process and answers its exit code (or -1).
template <typename Body>
int inChild(Body body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

constexpr int kSkipped = 200;

TEST_F(EncoderRegistryTest, ReadOnlyFolderIsSaidAndCreatesNothing) {
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(folder.path().c_str(), 0555), 0);
    auto raster = makeRaster(2, 2, 24);
    EXPECT_EQ(saveRaster(*raster, 24, folder.file("a.jpg"), kJpegEncoder, 7, -1),
              SaveStatus::folderNotWritable);
    chmod(folder.path().c_str(), 0755);
    EXPECT_TRUE(folder.names().empty());
    return;
  }
  // Permissions do not stop the superuser: use a read-only mount in a
  // private mount namespace of a child instead.
  const std::string mountPoint = folder.path();
  const int code = inChild([&] {
    if (unshare(CLONE_NEWNS) != 0) return kSkipped;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kSkipped;
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) return kSkipped;
    auto raster = makeRaster(2, 2, 24);
    const auto status = saveRaster(*raster, 24, mountPoint + "/a.png", kPngEncoder, 7, -1);
    const bool empty = std::filesystem::is_empty(mountPoint);
    return static_cast<int>(status) * 2 + (empty ? 0 : 1);
  });
  if (code == kSkipped) GTEST_SKIP() << "no way to make a read-only folder here";
  EXPECT_EQ(code, static_cast<int>(SaveStatus::folderNotWritable) * 2);
}

TEST_F(EncoderRegistryTest, SuccessReplacesAnExistingFileWhole) {
  writeBytes(folder.file("a.bin"), std::vector<std::uint8_t>(1000, 0xAA));
  auto raster = makeRaster(2, 2, 24);
  ASSERT_EQ(saveRaster(*raster, 24, folder.file("a.bin"), kRecording, 7, -1), SaveStatus::saved);
  const auto bytes = readBytes(folder.file("a.bin"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "written");
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.bin"});
}

TEST_F(EncoderRegistryTest, AFailedWriteLeavesTheEarlierFileAndNoTemporary) {
  const std::vector<std::uint8_t> earlier(1000, 0xAA);
  writeBytes(folder.file("a.bin"), earlier);
  auto raster = makeRaster(2, 2, 24);
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("a.bin"), kFailing, 7, -1), SaveStatus::writeFailed);
  EXPECT_EQ(readBytes(folder.file("a.bin")), earlier);
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.bin"});
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("new.bin"), kFailing, 7, -1), SaveStatus::writeFailed);
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.bin"});
}

TEST_F(EncoderRegistryTest, StopDuringTheWriteLeavesTheEarlierFileAndNoTemporary) {
  const std::vector<std::uint8_t> earlier(1000, 0xAA);
  writeBytes(folder.file("a.bin"), earlier);
  auto raster = makeRaster(2, 2, 24);
  CancelFlag cancel{false};
  raiseDuringWrite = &cancel;
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("a.bin"), kStopped, 7, -1, &cancel), SaveStatus::cancelled);
  raiseDuringWrite = nullptr;
  EXPECT_EQ(readBytes(folder.file("a.bin")), earlier);
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.bin"});
}

TEST_F(EncoderRegistryTest, StopBeforeTheFirstRowOfTheRealWriters) {
  const std::vector<std::uint8_t> earlier(1000, 0xAA);
  writeBytes(folder.file("a.out"), earlier);
  CancelFlag cancel{true};
  for (const int depth : {24, 32}) {
    auto raster = makeFilled(64, 64, depth,
                             [depth](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, depth); });
    for (const auto encoder : {kJpegEncoder, kPngEncoder}) {
      for (const int outDepth : {-1, 8}) {
        EXPECT_EQ(saveRaster(*raster, depth, folder.file("a.out"), encoder, 7, outDepth, &cancel),
                  SaveStatus::cancelled);
      }
    }
  }
  EXPECT_EQ(readBytes(folder.file("a.out")), earlier);
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.out"});
}

// Stop pressed on another thread while the real PNG writer is in the middle
// of its file: the test holds the writer's first write into the folder
// (noise: its output is far beyond one buffer, so rows remain), raises the flag
// from its own thread meanwhile, then lets the write go.
TEST_F(EncoderRegistryTest, StopFromAnotherThreadNeverLeavesATemporary) {
  const std::vector<std::uint8_t> earlier(1000, 0xAA);
  writeBytes(folder.file("a.png"), earlier);
  std::uint32_t seed = 12345;
  auto raster = makeFilled(600, 400, 24, [&seed](int, int, std::uint8_t* p) {
    for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  });
  CancelFlag cancel{false};
  held_write::holdIn(folder.path());
  std::thread stopper([&] {
    const bool entered = held_write::waitUntilEntered();
    cancel.store(true);
    held_write::release();
    EXPECT_TRUE(entered) << "the writer never wrote";
  });
  const auto status = saveRaster(*raster, 8, folder.file("a.png"), kPngEncoder, 7, -1, &cancel);
  stopper.join();
  EXPECT_EQ(status, SaveStatus::cancelled);
  EXPECT_EQ(folder.names(), std::set<std::string>{"a.png"});
  EXPECT_EQ(readBytes(folder.file("a.png")), earlier);
}

TEST_F(EncoderRegistryTest, TargetThatIsAFolderFailsWithoutLeftovers) {
  ASSERT_TRUE(std::filesystem::create_directory(folder.file("taken.jpg")));
  auto raster = makeRaster(8, 8, 24);
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("taken.jpg"), kJpegEncoder, 7, -1), SaveStatus::notAFile);
  EXPECT_EQ(folder.names(), std::set<std::string>{"taken.jpg"});
  EXPECT_TRUE(std::filesystem::is_directory(folder.file("taken.jpg")));
}

TEST_F(EncoderRegistryTest, NewFilesFollowTheUmask) {
  auto raster = makeRaster(2, 2, 24);
  for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
    const mode_t old = umask(mask);
    const std::string name = folder.file("m" + std::to_string(mask) + ".bin");
    const auto status = saveRaster(*raster, 24, name, kRecording, 7, -1);
    umask(old);
    ASSERT_EQ(status, SaveStatus::saved);
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask) << std::oct << mask;
  }
}

TEST_F(EncoderRegistryTest, ABareFileNameGoesToTheWorkingFolder) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  auto raster = makeRaster(2, 2, 24);
  const auto status = saveRaster(*raster, 24, "bare.bin", kRecording, 7, -1);
  std::filesystem::current_path(previous);
  EXPECT_EQ(status, SaveStatus::saved);
  EXPECT_EQ(folder.names(), std::set<std::string>{"bare.bin"});
}

TEST_F(EncoderRegistryTest, AVeryLongNameStillSaves) {
  const std::string name = std::string(250, 'n') + ".png";  // 254 bytes: legal, but no room for a prefix
  auto raster = makeRaster(4, 4, 24);
  EXPECT_EQ(saveRaster(*raster, 24, folder.file(name), kPngEncoder, 7, -1), SaveStatus::saved);
  EXPECT_EQ(folder.names(), std::set<std::string>{name});
}

// A full disk, played by a file-size limit: writes beyond it fail with EFBIG.
TEST_F(EncoderRegistryTest, FullDiskLeavesTheEarlierFileAndNoTemporary) {
  struct Case {
    std::uint32_t encoder;
    int depth;
    int sourceDepth;
  };
  for (const Case c : {Case{kJpegEncoder, 24, 24}, Case{kPngEncoder, 24, 24}, Case{kPngEncoder, 32, 32},
                       Case{kPngEncoder, 24, 8}}) {
    const std::vector<std::uint8_t> earlier(3000, 0x5A);
    writeBytes(folder.file("photo.out"), earlier);
    const std::string target = folder.file("photo.out");
    const int code = inChild([&] {
      auto raster = makeFilled(600, 400, c.depth, [&](int x, int y, std::uint8_t* p) {
        const unsigned h = static_cast<unsigned>(x * 7919 + y * 104729) * 2654435761u;
        p[0] = static_cast<std::uint8_t>(h >> 24), p[1] = static_cast<std::uint8_t>(h >> 16);
        p[2] = static_cast<std::uint8_t>(h >> 8);
        if (c.depth == 32) p[3] = static_cast<std::uint8_t>(h);
      });
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{20000, 20000};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return kSkipped;
      return static_cast<int>(saveRaster(*raster, c.sourceDepth, target, c.encoder, 10, -1));
    });
    ASSERT_NE(code, kSkipped);
    EXPECT_EQ(code, static_cast<int>(SaveStatus::writeFailed)) << c.encoder << " " << c.depth;
    EXPECT_EQ(readBytes(folder.file("photo.out")), earlier);
    EXPECT_EQ(folder.names(), std::set<std::string>{"photo.out"});
  }
}

// The real thing where a small file system can be mounted: ENOSPC.
TEST_F(EncoderRegistryTest, FullFileSystemLeavesTheEarlierFileAndNoTemporary) {
  const std::string mountPoint = folder.path();
  const int code = inChild([&] {
    if (unshare(CLONE_NEWNS) != 0) return kSkipped;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kSkipped;
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) return kSkipped;
    const std::vector<std::uint8_t> earlier(20000, 0x5A);
    writeBytes(mountPoint + "/photo.png", earlier);
    if (readBytes(mountPoint + "/photo.png") != earlier) return 101;
    auto raster = makeFilled(400, 400, 24, [](int x, int y, std::uint8_t* p) {
      const unsigned h = static_cast<unsigned>(x * 7919 + y * 104729) * 2654435761u;
      p[0] = static_cast<std::uint8_t>(h >> 24), p[1] = static_cast<std::uint8_t>(h >> 16);
      p[2] = static_cast<std::uint8_t>(h >> 8);
    });
    const auto status = saveRaster(*raster, 24, mountPoint + "/photo.png", kPngEncoder, 7, -1);
    if (status != SaveStatus::diskFull) return 102;
    const std::vector<std::uint8_t> encoded(100000, 0x77);
    if (saveEncoded(encoded, mountPoint + "/photo.png") != SaveStatus::diskFull) return 105;
    if (readBytes(mountPoint + "/photo.png") != earlier) return 103;
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(mountPoint)) ++entries;
    return entries == 1 ? 0 : 104;
  });
  if (code == kSkipped) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_EQ(code, 0);
}

int encodedWithRoom(const std::function<SaveStatus()>& encode, std::uint64_t room) {
  return pixmoor::testing::runWithRoom([&] { return static_cast<int>(encode()); }, room);
}

// Memory that runs out while encoding, for real: under a cap on the address
// space, in every place an encoding allocates.
TEST_F(EncoderRegistryTest, RunningOutOfMemoryWhileEncodingIsSaid) {
  if (!pixmoor::testing::kAddressSpaceCapWorks) GTEST_SKIP() << "no address-space cap under a sanitizer";
  constexpr std::uint64_t kKiB = 1024;
  struct Case {
    const char* what;
    int width;
    int height;
    int depth;
    int sourceDepth;
    std::uint32_t encoder;
    std::uint64_t room;
    SaveStatus toFile;
  };
  const int kOutOfMemory = static_cast<int>(SaveStatus::outOfMemory);
  const Case cases[] = {
      {"the copy flattened for JPEG", 3000, 3000, 32, 32, kJpegEncoder, 8192 * kKiB, SaveStatus::outOfMemory},
      {"the quantiser's copy", 3000, 3000, 24, 8, kPngEncoder, 8192 * kKiB, SaveStatus::outOfMemory},
      {"the encoded bytes, held in memory", 3000, 3000, 24, 24, kPngEncoder, 8192 * kKiB, SaveStatus::saved},
      {"libjpeg's buffers", 32767, 16, 24, 24, kJpegEncoder, 256 * kKiB, SaveStatus::outOfMemory},
      {"libpng's and zlib's buffers", 32767, 16, 24, 24, kPngEncoder, 128 * kKiB, SaveStatus::outOfMemory},
      {"libwebp's picture", 3000, 3000, 24, 24, kWebpEncoder, 8192 * kKiB, SaveStatus::outOfMemory},
      {"libwebp's lossless buffers", 3000, 3000, 32, 32, kWebpLosslessEncoder, 8192 * kKiB,
       SaveStatus::outOfMemory},
      {"the AVIF writer's copy of the rows", 3000, 3000, 24, 24, kAvifEncoder, 8192 * kKiB,
       SaveStatus::outOfMemory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Noise, which no encoder shrinks much.
    const auto raster = makeFilled(c.width, c.height, c.depth, [&](int x, int y, std::uint8_t* p) {
      const unsigned h = static_cast<unsigned>(x * 7919 + y * 104729) * 2654435761u;
      p[0] = static_cast<std::uint8_t>(h >> 24), p[1] = static_cast<std::uint8_t>(h >> 16);
      p[2] = static_cast<std::uint8_t>(h >> 8);
      if (c.depth == 32) p[3] = static_cast<std::uint8_t>(h);
    });
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(encodedWithRoom([&] { return encodeRaster(*raster, c.sourceDepth, c.encoder, 10, -1, bytes); },
                              c.room),
              kOutOfMemory);
    const std::string output = folder.file("a.out");
    EXPECT_EQ(encodedWithRoom([&] { return saveRaster(*raster, c.sourceDepth, output, c.encoder, 10, -1); },
                              c.room),
              static_cast<int>(c.toFile));
    EXPECT_EQ(folder.names().size(), c.toFile == SaveStatus::saved ? 1u : 0u);
    std::filesystem::remove(output);
  }
}

TEST_F(EncoderRegistryTest, HalfTransparentRedIsSavedAsPinkInJpeg) {
  auto raster =
      makeFilled(16, 16, 32, [](int, int, std::uint8_t* p) { p[0] = 0, p[1] = 0, p[2] = 255, p[3] = 128; });
  ASSERT_EQ(saveRaster(*raster, 32, folder.file("pink.jpg"), kJpegEncoder, 10, -1), SaveStatus::saved);
  const auto bytes = readBytes(folder.file("pink.jpg"));
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  std::vector<std::uint8_t> row(16 * 3);
  JSAMPROW rowPointer = row.data();
  jpeg_read_scanlines(&cinfo, &rowPointer, 1);
  jpeg_abort_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  // Blue 127, green 127, red 255, give or take the colour conversion.
  EXPECT_NEAR(row[0], 127, 2);
  EXPECT_NEAR(row[1], 127, 2);
  EXPECT_NEAR(row[2], 255, 2);
}

}  // namespace
}  // namespace pixmoor::image

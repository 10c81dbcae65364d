// The plan says what the run will do: for every case where a write is
// refused before a byte is written (what the output's name holds, links,
// permissions, the name's length, the Trash, the memory budget), the header
// plan, the exact plan and the run give the same reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_test_support.h"
#include "encoders/encode.h"
#include "support/batch_program.h"
#include "support/bounded_child.h"

namespace pixmoor::testing {
namespace {

namespace fs = std::filesystem;
using batch::testing::readPicture;
using batch::testing::writePicture;

struct Promise {
  const char* what;
  std::function<void(BatchProgramTest&)> setUp;  // a.jpg, 40 x 20, is there already
  std::vector<std::string> options;              // before the picture's name
  const char* reason;                            // what plan and run say
  bool asAnotherUser = false;                    // permissions only hold for an ordinary user
  bool needsSuperuser = false;                   // to make another user's files
  const char* landscapeWidth = "20";
};

void PrintTo(const Promise& promise, std::ostream* os) {
  *os << promise.what;
}

class PlanPromises : public BatchProgramTest {
 protected:
  // The reasons of the pictures of a JSON report.
  static std::vector<std::string> reasons(const std::string& out) {
    std::vector<std::string> found;
    for (const auto& object : jsonLinesOf(out)) {
      if (object["type"] == "picture") found.push_back(object["reason"].is_null() ? "" : object["reason"]);
    }
    return found;
  }
  ProgramRun runAs(const Promise& promise, std::vector<std::string> arguments) {
    return promise.asAnotherUser ? runAsAnotherUser(arguments) : run(arguments);
  }
  void expectKept(const Promise& promise) {
    for (const char* plan : {"--dry-run", "--dry-run=exact", ""}) {
      SCOPED_TRACE(std::string(promise.what) + " " + plan);
      std::vector<std::string> arguments = {"--json", "--landscape-width", promise.landscapeWidth};
      if (*plan != '\0') arguments.push_back(plan);
      arguments.insert(arguments.end(), promise.options.begin(), promise.options.end());
      arguments.push_back("a.jpg");
      const ProgramRun r = runAs(promise, arguments);
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(reasons(r.out), std::vector<std::string>{promise.reason}) << r.out;
      const auto objects = jsonLinesOf(r.out);
      // A picture that would produce no file has no output size, planned or not.
      if (!objects.empty()) {
        EXPECT_TRUE(objects.front()["output_bytes"].is_null()) << r.out;
      }
    }
  }
};

void makeFifo(const std::string& path) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
}

const Promise kPromises[] = {
    {"the output's name is a folder",
     [](BatchProgramTest& t) { fs::create_directory(t.path("p_a.jpg")); },
     {"--prefix", "p_"},
     "not-a-file"},
    {"the output's name is a FIFO",
     [](BatchProgramTest& t) { makeFifo(t.path("p_a.jpg")); },
     {"--prefix", "p_"},
     "not-a-file"},
    {"the output's name is a read-only file",
     [](BatchProgramTest& t) {
       writeBytes(t.path("p_a.jpg"), "old");
       fs::permissions(t.path("p_a.jpg"), fs::perms::owner_read | fs::perms::others_read);
     },
     {"--prefix", "p_"},
     "write-protected",
     true},
    {"the output's name is a dangling link",
     [](BatchProgramTest& t) { fs::create_symlink("nowhere/x.jpg", t.path("p_a.jpg")); },
     {"--prefix", "p_"},
     "link-refused"},
    {"the output's name is another user's link",
     [](BatchProgramTest& t) {
       writeBytes(t.path("target.jpg"), "old");
       fs::create_symlink("target.jpg", t.path("p_a.jpg"));
       ASSERT_EQ(::lchown(t.path("p_a.jpg").c_str(), kOtherUser, kOtherGroup), 0);
     },
     {"--prefix", "p_"},
     "link-refused",
     false,
     true},
    {"the output's name is longer than a name may be",
     [](BatchProgramTest&) {},
     {"--prefix", std::string(252, 'p')},
     "name-too-long"},
    {"without a prefix, a read-only source",
     [](BatchProgramTest& t) {
       fs::permissions(t.path("a.jpg"), fs::perms::owner_read | fs::perms::others_read);
     },
     {"--prefix", "0"},
     "write-protected",
     true},
    {"without a prefix, a source linked to another user's picture",
     [](BatchProgramTest& t) {
       fs::rename(t.path("a.jpg"), t.path("theirs.jpg"));
       ASSERT_EQ(::chown(t.path("theirs.jpg").c_str(), kOtherUser, kOtherGroup), 0);
       fs::create_symlink("theirs.jpg", t.path("a.jpg"));
     },
     {"--prefix", "0"},
     "link-refused",
     false,
     true},
    {"a WebP side above 16383",
     [](BatchProgramTest&) {},
     {"--prefix", "p_", "--format", "webp"},
     "too-large-for-format",
     false,
     false,
     "16384"},
    {"no Trash can be reached",
     [](BatchProgramTest& t) {
       writeBytes(t.homeFile("plain"), "");
       t.setDataHome(t.homeFile("plain/data"));
     },
     {"--prefix", "0", "--trash-originals"},
     "not-trashed"},
};

class PlanPromise : public PlanPromises, public ::testing::WithParamInterface<Promise> {};

TEST_P(PlanPromise, PlanAndRunGiveTheSameReason) {
  const Promise& promise = GetParam();
  if (promise.needsSuperuser && !canActAsAnotherUser()) GTEST_SKIP() << "needs the superuser";
  if (promise.asAnotherUser) {
    PIXMOOR_SKIP_UNLESS_ORDINARY_USER_CAN_RUN(PIXMOOR_BATCH_PROGRAM);
  }
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  promise.setUp(*this);
  expectKept(promise);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlanPromise, ::testing::ValuesIn(kPromises), [](const auto& info) {
  std::string name;
  for (const char* c = info.param.what; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) name.push_back(*c);
  }
  return name;
});

// Under a cap on its address space the program's budget is small: a picture
// enlarged far beyond it is refused by the plans as by the run.
TEST_F(PlanPromises, APictureBeyondTheMemoryBudget) {
  if (!kAddressSpaceCapWorks) GTEST_SKIP() << "no address-space cap under a sanitizer";
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  setShellPrefix("ulimit -v 2097152;");
  expectKept({"enlarged far beyond the budget",
              [](BatchProgramTest&) {},
              {},
              "too-large-for-memory",
              false,
              false,
              "30000"});
}

// Two spellings of one source give one output: the plan sees the second
// land on the output planned for the first, and refuses it as the run does
// (the first of several sources of one output writes it).
TEST_F(PlanPromises, AnotherSpellingOfAnOutputPlannedBefore) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  const std::vector<std::string> arguments = {"--json", "--landscape-width", "20", "a.jpg", "./a.jpg"};
  std::vector<std::string> planArguments = arguments;
  planArguments.insert(planArguments.begin(), "--dry-run");
  const ProgramRun plan = run(planArguments);
  const auto objects = jsonLinesOf(plan.out);
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0]["output_state"], "new");
  EXPECT_EQ(objects[1]["output_state"], "exists");
  EXPECT_EQ(linesOf(plan.err)[1], "./a.jpg: no file: would replace another picture");
  const ProgramRun written = run(arguments);
  const auto reported = jsonLinesOf(written.out);
  ASSERT_EQ(reported.size(), 3u);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(reported[i]["reason"], objects[i]["reason"]) << i;
  EXPECT_EQ(plan.status, written.status);
}

// Under skip, a name the run's own earlier output takes is a clash of two
// pictures, as under replace: refused in plan and run alike, never "left".
TEST_F(PlanPromises, SkipTreatsTheRunsOwnOutputAsReplaceDoes) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("a.png"), 40, 20, image::kPngEncoder));
  for (const char* rule : {"replace", "skip"}) {
    SCOPED_TRACE(rule);
    for (const char* plan : {"--dry-run", "--dry-run=exact", ""}) {
      SCOPED_TRACE(plan);
      std::vector<std::string> arguments = {"--json", "--if-exists", rule,   "--prefix",
                                            "p_",     "a.jpg",       "a.png"};
      if (*plan != '\0') arguments.insert(arguments.begin(), plan);
      const ProgramRun r = run(arguments);
      EXPECT_EQ(reasons(r.out), (std::vector<std::string>{"", "would-replace-another"})) << r.out;
      EXPECT_EQ(r.status, 1);
      fs::remove(path("p_a.jpg"));
    }
  }
}

// Rename tries "name (1)" to "name (9999)", then leaves the picture: the plan
// stops where the run stops.
TEST_F(PlanPromises, RenameStopsAtTheSameNumberInPlanAndRun) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  writeBytes(path("p_a.jpg"), "");
  for (int n = 1; n <= 9999; ++n) writeBytes(path("p_a (" + std::to_string(n) + ").jpg"), "");
  for (const char* plan : {"--dry-run", ""}) {
    SCOPED_TRACE(plan);
    std::vector<std::string> arguments = {"--json", "--if-exists", "rename", "--prefix", "p_", "a.jpg"};
    if (*plan != '\0') arguments.insert(arguments.begin(), plan);
    const ProgramRun r = run(arguments);
    EXPECT_EQ(reasons(r.out), std::vector<std::string>{"exists"}) << r.out;
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_EQ(readBytes(path("p_a.jpg")), "");
}

// A mirrored folder whose name holds a file (at its own level or above) is
// refused by the plan with the run's reason.
TEST_F(PlanPromises, AMirroredFolderHeldByAFileIsNamedAsTheRunNamesIt) {
  fs::create_directories(work() / "tree/sub/deep");
  fs::create_directories(work() / "out");
  ASSERT_TRUE(writePicture(path("tree/sub/x.jpg"), 40, 20, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("tree/sub/deep/y.jpg"), 40, 20, image::kJpegEncoder));
  writeBytes(path("out/sub"), "");
  for (const char* plan : {"--dry-run", ""}) {
    SCOPED_TRACE(plan);
    std::vector<std::string> arguments = {"--json", "--recursive", "--output-dir", "out", "--prefix",
                                          "0",      "--size",      "20x20",        "tree"};
    if (*plan != '\0') arguments.insert(arguments.begin(), plan);
    const ProgramRun r = run(arguments);
    EXPECT_EQ(reasons(r.out), (std::vector<std::string>{"not-a-file", "not-a-file"})) << r.out;
  }
}

// --shrink-only leaves a source within its target as it is, but not one
// with more bytes than --max-bytes allows: that one is encoded again.
TEST_F(PlanPromises, ShrinkOnlyStillKeepsTheByteLimit) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 400, 200, image::kJpegEncoder));
  const std::uint64_t before = fs::file_size(path("a.jpg"));
  const std::string limit = std::to_string(before / 2);
  for (const char* plan : {"--dry-run=exact", ""}) {
    SCOPED_TRACE(plan);
    std::vector<std::string> arguments = {"--json", "--prefix",    "0",   "--shrink-only", "--long-edge",
                                          "800",    "--max-bytes", limit, "a.jpg"};
    if (*plan != '\0') arguments.insert(arguments.begin(), plan);
    const ProgramRun r = run(arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    const auto objects = jsonLinesOf(r.out);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects[0]["outcome"], *plan != '\0' ? "planned" : "written") << r.out;
    EXPECT_LE(objects[0]["output_bytes"].get<std::uint64_t>(), before / 2) << r.out;
  }
  EXPECT_LE(fs::file_size(path("a.jpg")), before / 2);
  // Within the limit it is left.
  const ProgramRun again = run({"--json", "--prefix", "0", "--shrink-only", "--long-edge", "800",
                                "--max-bytes", std::to_string(before), "a.jpg"});
  EXPECT_EQ(jsonLinesOf(again.out).at(0)["reason"], "already-small") << again.out;
}

// Short of file descriptors (RLIMIT_NOFILE), a picture the program cannot
// open, hand to its decode helper or write is said to be that, never
// anything else; and a low enough limit does say it. The limit is the
// program's alone (prlimit), so that the shell's redirections, and however
// many descriptors the test inherited, do not take from it.
TEST_F(PlanPromises, RunningOutOfDescriptorsIsNamedAsSuch) {
  fs::copy_file(PIXMOOR_TEST_DATA "/exif/phone.jpg", path("a.jpg"));
  fs::copy_file(PIXMOOR_TEST_DATA "/exif/phone.webp", path("b.webp"));
  fs::copy_file(PIXMOOR_TEST_DATA "/exif/phone.png", path("c.png"));
  bool named = false;
  for (int limit = 4; limit <= 64; ++limit) {
    SCOPED_TRACE(limit);
    setShellPrefix("prlimit --nofile=" + std::to_string(limit) + " --");
    const ProgramRun r = run({"--json", "--prefix", "p_", "--size", "20x20", "a.jpg", "b.webp", "c.png"});
    int written = 0;
    for (const auto& object : jsonLinesOf(r.out)) {
      if (object["type"] != "picture") continue;
      written += object["outcome"] == "written" ? 1 : 0;
      if (object["reason"].is_null()) continue;
      EXPECT_EQ(object["reason"], "too-many-open-files") << r.out;
      named = true;
    }
    for (const char* output : {"p_a.jpg", "p_b.jpg", "p_c.jpg"}) fs::remove(path(output));
    if (written == 3) break;  // enough descriptors: a higher limit says no more
  }
  EXPECT_TRUE(named) << "no limit ran out of descriptors";
}

// The header plan against the run over every input format, output format,
// metadata choice and budget (a tight one under a cap on the address space,
// with pictures enlarged beyond it): each picture's outcome, reason,
// warnings, metadata and output size agree.
TEST_F(PlanPromises, TheHeaderPlanIsTheRunForEveryFormat) {
  const std::pair<const char*, const char*> inputs[] = {
      {"exif/phone.jpg", "in_jpg.jpg"},
      {"exif/phone.png", "in_png.png"},
      {"gif/good/igif_interlaced.gif", "in_gif.gif"},
      {"exif/phone.webp", "in_webp.webp"},
      {"tiff/good/lt_minisblack-1c-8b.tiff", "in_tif.tif"},
      {"exif/phone.heic", "in_heic.heic"},
      {"exif/phone.avif", "in_avif.avif"},
  };
  for (const auto& [from, name] : inputs)
    fs::copy_file(std::string(PIXMOOR_TEST_DATA "/") + from, path(name));
  // And a PNG of 70,000 bytes of EXIF, more than a JPEG segment holds.
  fs::copy_file(PIXMOOR_TEST_DATA "/exif/phone.png", path("in_big_exif.png"));
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -UserComment=" + std::string(70000, 'c') + " " +
                         shellQuoted(path("in_big_exif.png")))
                            .c_str()),
            0);
  const auto facts = [](const ProgramRun& r) {
    std::vector<std::string> seen;
    for (const auto& object : jsonLinesOf(r.out)) {
      if (object["type"] != "picture") continue;
      std::string outcome = object["outcome"];
      if (outcome == "planned") outcome = "written";
      seen.push_back(object["source"].get<std::string>() + " " + outcome + " " + object["reason"].dump() +
                     " " + object["warnings"].dump() + " " + object["metadata"].dump() + " " +
                     object["output_width"].dump() + "x" + object["output_height"].dump());
    }
    return seen;
  };
  for (const bool tight : {false, true}) {
    if (tight && !kAddressSpaceCapWorks) continue;
    setShellPrefix(tight ? "ulimit -v 2097152;" : "");
    for (const char* format : {"jpg", "png", "webp", "avif"}) {
      for (const char* metadata : {"none", "keep"}) {
        SCOPED_TRACE(std::string(format) + " " + metadata + (tight ? " tight" : ""));
        std::vector<std::string> arguments = {"--json",   "--prefix",    "p_",
                                              "--format", format,        "--metadata",
                                              metadata,   "--long-edge", tight ? "30000" : "40"};
        for (const auto& input : inputs) arguments.push_back(input.second);
        arguments.push_back("in_big_exif.png");
        std::vector<std::string> planArguments = arguments;
        planArguments.insert(planArguments.begin(), "--dry-run");
        const std::vector<std::string> planned = facts(run(planArguments));
        const std::vector<std::string> written = facts(run(arguments));
        EXPECT_EQ(planned.size(), std::size(inputs) + 1);
        EXPECT_EQ(planned, written);
        for (const auto& entry : fs::directory_iterator(work())) {
          if (entry.path().filename().string().rfind("p_", 0) == 0) fs::remove(entry.path());
        }
      }
    }
  }
}

// A PNG turned by its eXIf chunk is planned with its upright sides and
// written upright.
TEST_F(PlanPromises, TurnedPngIsPlannedAndWrittenUpright) {
  ASSERT_TRUE(writePicture(path("a.png"), 40, 20, image::kPngEncoder));
  std::string png = readBytes(path("a.png"));
  // An eXIf chunk (orientation 6, a quarter turn) after the header chunk.
  const std::string exif("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
  std::string chunk = std::string("\0\0\0\x1A", 4) + "eXIf" + exif;
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 4; i < chunk.size(); ++i) {
    crc ^= static_cast<unsigned char>(chunk[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc = ~crc;
  for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<char>(crc >> (24 - 8 * i)));
  png.insert(8 + 25, chunk);
  writeBytes(path("a.png"), png);
  const ProgramRun plan = run({"--dry-run", "--portrait-height", "10", "a.png"});
  EXPECT_EQ(linesOf(plan.out).front(), "a.png: 20x40 -> 5x10, prefix_a.jpg (new)");
  EXPECT_EQ(run({"--portrait-height", "10", "a.png"}).status, 0);
  const auto facts = readPicture(path("prefix_a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 5);
  EXPECT_EQ(facts->height, 10);
}

}  // namespace
}  // namespace pixmoor::testing

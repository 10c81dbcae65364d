// Where pixmoor-batch's outputs may land, run as a user runs it: only "0"
// means replacing the sources, a prefix stays in the source's folder, and
// an output never replaces another source of the run, an output an earlier
// picture of the run wrote, or (through a link) a picture of another format.
// The plan says what the run does.
#include <gtest/gtest.h>

#include <filesystem>

#include "batch/batch_test_support.h"
#include "support/batch_program.h"

namespace pixmoor::companion {
namespace {

namespace fs = std::filesystem;
using batch::testing::folderNames;
using batch::testing::readPicture;
using batch::testing::writePicture;
using pixmoor::testing::jsonLinesOf;
using pixmoor::testing::linesOf;
using pixmoor::testing::ProgramRun;
using pixmoor::testing::readBytes;

class PrefixAndOutputs : public ::testing::Test, protected pixmoor::testing::BatchProgramFolder {
 protected:
  // A 200 x 100 picture whose blue tells it apart from the others.
  void picture(const std::string& name, std::uint8_t blue, std::uint32_t encoder = image::kJpegEncoder) {
    ASSERT_TRUE(writePicture(path(name), 200, 100, encoder, blue)) << name;
  }
  int blueOf(const std::string& name) {
    const auto facts = readPicture(path(name));
    return facts ? facts->meanBlue : -1;
  }
};

std::vector<std::string> reasonsOf(const ProgramRun& r) {
  std::vector<std::string> reasons;
  for (const auto& object : jsonLinesOf(r.out)) {
    if (object["type"] == "picture") reasons.push_back(object["reason"].is_null() ? "-" : object["reason"]);
  }
  return reasons;
}

// An empty prefix (an unset variable in a script), one holding "/", and a
// value that starts with "--" taken from the next argument are usage errors:
// nothing is read or written.
TEST_F(PrefixAndOutputs, OnlyZeroMeansReplacingTheSources) {
  picture("a.jpg", 240);
  picture("a.png", 10, image::kPngEncoder);
  fs::create_directory(path("album"));
  picture("album/b.jpg", 240);
  const std::string original = readBytes(path("a.jpg"));
  struct Row {
    std::vector<std::string> arguments;
    const char* says;
  };
  const Row rows[] = {
      {{"--prefix", "", "a.jpg"}, "--prefix is empty: only \"0\" means replacing the sources"},
      {{"--prefix=", "a.jpg"}, "--prefix is empty: only \"0\" means replacing the sources"},
      // An unset variable in a script: never "beside the sources", where prefix 0 replaces them.
      {{"--prefix", "0", "--output-dir", "", "a.jpg"}, "--output-dir is empty: give a path"},
      {{"--prefix", "0", "--settings=", "a.jpg"}, "--settings is empty: give a path"},
      {{"--prefix", "./", "a.jpg", "a.png"}, "--prefix holds \"/\": an output is written beside its source"},
      {{"--prefix", "small/", "a.jpg"}, "--prefix holds \"/\": an output is written beside its source"},
      {{"--prefix", "--dry-run", "album"},
       "--prefix needs a value, not the option '--dry-run' (a value starting with \"--\" is given as "
       "--prefix=VALUE)"},
  };
  for (const Row& row : rows) {
    const ProgramRun r = run(row.arguments);
    EXPECT_EQ(r.status, 2) << row.says;
    EXPECT_EQ(r.err, std::string("pixmoor-batch: ") + row.says + " (see --help)\n");
    EXPECT_TRUE(readBytes(path("a.jpg")) == original);
    EXPECT_EQ(folderNames(work()), (std::vector<std::string>{"a.jpg", "a.png", "album"}));
    EXPECT_EQ(folderNames(path("album")), std::vector<std::string>{"b.jpg"});
  }
  const ProgramRun r = run({"--prefix=--", "--quiet", "a.jpg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(blueOf("--a.jpg"), 200);
}

// a.jpg's output would be pa.jpg, itself a source of the run: a.jpg is
// refused, and pa.jpg is read as it was, whatever the order of the two.
TEST_F(PrefixAndOutputs, AnOutputNeverReplacesAnotherSource) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "the folder" : "the files");
    fs::remove_all(path("d"));
    fs::create_directory(path("d"));
    picture("d/a.jpg", 240);
    picture("d/pa.jpg", 10);
    const std::string other = readBytes(path("d/pa.jpg"));
    const std::vector<std::string> sources =
        folder ? std::vector<std::string>{"d"} : std::vector<std::string>{"d/a.jpg", "d/pa.jpg"};
    std::vector<std::string> arguments = {"--prefix", "p", "--landscape-width", "40", "--json"};
    arguments.insert(arguments.end(), sources.begin(), sources.end());
    std::vector<std::string> planned = arguments;
    planned.insert(planned.begin(), "--dry-run");
    const ProgramRun plan = run(planned);
    const ProgramRun r = run(arguments);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(plan.status, 1);
    EXPECT_EQ(linesOf(r.err).back(), "d/a.jpg: would replace another picture");
    EXPECT_EQ(reasonsOf(r), reasonsOf(plan));
    EXPECT_TRUE(readBytes(path("d/pa.jpg")) == other);
    EXPECT_LT(blueOf("d/ppa.jpg"), 50);
    EXPECT_EQ(folderNames(path("d")), (std::vector<std::string>{"a.jpg", "pa.jpg", "ppa.jpg"}));
  }
}

// Several sources giving one output: the first writes it, each later one
// is refused rather than replace what the run just wrote. Also two spellings
// of one source with no prefix: it is resized once.
TEST_F(PrefixAndOutputs, TheFirstOfSeveralSourcesOfOneOutputWritesIt) {
  picture("a.jpg", 240);
  picture("a.png", 10, image::kPngEncoder);
  const std::vector<std::string> arguments = {"--prefix", "p",    "--landscape-width", "40", "--json",
                                              "a.jpg",    "a.png"};
  std::vector<std::string> planned = arguments;
  planned.insert(planned.begin(), "--dry-run");
  const ProgramRun plan = run(planned);
  EXPECT_EQ(plan.status, 1);
  EXPECT_EQ(reasonsOf(plan), (std::vector<std::string>{"-", "would-replace-another"}));
  const ProgramRun r = run(arguments);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(reasonsOf(r), (std::vector<std::string>{"-", "would-replace-another"}));
  EXPECT_EQ(linesOf(r.err).back(), "a.png: would replace another picture");
  EXPECT_GT(blueOf("pa.jpg"), 200);

  const ProgramRun twice = run({"--prefix", "0", "--size", "100x50", "--json", "a.jpg", "./a.jpg"});
  EXPECT_EQ(twice.status, 1);
  EXPECT_EQ(reasonsOf(twice), (std::vector<std::string>{"-", "would-replace-another"}));
  EXPECT_EQ(readPicture(path("a.jpg"))->width, 100);
}

// With no prefix a link's output is judged on the file it leads to: a.jpg
// leading to a.png would put JPEG bytes into a.png, which is refused from
// either name; a link to a picture of its own output name is replaced there.
TEST_F(PrefixAndOutputs, ALinkSourceIsJudgedWhereItLeads) {
  fs::create_directories(path("album/real"));
  picture("album/a.png", 10, image::kPngEncoder);
  fs::create_symlink("a.png", path("album/a.jpg"));
  picture("album/real/b.jpg", 240);
  fs::create_symlink("real/b.jpg", path("album/b.jpg"));
  const std::string png = readBytes(path("album/a.png"));
  const std::vector<std::string> arguments = {"--prefix", "0",           "--landscape-width", "40",
                                              "--json",   "album/a.jpg", "album/a.png",       "album/b.jpg"};
  std::vector<std::string> planned = arguments;
  planned.insert(planned.begin(), "--dry-run");
  const ProgramRun plan = run(planned);
  const ProgramRun r = run(arguments);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(plan.status, 1);
  const std::vector<std::string> reasons = {"would-replace-another", "would-replace-another", "-"};
  EXPECT_EQ(reasonsOf(plan), reasons);
  EXPECT_EQ(reasonsOf(r), reasons);
  EXPECT_TRUE(readBytes(path("album/a.png")) == png);
  EXPECT_TRUE(fs::is_symlink(path("album/a.jpg")));
  EXPECT_TRUE(fs::is_symlink(path("album/b.jpg")));
  EXPECT_EQ(readPicture(path("album/real/b.jpg"))->width, 40);
  EXPECT_EQ(folderNames(path("album")), (std::vector<std::string>{"a.jpg", "a.png", "b.jpg", "real"}));
}

}  // namespace
}  // namespace pixmoor::companion

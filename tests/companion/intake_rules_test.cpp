// What pixmoor-batch takes from the paths it is given, run as a user runs
// it: never a Trash, hidden folders only when asked, and every path it
// leaves out named on standard error and in the JSON report; a settings
// file it cannot use as written is named with what is used instead.
#include "companion/intake_rules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "batch/batch_test_support.h"
#include "support/batch_program.h"

namespace pixmoor::companion {
namespace {

namespace fs = std::filesystem;
using batch::testing::readPicture;
using batch::testing::writePicture;
using pixmoor::testing::jsonLinesOf;
using pixmoor::testing::linesOf;
using pixmoor::testing::nameIn;
using pixmoor::testing::ProgramRun;
using pixmoor::testing::readBytes;
using pixmoor::testing::writeBytes;

class IntakeRules : public ::testing::Test, protected pixmoor::testing::BatchProgramFolder {
 protected:
  void picture(const std::string& name, int width = 40) {
    fs::create_directories(fs::path(path(name)).parent_path());
    ASSERT_TRUE(writePicture(path(name), width, 20, image::kJpegEncoder)) << name;
  }
};

std::vector<std::string> sourcesOf(const ProgramRun& r) {
  std::vector<std::string> sources;
  for (const auto& object : jsonLinesOf(r.out)) {
    if (object["type"] == "picture") sources.push_back(nameIn(object, "source"));
  }
  return sources;
}

// Each "skipped" object of the report as "source: reason".
std::vector<std::string> skippedOf(const ProgramRun& r) {
  std::vector<std::string> skipped;
  for (const auto& object : jsonLinesOf(r.out)) {
    if (object["type"] == "skipped")
      skipped.push_back(nameIn(object, "source") + ": " + object["reason"].get<std::string>());
  }
  return skipped;
}

const nlohmann::json summaryOf(const ProgramRun& r) {
  const auto objects = jsonLinesOf(r.out);
  return objects.empty() ? nlohmann::json() : objects.back();
}

TEST(HomeTrash, WhereverTheDesktopMayKeepIt) {
  EXPECT_EQ(homeTrashFolders("/d", "/h"), (std::vector<std::string>{"/d/Trash", "/h/.local/share/Trash"}));
  EXPECT_EQ(homeTrashFolders(nullptr, "/h"), std::vector<std::string>{"/h/.local/share/Trash"});
  EXPECT_EQ(homeTrashFolders("", ""), std::vector<std::string>{});
  const batch::IntakeRules rules =
      companionIntakeRules(Options{.recursive = true, .hidden = true}, "/d", nullptr);
  EXPECT_EQ(rules.depth, batch::FolderDepth::withSubfolders);
  EXPECT_TRUE(rules.lookAtEachPath && rules.hiddenFolders);
  EXPECT_EQ(rules.formats, image::FormatSet::companion);
  EXPECT_EQ(rules.trashFolders, std::vector<std::string>{"/d/Trash"});
}

// After `--prefix 0 --trash-originals`, a later `--prefix 0 --recursive`
// over the home must leave the trashed originals as they are: neither the
// home Trash (wherever XDG_DATA_HOME puts it, here in a folder that is not
// hidden) nor a mount's .Trash-UID or .Trash/UID is walked, --hidden or not.
TEST_F(IntakeRules, RecursiveNeverEntersATrash) {
  const std::string uid = std::to_string(::getuid());
  setDataHome(path("tree/data"));
  const std::vector<std::string> trashed = {"tree/data/Trash/files/old.jpg",
                                            "tree/media/.Trash-" + uid + "/files/t.jpg",
                                            "tree/media/.Trash/" + uid + "/files/u.jpg"};
  for (const std::string& name : trashed) picture(name, 200);
  writeBytes(path("tree/data/Trash/info/old.jpg.trashinfo"), "[Trash Info]\nPath=/x/old.jpg\n");
  picture("tree/a.jpg", 200);
  picture("tree/.h.jpg", 200);        // a hidden file is taken, as a drop takes it
  picture("tree/.cache/c.jpg", 200);  // a hidden folder only with --hidden
  std::map<std::string, std::string> before;
  for (const std::string& name : trashed) before[name] = readBytes(path(name));

  const std::vector<std::string> arguments = {"--prefix",          "0",   "--recursive", "--json", "--quiet",
                                              "--landscape-width", "100", path("tree")};
  ProgramRun r = run(arguments);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sourcesOf(r), (std::vector<std::string>{path("tree/.h.jpg"), path("tree/a.jpg")}));
  std::vector<std::string> hidden = arguments;
  hidden.insert(hidden.begin(), "--hidden");
  r = run(hidden);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sourcesOf(r),
            (std::vector<std::string>{path("tree/.h.jpg"), path("tree/a.jpg"), path("tree/.cache/c.jpg")}));
  EXPECT_EQ(readPicture(path("tree/.cache/c.jpg"))->width, 100);
  for (const std::string& name : trashed) EXPECT_TRUE(readBytes(path(name)) == before[name]) << name;
  EXPECT_EQ(batch::testing::folderNames(path("tree/data/Trash/files")), std::vector<std::string>{"old.jpg"});
}

// A folder given by name is walked though hidden; its own hidden subfolders
// still only with --hidden.
TEST_F(IntakeRules, AHiddenFolderGivenByNameIsWalked) {
  picture(".album/a.jpg");
  picture(".album/.thumbnails/t.jpg");
  for (const bool recursive : {false, true}) {
    std::vector<std::string> arguments = {"--json", "--dry-run", ".album"};
    if (recursive) arguments.insert(arguments.begin(), "--recursive");
    const ProgramRun r = run(arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sourcesOf(r), std::vector<std::string>{".album/a.jpg"});
  }
}

// A Trash, or anything in one, given by name is skipped with its reason.
TEST_F(IntakeRules, ATrashGivenByNameIsSkipped) {
  setDataHome(path("data"));
  picture("data/Trash/files/old.jpg");
  picture(".Trash-" + std::to_string(::getuid()) + "/files/t.jpg");
  picture("a.jpg");
  const std::string before = readBytes(path("data/Trash/files/old.jpg"));

  ProgramRun r = run({"--json", "--prefix", "0", path("data/Trash/files")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(skippedOf(r), std::vector<std::string>{path("data/Trash/files") + ": in-trash"});
  r = run({"--json", "--prefix", "0", "a.jpg", path("data/Trash/files/old.jpg"),
           ".Trash-" + std::to_string(::getuid()) + "/files"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(sourcesOf(r), std::vector<std::string>{"a.jpg"});
  EXPECT_EQ(skippedOf(r),
            (std::vector<std::string>{path("data/Trash/files/old.jpg") + ": in-trash",
                                      ".Trash-" + std::to_string(::getuid()) + "/files: in-trash"}));
  EXPECT_TRUE(readBytes(path("data/Trash/files/old.jpg")) == before);
}

// Every path left out is named on standard error and in the report, and
// makes the status 1 (2 when nothing at all is left to do).
TEST_F(IntakeRules, NothingLeftOutWithoutAWord) {
  picture("a.jpg");
  picture("album/b.jpg");
  picture("other/c.jpg");
  fs::create_directory(path("folder.jpg"));
  struct Row {
    std::vector<std::string> paths;
    int status;
    std::vector<std::string> skipped;  // in the report
    std::vector<std::string> lines;    // on standard error
  };
  const std::string beside = "a folder given with other paths (one folder is walked only when alone)";
  const Row rows[] = {
      {{"a.jpg", "album"}, 1, {"album: folder-among-others"}, {"album: skipped, " + beside}},
      {{"a.jpg", "folder.jpg"}, 1, {"folder.jpg: folder-among-others"}, {"folder.jpg: skipped, " + beside}},
      {{"missing.jpg", "a.jpg", "missing"},
       1,
       {"missing.jpg: not-found", "missing: not-found"},
       {"missing.jpg: skipped, does not exist", "missing: skipped, does not exist"}},
      {{"album", "other"},
       2,
       {"album: folder-among-others", "other: folder-among-others"},
       {"album: skipped, " + beside, "other: skipped, " + beside, "pixmoor-batch: no picture to process"}},
      {{"missing"},
       2,
       {"missing: not-found"},
       {"missing: skipped, does not exist", "pixmoor-batch: no picture to process"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.paths.front() + " " + row.paths.back());
    for (const char* mode : {"--json", "--dry-run"}) {
      std::vector<std::string> arguments = {"--quiet", "--json", mode};
      arguments.insert(arguments.end(), row.paths.begin(), row.paths.end());
      const ProgramRun r = run(arguments);
      EXPECT_EQ(r.status, row.status) << mode;
      EXPECT_EQ(skippedOf(r), row.skipped) << mode;
      EXPECT_EQ(linesOf(r.err), row.lines) << mode;
      EXPECT_EQ(summaryOf(r)["skipped"], row.skipped.size()) << mode;
      EXPECT_EQ(summaryOf(r)["exit_status"], row.status) << mode;
    }
  }
}

// Under --recursive: a folder that cannot be read, and a path deeper than
// the system lets a path be.
TEST_F(IntakeRules, UnreadableAndTooDeepFoldersAreNamed) {
  PIXMOOR_SKIP_UNLESS_ORDINARY_USER_CAN_RUN(PIXMOOR_BATCH_PROGRAM);
  picture("tree/open/a.jpg");
  picture("tree/locked/b.jpg");
  fs::permissions(path("tree/open"), fs::perms::all);
  fs::permissions(path("tree/locked"), fs::perms::none);
  ProgramRun r = runAsAnotherUser({"--recursive", "--json", "--quiet", path("tree")});
  fs::permissions(path("tree/locked"), fs::perms::owner_all);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(sourcesOf(r), std::vector<std::string>{path("tree/open/a.jpg")});
  EXPECT_EQ(skippedOf(r), std::vector<std::string>{path("tree/locked") + ": unreadable-folder"});
  EXPECT_EQ(r.err, path("tree/locked") + ": skipped, a folder that cannot be read\n");
  EXPECT_TRUE(readPicture(path("tree/open/prefix_a.jpg")));

  // Folders of 200-byte names, made one inside the other until the path is
  // longer than PATH_MAX: the walk cannot name what lies below.
  fs::remove_all(path("tree/locked"));
  fs::remove(path("tree/open/prefix_a.jpg"));
  fs::create_directory(path("tree/deep"));
  const std::string name(200, 'd');
  int folder = ::open(path("tree/deep").c_str(), O_DIRECTORY | O_RDONLY);
  std::size_t length = path("tree/deep").size();
  while (length < PATH_MAX + 400) {
    ASSERT_EQ(::mkdirat(folder, name.c_str(), 0755), 0);
    const int inner = ::openat(folder, name.c_str(), O_DIRECTORY | O_RDONLY);
    ::close(folder);
    folder = inner;
    length += name.size() + 1;
  }
  ::close(folder);
  r = run({"--recursive", "--json", "--quiet", "--dry-run", path("tree")});
  // Deeper than a path may be named: rm walks it by descriptors.
  EXPECT_EQ(std::system(("rm -rf " + pixmoor::testing::shellQuoted(path("tree/deep"))).c_str()), 0);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto skipped = skippedOf(r);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].rfind(path("tree/deep/") + name, 0), 0u);
  EXPECT_GE(skipped[0].size(), PATH_MAX);
  EXPECT_EQ(skipped[0].substr(skipped[0].size() - 15), ": path-too-long");
  EXPECT_EQ(linesOf(r.err).size(), 1u);
  EXPECT_NE(r.err.find(": skipped, path longer than the system allows"), std::string::npos);
}

// A settings file the window would read as all defaults, or not read, is
// named with what is used instead; given with --settings it is a usage
// error. So is an empty or a "/" PREFIX, unless --prefix overrides it.
TEST_F(IntakeRules, ASettingsFileThatCannotBeUsedAsWritten) {
  picture("a.jpg", 200);
  const std::string original = readBytes(path("a.jpg"));
  struct Row {
    std::string bytes;
    const char* problem;
    const char* instead;
  };
  const char* defaults = "the built-in settings are used instead";
  const Row rows[] = {
      {"[USER]\r\nPREFIX = 0\r\n", "its only group is [USER], and a file of one group is read from [DEFAUT]",
       defaults},
      {"PREFIX = 0\r\nTYPE = PNG\r\n", "it holds no [group], so none of its keys is read", defaults},
      {"[DEFAUT]\r\nPREFIX = d_\r\n[OTHER]\r\nPREFIX = 0\r\n",
       "it holds no [USER] group, the one read when there are several", defaults},
      {std::string("\xFF\xFE[\0D\0E\0F\0A\0U\0T\0]\0\r\0\n\0", 22), "it is UTF-16 text, which is not read",
       defaults},
      {std::string("[DEFAUT]\r\nPREFIX = 0\0\r\n", 23), "it is not text (it holds a NUL byte)", defaults},
      {"", "it is larger than 64 MiB", defaults},
      {"[DEFAUT]\r\nPREFIX =\r\n", "PREFIX is empty: only \"0\" means replacing the sources",
       "the prefix \"prefix_\" is used instead"},
      {"[DEFAUT]\r\nPREFIX = small/\r\n", "PREFIX holds \"/\": an output is written beside its source",
       "the prefix \"prefix_\" is used instead"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.problem);
    writeBytes(path("pref.qvl"), row.bytes);
    if (row.bytes.empty()) {
      ASSERT_EQ(::truncate(path("pref.qvl").c_str(), 65 << 20), 0);
    }
    ProgramRun r = run({"--quiet", "a.jpg"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string("pixmoor-batch: pref.qvl: ") + row.problem + "; " + row.instead + "\n");
    EXPECT_TRUE(readBytes(path("a.jpg")) == original);  // the sources are never replaced on such a file
    EXPECT_EQ(readPicture(path("prefix_a.jpg"))->width, 1920);
    fs::remove(path("prefix_a.jpg"));

    r = run({"--settings", "pref.qvl", "a.jpg"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, std::string("pixmoor-batch: --settings: cannot use 'pref.qvl': ") + row.problem +
                         " (see --help)\n");
    EXPECT_EQ(batch::testing::folderNames(work()), (std::vector<std::string>{"a.jpg", "pref.qvl"}));
  }
  // The prefix given for the run makes the file's irrelevant.
  writeBytes(path("pref.qvl"), "[DEFAUT]\r\nPREFIX =\r\nTYPE = PNG\r\n");
  const ProgramRun r = run({"--settings", "pref.qvl", "--prefix", "given_", "--quiet", "a.jpg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(batch::testing::magicOf(path("given_a.png")), "png");
}

}  // namespace
}  // namespace pixmoor::companion

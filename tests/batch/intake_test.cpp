#include "batch/intake.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/other_user.h"
#include "support/temp_folder.h"

namespace pixmoor::batch {
namespace {

using testing::TempFolder;
using testing::writeBytes;

std::vector<std::string> sorted(std::vector<std::string> paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST(IntakeExtension, TakesTheTextAfterTheLastDotLowerCased) {
  struct Row {
    const char* name;
    const char* extension;
  };
  const Row rows[] = {
      {"IMG.JPG", ".jpg"},
      {"x.JPEG", ".jpeg"},
      {"y.Jp2", ".jp2"},
      {"scan.TIFF", ".tiff"},
      {"noext", "."},
      {"a.b.c.PNG", ".png"},
      {"/some.dir/file", "."},
      {"/some.dir/file.Bmp", ".bmp"},
      {"trailing.", "."},
      {".hidden", ".hidden"},
      {"", "."},
      {"caf\xC3\xA9.\xC3\x89PG", ".\xC3\x89pg"},
      {"back\\slash.JPG", ".jpg"},
      {"dot.in\\name", ".in\\name"},
  };
  for (const Row& row : rows) EXPECT_EQ(intakeExtension(row.name), row.extension) << row.name;
}

TEST(IntakeExtension, AcceptsExactlySixExtensions) {
  for (const char* accepted : {".jpg", ".jpeg", ".jp2", ".bmp", ".png", ".tif"}) {
    EXPECT_TRUE(acceptedExtension(accepted)) << accepted;
  }
  for (const char* refused : {".tiff", ".gif", ".ico", ".jpe", ".JPG", ".", "", "jpg", ".jpg ", ".pn"}) {
    EXPECT_FALSE(acceptedExtension(refused)) << refused;
  }
}

TEST(IntakeDrop, FilesModeKeepsAcceptedNamesInDropOrderWithoutExistenceTest) {
  const std::vector<std::string> drop = {"/nowhere/x.JPEG", "/nowhere/scan.tiff", "/nowhere/y.Jp2",
                                         "/nowhere/c.gif",  "/nowhere/noext",     "/nowhere/a.tif",
                                         "/nowhere/b.BMP",  "/nowhere/d.png"};
  EXPECT_EQ(intakeDrop(drop), (BatchJob{"/nowhere/x.JPEG", "/nowhere/y.Jp2", "/nowhere/a.tif",
                                        "/nowhere/b.BMP", "/nowhere/d.png"}));
}

TEST(IntakeDrop, SingleFileIsTakenWhenItsExtensionIsAccepted) {
  EXPECT_EQ(intakeDrop({"/nowhere/IMG.JPG"}), (BatchJob{"/nowhere/IMG.JPG"}));
  EXPECT_TRUE(intakeDrop({"/nowhere/scan.tiff"}).empty());
  EXPECT_TRUE(intakeDrop({}).empty());
  EXPECT_TRUE(intakeDrop({""}).empty());
}

class IntakeFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.jpg", "b.PNG", "c.gif", "d.tif", ".f.bmp", "g.tiff", "h"}) {
      writeBytes(folder_.file(name), "x");
    }
    std::filesystem::create_directory(folder_.path() / "e");
    writeBytes((folder_.path() / "e" / "inner.jpg").string(), "x");
  }
  TempFolder folder_;
};

TEST_F(IntakeFolder, OneFolderGivesItsPicturesButNotThoseOfSubfolders) {
  const std::string root = folder_.path().string();
  const BatchJob job = intakeDrop({root});
  EXPECT_EQ(sorted(job), sorted({root + "/a.jpg", root + "/b.PNG", root + "/d.tif", root + "/.f.bmp"}));
}

TEST_F(IntakeFolder, ListsInTheFileSystemOrder) {
  const std::string root = folder_.path().string();
  BatchJob expected;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() && acceptedExtension(intakeExtension(name)))
      expected.push_back(root + "/" + name);
  }
  EXPECT_EQ(intakeDrop({root}), expected);
}

TEST_F(IntakeFolder, TrailingSlashIsNotDoubled) {
  const std::string root = folder_.path().string();
  const BatchJob job = intakeDrop({root + "/"});
  ASSERT_EQ(job.size(), 4u);
  for (const std::string& path : job) {
    EXPECT_EQ(path.find("//"), std::string::npos) << path;
    EXPECT_EQ(path.rfind(root + "/", 0), 0u) << path;
  }
}

TEST_F(IntakeFolder, TwoFoldersGiveNothing) {
  std::filesystem::create_directory(folder_.path() / "other");
  EXPECT_TRUE(intakeDrop({folder_.path().string(), (folder_.path() / "other").string()}).empty());
}

TEST_F(IntakeFolder, FolderAndTwoPicturesGiveTheTwoPictures) {
  const std::string root = folder_.path().string();
  EXPECT_EQ(intakeDrop({root + "/a.jpg", root, root + "/b.PNG"}),
            (BatchJob{root + "/a.jpg", root + "/b.PNG"}));
}

TEST_F(IntakeFolder, FolderNamedLikeAPictureIsTakenInFilesMode) {
  const std::string root = folder_.path().string();
  std::filesystem::create_directory(folder_.path() / "album.jpg");
  // Alone it is one folder and gets listed (it is empty).
  EXPECT_TRUE(intakeDrop({root + "/album.jpg"}).empty());
  // With another item its name decides.
  EXPECT_EQ(intakeDrop({root + "/album.jpg", root + "/h"}), (BatchJob{root + "/album.jpg"}));
}

TEST_F(IntakeFolder, LinksAreFollowed) {
  const std::string root = folder_.path().string();
  std::filesystem::create_directory_symlink(folder_.path() / "e", folder_.path() / "link.jpg");
  std::filesystem::create_symlink(folder_.path() / "a.jpg", folder_.path() / "alias.png");
  const BatchJob job = intakeDrop({root});
  EXPECT_EQ(std::count(job.begin(), job.end(), root + "/link.jpg"), 0);
  EXPECT_EQ(std::count(job.begin(), job.end(), root + "/alias.png"), 1);
}

TEST(IntakeDropFolder, EmptyFolderAndUnlistableFolderGiveNothing) {
  TempFolder folder;
  EXPECT_TRUE(intakeDrop({folder.path().string()}).empty());
  writeBytes(folder.file("a.jpg"), "x");
  if (::geteuid() != 0) {  // root lists any folder
    ::chmod(folder.path().c_str(), 0);
    EXPECT_TRUE(intakeDrop({folder.path().string()}).empty());
    ::chmod(folder.path().c_str(), 0700);
  }
  EXPECT_EQ(intakeDrop({folder.path().string()}).size(), 1u);
}

// The window's drop keeps its job, and says as data what a user would miss.
TEST_F(IntakeFolder, TheWindowsDropSaysWhatItLeftOut) {
  const std::string root = folder_.path().string();
  std::filesystem::create_directory(folder_.path() / "other");
  const Intake two = takeDrop({root, root + "/other"}, {});
  EXPECT_TRUE(two.job.empty());
  EXPECT_EQ(two.skipped, (std::vector<SkippedPath>{{root, SkipReason::folderAmongOthers},
                                                   {root + "/other", SkipReason::folderAmongOthers}}));
  const Intake mixed =
      takeDrop({root + "/a.jpg", root + "/missing", root + "/gone.jpg", root + "/h", root + "/e"}, {});
  EXPECT_EQ(mixed.job, (BatchJob{root + "/a.jpg", root + "/gone.jpg"}));  // names decide, as always
  EXPECT_EQ(mixed.skipped, (std::vector<SkippedPath>{{root + "/missing", SkipReason::notFound},
                                                     {root + "/e", SkipReason::folderAmongOthers}}));
  // A folder it may not list: as an ordinary user, since the superuser lists any.
  ::chmod(folder_.path().c_str(), 0711);
  ::chmod((folder_.path() / "e").c_str(), 0);
  const int said = testing::runAsOrdinaryUser([&] {
    const Intake locked = takeDrop({root + "/e"}, {});
    return locked.job.empty() &&
                   locked.skipped == std::vector<SkippedPath>{{root + "/e", SkipReason::unreadableFolder}}
               ? 0
               : 1;
  });
  ::chmod((folder_.path() / "e").c_str(), 0700);
  EXPECT_EQ(said, 0);
}

TEST(IntakeTree, NeverATrashAndHiddenFoldersOnlyWhenAsked) {
  TempFolder folder;
  const std::string root = folder.path().string();
  for (const char* name :
       {"a.jpg", ".h.jpg", ".cache/c.jpg", ".Trash-1000/files/t.jpg", ".Trash/1000/files/u.jpg",
        "data/Trash/files/o.jpg", "sub/.Trash-12/v.jpg", "Trash-1/w.jpg", ".Trash-x/y.jpg"}) {
    std::filesystem::create_directories((folder.path() / name).parent_path());
    writeBytes(folder.file(name), "x");
  }
  IntakeRules rules;
  rules.depth = FolderDepth::withSubfolders;
  rules.trashFolders = {root + "/data/Trash", root + "/nowhere/Trash"};
  EXPECT_EQ(takeDrop({root}, rules).job,
            (BatchJob{root + "/.h.jpg", root + "/a.jpg", root + "/Trash-1/w.jpg"}));
  rules.hiddenFolders = true;
  const Intake hidden = takeDrop({root}, rules);
  EXPECT_EQ(hidden.job, (BatchJob{root + "/.h.jpg", root + "/a.jpg", root + "/.Trash-x/y.jpg",
                                  root + "/.cache/c.jpg", root + "/Trash-1/w.jpg"}));
  EXPECT_TRUE(hidden.skipped.empty());
  // Given by name: a Trash, or anything in one, is left out (links followed).
  rules.lookAtEachPath = true;
  std::filesystem::create_directory_symlink(folder.path() / "data/Trash/files", folder.path() / "trashed");
  EXPECT_EQ(takeDrop({root + "/trashed"}, rules).skipped,
            (std::vector<SkippedPath>{{root + "/trashed", SkipReason::inTrash}}));
  EXPECT_EQ(
      takeDrop({root + "/a.jpg", root + "/trashed/o.jpg", root + "/sub/.Trash-12/v.jpg"}, rules).skipped,
      (std::vector<SkippedPath>{{root + "/trashed/o.jpg", SkipReason::inTrash},
                                {root + "/sub/.Trash-12/v.jpg", SkipReason::inTrash}}));
}

TEST(IntakeTree, TrashFolderNames) {
  for (const char* name : {".Trash", ".Trash-0", ".Trash-1000"}) EXPECT_TRUE(isTrashFolderName(name)) << name;
  for (const char* name : {"Trash", ".trash", ".Trash-", ".Trash-10a", ".Trash1000", ".Trash-1000/", ""})
    EXPECT_FALSE(isTrashFolderName(name)) << name;
}

TEST(IntakeDropFolder, RootIsListedLikeAFolder) {
  EXPECT_TRUE(isFolder("/"));
  EXPECT_TRUE(isFolder("//"));
  for (const std::string& path : intakeDrop({"/"})) {
    EXPECT_EQ(path.rfind('/'), 0u) << path;  // "/name", never "//name"
    EXPECT_NE(path[1], '/');
  }
}

TEST(IntakeDropFolder, LineFeedInANameStaysOnePath) {
  TempFolder folder;
  const std::string odd = folder.file("two\nlines.jpg");
  const std::string plain = folder.file("plain.png");
  writeBytes(odd, "x");
  writeBytes(plain, "x");
  EXPECT_EQ(intakeDrop({odd, plain}), (BatchJob{odd, plain}));
  EXPECT_EQ(intakeDrop({odd}), (BatchJob{odd}));
  EXPECT_EQ(sorted(intakeDrop({folder.path().string()})), sorted({odd, plain}));
}

TEST(IntakeDropFolder, IsFolderRules) {
  TempFolder folder;
  writeBytes(folder.file("f.jpg"), "x");
  EXPECT_FALSE(isFolder(""));
  EXPECT_TRUE(isFolder(folder.path().string()));
  EXPECT_TRUE(isFolder(folder.path().string() + "///"));
  EXPECT_FALSE(isFolder(folder.file("f.jpg")));
  EXPECT_FALSE(isFolder(folder.file("missing")));
}

}  // namespace
}  // namespace pixmoor::batch

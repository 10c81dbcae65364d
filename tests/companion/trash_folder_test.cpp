// trashRefusal foresees moveToTrash: for each place a file may be and each
// state of its Trash, it refuses exactly when the move then fails. Each case
// runs in a child of its own, with the home and data folders of the case.
#include "companion/trash_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "companion/trash.h"
#include "support/other_user.h"
#include "support/small_file_system.h"
#include "support/temp_folder.h"

namespace pixmoor::companion {
namespace {

using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;

// 0: trashRefusal and moveToTrash agree and the file moved or not as
// expected; 1: they disagree; 2: the move was not the one expected.
int trashBoth(const std::string& file, bool expectMoved) {
  const bool foreseen = !trashRefusal(file).has_value();
  const bool moved = moveToTrash(file, file).moved;
  if (foreseen != moved) return 1;
  return moved == expectMoved ? 0 : 2;
}

// Runs `body` in a child with HOME and XDG_DATA_HOME set; answers its code.
int inChild(const std::string& home, const std::string& dataHome, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class TrashFolder : public ::testing::Test {
 protected:
  TempFolder home_;
  TempFolder work_;
};

TEST_F(TrashFolder, HomeTrashThatCanBeMade) {
  writeBytes(work_.file("a.jpg"), "a");
  EXPECT_EQ(inChild(home_.path(), home_.file("data"), [&] { return trashBoth(work_.file("a.jpg"), true); }),
            0);
  EXPECT_TRUE(std::filesystem::exists(home_.file("data/Trash/files/a.jpg")));
}

TEST_F(TrashFolder, HomeTrashUnderAPlainFile) {
  writeBytes(work_.file("a.jpg"), "a");
  writeBytes(home_.file("plain"), "");
  EXPECT_EQ(
      inChild(home_.path(), home_.file("plain/data"), [&] { return trashBoth(work_.file("a.jpg"), false); }),
      0);
  EXPECT_TRUE(std::filesystem::exists(work_.file("a.jpg")));
}

TEST_F(TrashFolder, HomeTrashWhosePartIsAFile) {
  writeBytes(work_.file("a.jpg"), "a");
  std::filesystem::create_directories(home_.file("data/Trash"));
  writeBytes(home_.file("data/Trash/files"), "");
  EXPECT_EQ(inChild(home_.path(), home_.file("data"), [&] { return trashBoth(work_.file("a.jpg"), false); }),
            0);
}

TEST_F(TrashFolder, HomeTrashInAFolderWeMayNotWrite) {
  std::filesystem::permissions(work_.path(), std::filesystem::perms::all);
  std::filesystem::permissions(home_.path(), std::filesystem::perms::all);
  writeBytes(work_.file("a.jpg"), "a");
  std::filesystem::permissions(work_.file("a.jpg"), std::filesystem::perms::all);
  std::filesystem::create_directory(home_.file("shut"));
  const int code = pixmoor::testing::runAsOrdinaryUser([&] {
    return inChild(home_.path(), home_.file("shut/data"),
                   [&] { return trashBoth(work_.file("a.jpg"), false); });
  });
  EXPECT_EQ(code, 0);
}

// A file on a file system of its own: the Trash at its top, made there;
// refused where a link stands in the way.
TEST_F(TrashFolder, AnotherFileSystem) {
  const std::string disk = work_.file("disk");
  std::filesystem::create_directory(disk);
  const std::string own = disk + "/.Trash-" + std::to_string(::geteuid());
  const int code = pixmoor::testing::withSmallFileSystem(disk, "1m", [&] {
    writeBytes(disk + "/a.jpg", "a");
    const int made =
        inChild(home_.path(), home_.file("data"), [&] { return trashBoth(disk + "/a.jpg", true); });
    if (made != 0 || !std::filesystem::exists(own + "/files/a.jpg")) return 10 + made;
    std::filesystem::remove_all(own);
    std::filesystem::create_directory_symlink(disk, own);
    writeBytes(disk + "/b.jpg", "b");
    return inChild(home_.path(), home_.file("data"), [&] { return trashBoth(disk + "/b.jpg", false); });
  });
  if (code == pixmoor::testing::kNoMount) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace pixmoor::companion

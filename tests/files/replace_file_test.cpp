// The one file replacement: whole or nothing, links, owners, bits and
// attributes, hard links, the rule on what may be replaced, read-only folders.
#include "files/replace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <functional>
#include <set>
#include <utility>

#include "support/failing_calls.h"
#include "support/other_user.h"
#include "support/small_file_system.h"
#include "support/temp_folder.h"

// Called once, by the next fsync, when set: the moment between the commit's
// last look at the name and the rename.
inline std::function<void()> duringSync;

extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) {
  if (duringSync) std::exchange(duringSync, nullptr)();
  return __real_fsync(fd);
}

namespace pixmoor::files {
namespace {

using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;
using Temporary = FileReplacement::Temporary;

struct stat statOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

std::set<std::string> namesIn(const TempFolder& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    names.insert(entry.path().filename());
  return names;
}

ReplaceStatus replace(const std::string& path, const std::string& bytes, const ReplaceRule& rule = {},
                      Temporary temporary = Temporary::unnamed) {
  auto [out, status] = FileReplacement::create(path, rule, temporary);
  if (!out) return status;
  out->write(bytes.data(), bytes.size());
  out->commit();
  return out->status();
}

class Replacement : public ::testing::TestWithParam<Temporary> {
 protected:
  ReplaceStatus put(const std::string& name, const std::string& bytes, const ReplaceRule& rule = {}) {
    return replace(folder.file(name), bytes, rule, GetParam());
  }
  TempFolder folder;
};

TEST_P(Replacement, NothingAppearsUnderTheTargetNameBeforeCommit) {
  auto out = FileReplacement::create(folder.file("a.png"), {}, GetParam()).file;
  ASSERT_TRUE(out);
  const std::string big(200000, 'x');  // more than the buffer holds
  ASSERT_TRUE(out->write(big.data(), big.size()));
  ASSERT_TRUE(out->write("end", 3));
  EXPECT_EQ(out->bytesWritten(), 200003u);
  EXPECT_EQ(namesIn(folder).count("a.png"), 0u);
  ASSERT_TRUE(out->commit());
  EXPECT_EQ(out->status(), ReplaceStatus::replaced);
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"a.png"});
  EXPECT_EQ(readBytes(folder.file("a.png")), big + "end");
  EXPECT_FALSE(out->commit());  // once only
}

TEST_P(Replacement, DiscardLeavesNothingAndTheOldFileAsItWas) {
  writeBytes(folder.file("a.png"), "old");
  {
    auto out = FileReplacement::create(folder.file("a.png"), {}, GetParam()).file;
    ASSERT_TRUE(out);
    out->write("new content", 11);
  }  // dropped without commit
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"a.png"});
  EXPECT_EQ(readBytes(folder.file("a.png")), "old");
}

TEST_P(Replacement, NewFilesTakeTheUmaskReplacedFilesKeepBitsAndAttributes) {
  const mode_t old = umask(027);
  EXPECT_EQ(put("new.png", "n"), ReplaceStatus::replaced);
  umask(old);
  EXPECT_EQ(statOf(folder.file("new.png")).st_mode & 07777, 0640u);

  const std::string target = folder.file("private.png");
  writeBytes(target, "p");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const bool tagged = setxattr(target.c_str(), "user.pixmoor", "tag", 3, 0) == 0;
  EXPECT_EQ(put("private.png", "q"), ReplaceStatus::replaced);
  EXPECT_EQ(statOf(target).st_mode & 07777, 0600u);
  if (tagged) {
    char value[8] = {};
    EXPECT_EQ(getxattr(target.c_str(), "user.pixmoor", value, sizeof value), 3);
    EXPECT_STREQ(value, "tag");
  }
}

TEST_P(Replacement, PathsThatNameNoFileOrNoFolder) {
  EXPECT_EQ(FileReplacement::create("", {}, GetParam()).status, ReplaceStatus::badPath);
  EXPECT_EQ(FileReplacement::create(folder.path().string() + "/", {}, GetParam()).status,
            ReplaceStatus::badPath);
  EXPECT_EQ(FileReplacement::create(folder.file("no/such/a.png"), {}, GetParam()).status,
            ReplaceStatus::cannotCreate);
  std::filesystem::create_directory(folder.file("taken.png"));
  EXPECT_EQ(FileReplacement::create(folder.file("taken.png"), {}, GetParam()).status,
            ReplaceStatus::notAFile);
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"taken.png"});
}

// The check a plan makes foresees every refusal of create(), and creates
// nothing itself: the same answer for each thing a name may hold.
TEST_P(Replacement, CheckForeseesCreateAndMakesNothing) {
  writeBytes(folder.file("other.png"), "other");
  ::chmod(folder.file("other.png").c_str(), 0666);
  std::filesystem::create_directory(folder.file("folder.png"));
  ASSERT_EQ(::mkfifo(folder.file("fifo.png").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("missing.png", folder.file("dangling.png").c_str()), 0);
  writeBytes(folder.file("locked.png"), "locked");
  ::chmod(folder.file("locked.png").c_str(), 0444);
  std::filesystem::create_directory(folder.file("shut"));
  ::chmod(folder.file("shut").c_str(), 0555);
  ::chmod(folder.path().c_str(), 0777);
  const ReplaceRule onlyOther{identityOf(folder.file("other.png")), nullptr};
  struct Case {
    std::string name;
    ReplaceRule rule;
    ReplaceStatus expected;
  };
  const std::vector<Case> cases = {
      {"free.png", {}, ReplaceStatus::replaced},
      {"other.png", {}, ReplaceStatus::replaced},
      {"other.png", onlyOther, ReplaceStatus::replaced},
      {"free.png", onlyOther, ReplaceStatus::replaced},
      {"locked.png", onlyOther, ReplaceStatus::wouldReplaceAnother},
      {"folder.png", {}, ReplaceStatus::notAFile},
      {"fifo.png", {}, ReplaceStatus::notAFile},
      {"dangling.png", {}, ReplaceStatus::refused},
      {std::string(256, 'n'), {}, ReplaceStatus::nameTooLong},
      {"no/such/a.png", {}, ReplaceStatus::cannotCreate},
      {"locked.png", {}, ReplaceStatus::writeProtected},
      {"shut/a.png", {}, ReplaceStatus::folderNotWritable},
  };
  const auto before = namesIn(folder);
  // As an ordinary user, for whom the bits hold.
  const int failures = pixmoor::testing::runAsOrdinaryUser([&] {
    int wrong = 0;
    for (const Case& c : cases) {
      const std::string path = folder.file(c.name);
      const ReplaceStatus checked = checkReplacement(path, c.rule);
      if (checked != c.expected) {
        std::fprintf(stderr, "%s: checked %d\n", c.name.c_str(), static_cast<int>(checked));
        ++wrong;
      }
      if (namesIn(folder) != before) ++wrong;
      if (FileReplacement::create(path, c.rule, GetParam()).status != checked) {
        std::fprintf(stderr, "%s: create disagrees\n", c.name.c_str());
        ++wrong;
      }
    }
    return wrong;
  });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(namesIn(folder), before);
}

TEST_P(Replacement, AWriteProtectedFileIsNotReplaced) {
  const std::string target = folder.file("locked.png");
  writeBytes(target, "7");
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  ASSERT_EQ(chmod(folder.path().c_str(), 0777), 0);
  const Temporary temporary = GetParam();
  EXPECT_EQ(pixmoor::testing::runAsOrdinaryUser([&] {
              return replace(target, "new", {}, temporary) == ReplaceStatus::writeProtected ? 0 : 1;
            }),
            0);
  EXPECT_EQ(readBytes(target), "7");
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"locked.png"});
}

// A link is followed to a file of our own, which is replaced in its own
// folder while the link stays; any other link writes nothing.
TEST_P(Replacement, LinksLeadOnlyToFilesOfOurOwn) {
  std::filesystem::create_directory(folder.file("real"));
  const std::string real = folder.file("real/photo.jpg");
  writeBytes(real, "old");
  ASSERT_EQ(symlink("real/photo.jpg", folder.file("link.jpg").c_str()), 0);
  EXPECT_EQ(put("link.jpg", "new"), ReplaceStatus::replaced);
  EXPECT_TRUE(S_ISLNK(statOf(folder.file("link.jpg")).st_mode));
  EXPECT_EQ(readBytes(real), "new");
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{"link.jpg", "real"}));

  ASSERT_EQ(symlink("missing.jpg", folder.file("dangling.jpg").c_str()), 0);
  ASSERT_EQ(symlink("loop2.jpg", folder.file("loop1.jpg").c_str()), 0);
  ASSERT_EQ(symlink("loop1.jpg", folder.file("loop2.jpg").c_str()), 0);
  EXPECT_EQ(put("dangling.jpg", "x"), ReplaceStatus::refused);
  EXPECT_EQ(put("loop1.jpg", "x"), ReplaceStatus::refused);
  EXPECT_FALSE(std::filesystem::exists(folder.file("missing.jpg")));

  if (!pixmoor::testing::canActAsAnotherUser())
    GTEST_SKIP() << "needs the superuser to make another user's files";
  // A link of another user, or one to another user's file: refused.
  ASSERT_EQ(lchown(folder.file("link.jpg").c_str(), pixmoor::testing::kOtherUser, static_cast<gid_t>(-1)), 0);
  EXPECT_EQ(put("link.jpg", "foreign link"), ReplaceStatus::refused);
  ASSERT_EQ(lchown(folder.file("link.jpg").c_str(), 0, static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(chown(real.c_str(), pixmoor::testing::kOtherUser, pixmoor::testing::kOtherGroup), 0);
  EXPECT_EQ(put("link.jpg", "foreign target"), ReplaceStatus::refused);
  EXPECT_EQ(readBytes(real), "new");
}

TEST_P(Replacement, OwnerAndGroupStay) {
  if (!pixmoor::testing::canActAsAnotherUser())
    GTEST_SKIP() << "needs the superuser to make another user's files";
  const std::string target = folder.file("theirs.png");
  writeBytes(target, "old");
  ASSERT_EQ(chown(target.c_str(), pixmoor::testing::kOtherUser, pixmoor::testing::kOtherGroup), 0);
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  EXPECT_EQ(put("theirs.png", "new"), ReplaceStatus::replaced);
  const struct stat st = statOf(target);
  EXPECT_EQ(st.st_uid, pixmoor::testing::kOtherUser);
  EXPECT_EQ(st.st_gid, pixmoor::testing::kOtherGroup);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_P(Replacement, OtherHardLinksKeepTheOldBytes) {
  writeBytes(folder.file("a.jpg"), "original");
  ASSERT_EQ(link(folder.file("a.jpg").c_str(), folder.file("backup.jpg").c_str()), 0);
  EXPECT_EQ(put("a.jpg", "resized"), ReplaceStatus::replaced);
  EXPECT_EQ(readBytes(folder.file("a.jpg")), "resized");
  EXPECT_EQ(readBytes(folder.file("backup.jpg")), "original");
}

TEST_P(Replacement, OnlyTheAllowedFileIsReplaced) {
  writeBytes(folder.file("a.jpg"), "source");
  writeBytes(folder.file("b.jpg"), "another");
  const ReplaceRule onlyA{identityOf(folder.file("a.jpg"))};
  EXPECT_EQ(put("b.jpg", "x", onlyA), ReplaceStatus::wouldReplaceAnother);
  EXPECT_EQ(put("new.jpg", "fresh", onlyA), ReplaceStatus::replaced);
  EXPECT_EQ(put("a.jpg", "resized", onlyA), ReplaceStatus::replaced);
  EXPECT_EQ(readBytes(folder.file("b.jpg")), "another");

  // A file that appears under the name while the replacement is written
  // stays. (The rule names a file that still exists: a replaced file's inode
  // number may be given to the next new file.)
  const ReplaceRule onlyB{identityOf(folder.file("b.jpg"))};
  auto out = FileReplacement::create(folder.file("late.jpg"), onlyB, GetParam()).file;
  ASSERT_TRUE(out);
  out->write("x", 1);
  writeBytes(folder.file("late.jpg"), "arrived");
  EXPECT_FALSE(out->commit());
  EXPECT_EQ(out->status(), ReplaceStatus::wouldReplaceAnother);
  EXPECT_EQ(readBytes(folder.file("late.jpg")), "arrived");
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{"a.jpg", "b.jpg", "new.jpg", "late.jpg"}));
}

// The step gets a hidden second name of the old file (a hard link) once the
// new content is whole beside it, while the old file keeps its own name; a
// refusal keeps it and leaves nothing else; a free name sets nothing aside.
TEST_P(Replacement, TheOldFileIsSetAsideLastUnderASecondNameOrKept) {
  writeBytes(folder.file("a.jpg"), "old");
  const auto oldFile = identityOf(folder.file("a.jpg"));
  const std::string aside = folder.path().string() + "-aside";
  std::vector<std::string> names;
  bool allow = false;
  ReplaceRule rule;
  rule.setAside = [&](const std::string& spare, const std::string& name) {
    names.push_back(name);
    EXPECT_EQ(readBytes(name), "old");
    EXPECT_EQ(identityOf(spare), oldFile);
    EXPECT_EQ(spare.rfind(folder.file(".a.jpg.pixmoor-"), 0), 0u) << spare;
    std::string complete;
    for (const std::string& entry : namesIn(folder))
      if (entry != "a.jpg" && folder.file(entry) != spare) complete = readBytes(folder.file(entry));
    EXPECT_EQ(complete, "new content");
    if (!allow) return SetAside{};
    EXPECT_EQ(::rename(spare.c_str(), aside.c_str()), 0);
    return SetAside{true, [] {
                      ADD_FAILURE() << "taken back after a rename that worked";
                      return false;
                    }};
  };
  EXPECT_EQ(put("a.jpg", "new content", rule), ReplaceStatus::refused);
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"a.jpg"});
  EXPECT_EQ(readBytes(folder.file("a.jpg")), "old");
  allow = true;
  EXPECT_EQ(put("a.jpg", "new content", rule), ReplaceStatus::replaced);
  EXPECT_EQ(readBytes(folder.file("a.jpg")), "new content");
  EXPECT_EQ(identityOf(aside), oldFile);
  EXPECT_EQ(put("b.jpg", "fresh", rule), ReplaceStatus::replaced);
  EXPECT_EQ(names, (std::vector<std::string>{folder.file("a.jpg"), folder.file("a.jpg")}));
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{"a.jpg", "b.jpg"}));
  ::unlink(aside.c_str());
}

// Should something else take the name once the old file is aside, the new
// file cannot have it and the old one stays where the step put it: said
// apart from any other failed rename, and nothing is taken back.
TEST_P(Replacement, ANameTakenOnceTheOldFileIsAsideIsSaid) {
  writeBytes(folder.file("a.jpg"), "old");
  const std::string aside = folder.path().string() + "-aside";
  ReplaceRule rule;
  rule.setAside = [&](const std::string& spare, const std::string& name) {
    const bool moved = ::rename(spare.c_str(), aside.c_str()) == 0 && ::unlink(name.c_str()) == 0 &&
                       ::mkdir(name.c_str(), 0700) == 0;
    return SetAside{moved, [] {
                      ADD_FAILURE() << "taken back while the name holds another file";
                      return false;
                    }};
  };
  EXPECT_EQ(put("a.jpg", "new", rule), ReplaceStatus::setAsideNotReplaced);
  EXPECT_EQ(readBytes(aside), "old");
  EXPECT_TRUE(std::filesystem::is_directory(folder.file("a.jpg")));
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"a.jpg"});
  ::unlink(aside.c_str());
}

// On a file system of its own, filled up.
TEST_P(Replacement, AFullDiskIsSaid) {
  const std::string disk = folder.path().string();
  const Temporary temporary = GetParam();
  const int code = pixmoor::testing::withSmallFileSystem(disk, "256k", [&] {
    writeBytes(disk + "/a.png", "old");
    if (!pixmoor::testing::fillUp(disk, 0)) return 10;
    // Held in the buffer until the commit, and written straight through.
    if (files::replace(disk + "/a.png", std::string(100, 'n'), {}, temporary) != ReplaceStatus::diskFull)
      return 1;
    if (files::replace(disk + "/a.png", std::string(200000, 'n'), {}, temporary) != ReplaceStatus::diskFull)
      return 2;
    if (files::replace(disk + "/b.png", std::string(200000, 'n'), {}, temporary) != ReplaceStatus::diskFull)
      return 3;
    if (readBytes(disk + "/a.png") != "old") return 4;
    return std::set<std::string>{"a.png", "filler"} == namesIn(folder) ? 0 : 5;
  });
  if (code == pixmoor::testing::kNoMount)
    GTEST_SKIP() << "cannot mount a small file system here (needs the superuser)";
  EXPECT_EQ(code, 0);
}

// A name that must be free takes the new file only while nothing is there:
// a file, a link, even a dangling one, stays; so does one that appears
// between the check and the commit.
TEST_P(Replacement, ANameThatMustBeFreeIsNeverReplaced) {
  ReplaceRule free;
  free.nameMustBeFree = true;
  EXPECT_EQ(put("new.jpg", "made", free), ReplaceStatus::replaced);
  EXPECT_EQ(readBytes(folder.file("new.jpg")), "made");
  EXPECT_EQ(put("new.jpg", "again", free), ReplaceStatus::nameTaken);
  ASSERT_EQ(::symlink("nowhere", folder.file("link.jpg").c_str()), 0);
  EXPECT_EQ(put("link.jpg", "over", free), ReplaceStatus::nameTaken);
  EXPECT_EQ(checkReplacement(folder.file("new.jpg"), free), ReplaceStatus::nameTaken);

  auto out = FileReplacement::create(folder.file("late.jpg"), free, GetParam()).file;
  ASSERT_TRUE(out);
  ASSERT_TRUE(out->write("mine", 4));
  duringSync = [&] { writeBytes(folder.file("late.jpg"), "theirs"); };
  EXPECT_FALSE(out->commit());
  EXPECT_FALSE(duringSync);
  EXPECT_EQ(out->status(), ReplaceStatus::nameTaken);
  EXPECT_EQ(readBytes(folder.file("late.jpg")), "theirs");
  EXPECT_EQ(readBytes(folder.file("new.jpg")), "made");
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{"late.jpg", "link.jpg", "new.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(Temporaries, Replacement, ::testing::Values(Temporary::unnamed, Temporary::named));

// In a forked child whose chosen system calls fail with `error`: what `body`
// answers, or kSkipped where no such filter can be made.
constexpr int kSkipped = 125;
int withFailingCalls(const std::vector<pixmoor::testing::FailingCall>& calls, int error,
                     const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) ::_exit(pixmoor::testing::failCalls(calls, error) ? body() : kSkipped);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A rename that fails once the old file is aside takes the step back, the
// old file still at its name, and says the rename's own reason.
TEST(SetAside, AFailedRenameIsTakenBackAndSaysWhy) {
  const struct Row {
    int error;
    ReplaceStatus status;
  } rows[] = {{EIO, ReplaceStatus::writeFailed},
              {EACCES, ReplaceStatus::folderNotWritable},
              {ENOSPC, ReplaceStatus::diskFull}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.error);
    TempFolder folder;
    writeBytes(folder.file("a.jpg"), "old");
    const auto oldFile = identityOf(folder.file("a.jpg"));
    const std::string aside = folder.path().string() + "-aside";
    const int code = withFailingCalls(pixmoor::testing::plainRenames(), row.error, [&] {
      int takenBack = 0;
      ReplaceRule rule;
      rule.setAside = [&](const std::string& spare, const std::string&) {
        // A rename with a flag still works: the way the Trash moves files in.
        const bool moved =
            ::renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0;
        return SetAside{moved, [&] {
                          ++takenBack;
                          return ::unlink(aside.c_str()) == 0;
                        }};
      };
      if (replace(folder.file("a.jpg"), "new", rule, Temporary::named) != row.status) return 1;
      return takenBack == 1 ? 0 : 2;
    });
    if (code == kSkipped) GTEST_SKIP() << "no seccomp filter here";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(identityOf(folder.file("a.jpg")), oldFile);
    EXPECT_EQ(readBytes(folder.file("a.jpg")), "old");
    EXPECT_EQ(namesIn(folder), std::set<std::string>{"a.jpg"});
    EXPECT_FALSE(std::filesystem::exists(aside));
  }
}

// Where the file system makes no hard links (FAT), the second name is a
// copy with the old file's bits, attributes and times.
TEST(SetAside, WithoutHardLinksTheSecondNameIsACopy) {
  TempFolder folder;
  const std::string target = folder.file("a.jpg");
  writeBytes(target, std::string(300000, 'o'));  // more than one buffer
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  const bool tagged = setxattr(target.c_str(), "user.pixmoor", "tag", 3, 0) == 0;
  const struct timespec times[2] = {{1000000000, 0}, {1200000000, 5}};
  ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
  const std::string aside = folder.path().string() + "-aside";
  const int code = withFailingCalls(pixmoor::testing::hardLinks(), EPERM, [&] {
    ReplaceRule rule;
    rule.setAside = [&](const std::string& spare, const std::string& name) {
      const bool copied = !(identityOf(spare) == identityOf(name)) && readBytes(name) == readBytes(spare);
      return SetAside{copied && ::rename(spare.c_str(), aside.c_str()) == 0, nullptr};
    };
    return replace(target, "new", rule, Temporary::named) == ReplaceStatus::replaced ? 0 : 1;
  });
  if (code == kSkipped) GTEST_SKIP() << "no seccomp filter here";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(readBytes(target), "new");
  EXPECT_EQ(readBytes(aside), std::string(300000, 'o'));
  const struct stat copy = statOf(aside);
  EXPECT_EQ(copy.st_mode & 07777, 0640u);
  EXPECT_EQ(copy.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(copy.st_mtim.tv_nsec, 5);
  if (tagged) {
    char value[8] = {};
    EXPECT_EQ(getxattr(aside.c_str(), "user.pixmoor", value, sizeof value), 3);
    EXPECT_STREQ(value, "tag");
  }
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"a.jpg"});
  ::unlink(aside.c_str());
}

// A writable file in a folder that forbids new files: a picture fails and
// stays, the settings text is written in place, and never over a second
// hard link.
TEST(ReadOnlyFolder, OnlyWholeTextIsWrittenInPlace) {
  TempFolder folder;
  const std::string target = folder.file("pref.qvl");
  writeBytes(target, "old text that is longer");
  ASSERT_EQ(chmod(target.c_str(), 0666), 0);
  writeBytes(folder.file("linked"), "old");
  ASSERT_EQ(chmod(folder.file("linked").c_str(), 0666), 0);
  ASSERT_EQ(link(folder.file("linked").c_str(), folder.file("second").c_str()), 0);
  ASSERT_EQ(chmod(folder.path().c_str(), 0555), 0);
  const int result = pixmoor::testing::runAsOrdinaryUser([&] {
    if (FileReplacement::create(target).status != ReplaceStatus::folderNotWritable) return 1;
    if (replaceWholeFile(target, "picture", InPlace::never) != ReplaceStatus::folderNotWritable) return 2;
    if (readBytes(target) != "old text that is longer") return 3;
    if (replaceWholeFile(target, "new", InPlace::whenFolderIsReadOnly) != ReplaceStatus::replaced) return 4;
    if (readBytes(target) != "new") return 5;
    if (replaceWholeFile(folder.file("linked"), "x", InPlace::whenFolderIsReadOnly) !=
        ReplaceStatus::folderNotWritable) {
      return 6;
    }
    return 0;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(readBytes(folder.file("second")), "old");
}

TEST(NamedTemporary, IsHiddenBesideTheTarget) {
  TempFolder folder;
  auto out = FileReplacement::create(folder.file("photo.jpg"), {}, Temporary::named).file;
  ASSERT_TRUE(out);
  const std::string name = out->temporaryPath().substr(folder.path().string().size() + 1);
  EXPECT_EQ(name.rfind(".photo.jpg.pixmoor-", 0), 0u) << name;
  EXPECT_EQ(name.size(), std::string(".photo.jpg.pixmoor-").size() + 6);
  EXPECT_EQ(namesIn(folder), std::set<std::string>{name});
  out.reset();
  EXPECT_TRUE(namesIn(folder).empty());
}

TEST(NamedTemporary, LongNamesAreShortenedAtACharacterBoundary) {
  TempFolder folder;
  // 2-byte characters up to 254 bytes: a legal name without room to spare.
  std::string target;
  while (target.size() + 2 <= 250) target += "\xC3\xA9";
  target += ".jpg";
  auto out = FileReplacement::create(folder.file(target), {}, Temporary::named).file;
  ASSERT_TRUE(out);
  const std::string name = out->temporaryPath().substr(folder.path().string().size() + 1);
  EXPECT_LE(name.size(), 255u);
  const auto cut = name.find(".pixmoor-");
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ((cut - 1) % 2, 0u);  // whole characters only
  out->write("x", 1);
  EXPECT_TRUE(out->commit());
  EXPECT_EQ(namesIn(folder), std::set<std::string>{target});
}

TEST(NamedTemporary, ManyAtOnceNeverCollide) {
  TempFolder folder;
  std::vector<std::unique_ptr<FileReplacement>> outs;
  for (int i = 0; i < 50; ++i) {
    outs.push_back(FileReplacement::create(folder.file("same.png"), {}, Temporary::named).file);
    ASSERT_TRUE(outs.back());
  }
  EXPECT_EQ(namesIn(folder).size(), 50u);
  outs.clear();
  EXPECT_TRUE(namesIn(folder).empty());
}

// A run killed between making its hidden temporary and renaming it leaves
// the temporary behind where the file system has no unnamed files (or a
// second name of the target, with a set-aside step). Writing
// that target again removes such leftovers, and nothing else: not another
// target's, not other names, not another user's files, not this run's own.
TEST(NamedTemporary, LeftoversOfAnEarlierRunGoWhenTheirTargetIsWrittenAgain) {
  TempFolder folder;
  const auto leave = [&](const std::string& name, bool beforeThisRun) {
    writeBytes(folder.file(name), "partial");
    const struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    if (beforeThisRun) ::utimensat(AT_FDCWD, folder.file(name).c_str(), times, 0);
  };
  leave(".a.jpg.pixmoor-Ab3xYz", true);
  leave(".a.jpg.pixmoor-Qr7tU9", true);
  std::set<std::string> staying = {".a.jpg.pixmoor-Ab3xY", ".a.jpg.pixmoor-Ab3x-z", ".b.jpg.pixmoor-Ab3xYz",
                                   "a.jpg.pixmoor-Ab3xYz"};
  for (const std::string& name : staying) leave(name, true);
  leave(".a.jpg.pixmoor-N0wN0w", false);
  staying.insert(".a.jpg.pixmoor-N0wN0w");
  ASSERT_EQ(::symlink("a.jpg", folder.file(".a.jpg.pixmoor-L1nk00").c_str()), 0);
  staying.insert(".a.jpg.pixmoor-L1nk00");
  if (pixmoor::testing::canActAsAnotherUser()) {
    leave(".a.jpg.pixmoor-0ther5", true);
    ASSERT_EQ(::chown(folder.file(".a.jpg.pixmoor-0ther5").c_str(), pixmoor::testing::kOtherUser,
                      pixmoor::testing::kOtherGroup),
              0);
    staying.insert(".a.jpg.pixmoor-0ther5");
  }
  // A second name of the target that a killed set-aside step left.
  leave("a.jpg", true);
  ASSERT_EQ(::link(folder.file("a.jpg").c_str(), folder.file(".a.jpg.pixmoor-Sp4reL").c_str()), 0);
  EXPECT_EQ(replace(folder.file("a.jpg"), "new"), ReplaceStatus::replaced);
  staying.insert("a.jpg");
  EXPECT_EQ(namesIn(folder), staying);
}

}  // namespace

TEST(MakeFolderOf, MakesWhatIsMissingWithTheDefaultPermissions) {
  TempFolder folder;
  const mode_t mask = ::umask(022);
  EXPECT_EQ(makeFolderOf(folder.file("a/b/c/x.jpg")), ReplaceStatus::replaced);
  EXPECT_EQ(makeFolderOf(folder.file("a/b/c/y.jpg")), ReplaceStatus::replaced);  // there already
  ::umask(mask);
  struct stat made {};
  ASSERT_EQ(::stat(folder.file("a/b/c").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0755u);
  writeBytes(folder.file("file"), "x");
  EXPECT_EQ(makeFolderOf(folder.file("file/d/x.jpg")), ReplaceStatus::notAFile);
  EXPECT_FALSE(std::filesystem::exists(folder.file("file/d")));
}

}  // namespace pixmoor::files

// The Trash as file managers read it: where a file goes, the record that
// brings it back, names that collide or are long, another file system's
// Trash, refusals, and what a killed run left in the Trash.
#include "companion/trash.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/small_file_system.h"
#include "support/temp_folder.h"

namespace pixmoor::companion {
namespace {

namespace fs = std::filesystem;
using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  if (fs::exists(folder))
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// The record without its date, which is checked for its form.
std::string recordWithoutDate(const std::string& info) {
  const std::string record = readBytes(info);
  const std::size_t date = record.find("DeletionDate=");
  if (date == std::string::npos) return record;
  EXPECT_TRUE(
      std::regex_match(record.substr(date),
                       std::regex("DeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\n")))
      << record;
  return record.substr(0, date);
}

void makeOld(const std::string& path) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

class Trash : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("HOME", home_.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", home_.file("data").c_str(), 1);
  }
  std::string file(const std::string& name, const std::string& bytes = "picture") {
    writeBytes(work_.file(name), bytes);
    return work_.file(name);
  }
  TempFolder work_;
  TempFolder home_;
  fs::path trash_ = home_.path() / "data" / "Trash";
};

// Into the home Trash, the record holding the absolute path with every byte
// outside the URI's unreserved set escaped; a second file of one name gets
// the number before its extension.
TEST_F(Trash, HomeTrashRecordsWhereEachFileCameFrom) {
  const struct Row {
    std::string name;
    std::string entry;
    std::string escaped;  // the recorded name
  } rows[] = {
      {"a.jpg", "a.jpg", "a.jpg"},
      {"a.jpg", "a.2.jpg", "a.jpg"},
      {"a.jpg", "a.3.jpg", "a.jpg"},
      {"README", "README", "README"},
      {"README", "README.2", "README"},
      {"photo.tar.gz", "photo.2.tar.gz", "photo.tar.gz"},
      {"été 100%+1.jpg", "été 100%+1.jpg", "%C3%A9t%C3%A9%20100%25%2B1.jpg"},
      {"line\nfeed~_-.png", "line\nfeed~_-.png", "line%0Afeed~_-.png"},
  };
  writeBytes(work_.file("photo.tar.gz"), "");
  ASSERT_TRUE(moveToTrash(work_.file("photo.tar.gz"), work_.file("photo.tar.gz")).moved);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.entry);
    const std::string path = file(row.name, row.entry);
    const TrashResult result = moveToTrash(path, path);
    ASSERT_TRUE(result.moved) << result.message;
    EXPECT_EQ(result.entry.file, (trash_ / "files" / row.entry).string());
    EXPECT_EQ(result.entry.info, (trash_ / "info" / (row.entry + ".trashinfo")).string());
    EXPECT_EQ(readBytes(result.entry.file), row.entry);
    EXPECT_EQ(recordWithoutDate(result.entry.info),
              "[Trash Info]\nPath=" + work_.path().string() + "/" + row.escaped + "\n");
    EXPECT_FALSE(fs::exists(path));
  }
  EXPECT_EQ(fs::status(trash_).permissions(), fs::perms::owner_all);
}

// A second name of a file (a hidden hard link beside it) goes in under the
// file's own name and is recorded as coming from there; the file stays.
TEST_F(Trash, ASecondNameIsRecordedAsTheFileItNames) {
  const std::string original = file("a.jpg", "original");
  const std::string spare = work_.file(".a.jpg.pixmoor-Sp4reL");
  ASSERT_EQ(::link(original.c_str(), spare.c_str()), 0);
  const TrashResult result = moveToTrash(spare, original);
  ASSERT_TRUE(result.moved) << result.message;
  EXPECT_EQ(result.entry.file, (trash_ / "files" / "a.jpg").string());
  EXPECT_EQ(recordWithoutDate(result.entry.info), "[Trash Info]\nPath=" + original + "\n");
  EXPECT_EQ(namesIn(work_.path()), std::set<std::string>{"a.jpg"});
  EXPECT_EQ(readBytes(result.entry.file), "original");

  EXPECT_TRUE(removeFromTrash(result.entry));
  EXPECT_TRUE(namesIn(trash_ / "files").empty());
  EXPECT_TRUE(namesIn(trash_ / "info").empty());
  EXPECT_EQ(readBytes(original), "original");
}

// Names that fill the file system's limit are shortened for the record's
// sake, whole characters and the extension kept.
TEST_F(Trash, LongNamesLeaveRoomForTheRecordsName) {
  std::string name;
  while (name.size() + 2 <= 251) name += "\xC3\xA9";
  name += ".jpg";
  for (const char* second : {"", ".2"}) {
    const std::string path = file(name);
    const TrashResult result = moveToTrash(path, path);
    ASSERT_TRUE(result.moved) << result.message;
    const std::string entry = fs::path(result.entry.file).filename();
    EXPECT_LE(fs::path(result.entry.info).filename().string().size(), 255u);
    EXPECT_EQ(entry.substr(entry.size() - 4 - std::string(second).size()), std::string(second) + ".jpg");
    EXPECT_EQ((entry.size() - 4 - std::string(second).size()) % 2, 0u);  // whole characters only
  }
}

// Where no Trash can be made, the file stays and the reason is given.
TEST_F(Trash, NoTrashLeavesTheFileAndSaysWhy) {
  writeBytes(home_.file("plain"), "");
  ::setenv("XDG_DATA_HOME", home_.file("plain/data").c_str(), 1);
  const std::string path = file("a.jpg");
  const TrashResult result = moveToTrash(path, path);
  EXPECT_FALSE(result.moved);
  EXPECT_EQ(result.message,
            "cannot make the Trash folder " + home_.file("plain/data/Trash") + ": Not a directory");
  EXPECT_EQ(readBytes(path), "picture");
}

// Many threads at once, each with its own "a.jpg": one entry each.
TEST_F(Trash, ThreadsNeverShareAnEntry) {
  constexpr int kThreads = 8;
  std::vector<std::string> paths;
  for (int i = 0; i < kThreads; ++i) {
    fs::create_directory(work_.path() / std::to_string(i));
    paths.push_back(file(std::to_string(i) + "/a.jpg", std::to_string(i)));
  }
  std::vector<TrashResult> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] { results[i] = moveToTrash(paths[i], paths[i]); });
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> entries;
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_TRUE(results[i].moved) << results[i].message;
    entries.insert(results[i].entry.file);
    EXPECT_EQ(readBytes(results[i].entry.file), std::to_string(i));
    EXPECT_EQ(recordWithoutDate(results[i].entry.info), "[Trash Info]\nPath=" + paths[i] + "\n");
  }
  EXPECT_EQ(entries.size(), static_cast<std::size_t>(kThreads));
}

// A killed run leaves a record without its file (whole or cut short) or
// the entry of a file that still has its name: the next move of that file
// takes them over. What is not a leftover of this file stays.
TEST_F(Trash, WhatAKilledRunLeftIsTakenOver) {
  fs::create_directories(trash_ / "files");
  fs::create_directories(trash_ / "info");
  const std::string original = file("a.jpg", "original");
  const std::string info = (trash_ / "info" / "a.jpg.trashinfo").string();
  const auto spareOf = [&] {
    const std::string spare = work_.file(".a.jpg.pixmoor-Sp4reL");
    EXPECT_EQ(::link(original.c_str(), spare.c_str()), 0) << spare;
    return spare;
  };
  const struct Row {
    const char* what;
    std::string record;
    bool old;
    bool takenOver;
  } rows[] = {
      {"a record of this file", "[Trash Info]\nPath=" + original + "\nDeletionDate=2020-01-01T00:00:00\n",
       true, true},
      {"a record cut short", "", true, true},
      {"a record cut short in its path", "[Trash Info]\nPath=" + original.substr(0, 9), true, true},
      {"another file's record", "[Trash Info]\nPath=/elsewhere/a.jpg\nDeletionDate=2020-01-01T00:00:00\n",
       true, false},
      {"a record of this run's time", "", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    writeBytes(info, row.record);
    if (row.old) makeOld(info);
    const TrashResult result = moveToTrash(spareOf(), original);
    ASSERT_TRUE(result.moved) << result.message;
    EXPECT_EQ(fs::path(result.entry.file).filename(), row.takenOver ? "a.jpg" : "a.2.jpg");
    EXPECT_EQ(recordWithoutDate(result.entry.info), "[Trash Info]\nPath=" + original + "\n");
    if (!row.takenOver) {
      EXPECT_EQ(readBytes(info), row.record);
    }
    ASSERT_TRUE(removeFromTrash(result.entry));
    ::unlink(info.c_str());
  }

  // Killed once this file was in: the entry is already there, nothing added.
  const TrashResult first = moveToTrash(spareOf(), original);
  ASSERT_TRUE(first.moved);
  const TrashResult again = moveToTrash(spareOf(), original);
  ASSERT_TRUE(again.moved) << again.message;
  EXPECT_EQ(again.entry.file, first.entry.file);
  EXPECT_EQ(namesIn(trash_ / "files"), std::set<std::string>{"a.jpg"});
  EXPECT_EQ(namesIn(work_.path()), std::set<std::string>{"a.jpg"});
  // Another file of that name is another entry.
  fs::create_directory(work_.path() / "b");
  const std::string other = file("b/a.jpg", "other");
  EXPECT_EQ(fs::path(moveToTrash(other, other).entry.file).filename(), "a.2.jpg");
}

// A file on another file system goes to that file system's Trash, its path
// recorded relative to the top folder: the administrator's sticky .Trash
// when there is one, else the user's own .Trash-UID.
TEST_F(Trash, AnotherFileSystemHasItsOwnTrash) {
  const std::string disk = work_.file("disk");
  fs::create_directory(disk);
  const std::string uid = std::to_string(::geteuid());
  const int code = pixmoor::testing::withSmallFileSystem(disk, "1m", [&] {
    fs::create_directory(disk + "/pictures");
    const auto trash = [&](const std::string& expectFolder) {
      writeBytes(disk + "/pictures/a.jpg", "picture");
      const TrashResult result = moveToTrash(disk + "/pictures/a.jpg", disk + "/pictures/a.jpg");
      return result.moved && result.entry.file == disk + "/" + expectFolder + "/files/a.jpg" &&
             readBytes(result.entry.info).rfind("[Trash Info]\nPath=pictures/a.jpg\nDeletionDate=", 0) == 0 &&
             removeFromTrash(result.entry);
    };
    if (!trash(".Trash-" + uid)) return 1;
    fs::create_directory(disk + "/.Trash");  // not sticky: not the administrator's
    if (!trash(".Trash-" + uid)) return 2;
    ::chmod((disk + "/.Trash").c_str(), 01777);
    if (!trash(".Trash/" + uid)) return 3;
    return namesIn(disk + "/pictures").empty() ? 0 : 4;
  });
  if (code == pixmoor::testing::kNoMount)
    GTEST_SKIP() << "cannot mount a small file system here (needs the superuser)";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace pixmoor::companion

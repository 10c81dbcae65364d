#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "support/other_user.h"
#include "support/small_file_system.h"
#include "support/temp_folder.h"

namespace pixmoor::settings {
namespace {

using pixmoor::testing::canActAsAnotherUser;
using pixmoor::testing::fillUp;
using pixmoor::testing::kNoMount;
using pixmoor::testing::kOtherGroup;
using pixmoor::testing::kOtherUser;
using pixmoor::testing::readBytes;
using pixmoor::testing::runAsOrdinaryUser;
using pixmoor::testing::TempFolder;
using pixmoor::testing::withSmallFileSystem;
using pixmoor::testing::writeBytes;

class RecordingSink : public SettingsStatusSink {
 public:
  void settingsSaved() override { events += "saved;"; }
  void settingsNotSaved() override { events += "not saved;"; }
  std::string events;
};

const std::string kFirstRunFile =
    "[DEFAUT]\r\nMODE = REL\r\nTYPE = JPG\r\nQUALITE = 8\r\nTaille_Paysage = 1920\r\n"
    "Taille_Portrait = 1080\r\nFREE_L = 1920\r\nFREE_H = 1080\r\nL = 1920\r\nH = 1080\r\n"
    "VISIBLE = 1\r\nPREFIX = prefix_\r\nLNG = FR\r\n";

class SettingsStoreTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::string path = folder.file("pref.qvl");
};

TEST_F(SettingsStoreTest, FirstRunWritesTheThirteenLinesAndStartsOnTheDefaults) {
  const Settings s = LoadSettings(path, 1920, 1080);
  EXPECT_EQ(readBytes(path), kFirstRunFile);
  EXPECT_EQ(s.mode, SizeMode::relative);
  EXPECT_EQ(s.format, OutputFormat::jpeg);
  EXPECT_EQ(s.quality, 8);
  EXPECT_EQ(s.prefix, "prefix_");
  EXPECT_EQ(s.alwaysOnTop, 1);
  EXPECT_EQ(s.language, "FR");
  EXPECT_EQ(s.landscapeWidth, 1920);
  EXPECT_EQ(s.freeHeight, 1080);
  EXPECT_EQ(CountPreferenceGroups(path), 1);
  // The second start reads the same record back from "DEFAUT".
  EXPECT_EQ(LoadSettings(path, 1920, 1080), s);
  EXPECT_EQ(readBytes(path), kFirstRunFile);
}

TEST_F(SettingsStoreTest, OneStoreAppendsUserAndLaterLoadsTakeBuiltInDefaultsForTheRest) {
  LoadSettings(path, 1920, 1080);
  RecordingSink sink;
  StoreSettingNumber(path, kKeyQuality, 5, sink);
  EXPECT_EQ(sink.events, "");  // a store that succeeds says nothing
  EXPECT_EQ(readBytes(path), kFirstRunFile + "[USER]\r\nQUALITE = 5\r\n");
  EXPECT_EQ(CountPreferenceGroups(path), 2);

  // The desktop changed since the first run: the defaults follow it, not "DEFAUT".
  const Settings s = LoadSettings(path, 1280, 1024);
  EXPECT_EQ(s.quality, 5);
  EXPECT_EQ(s.landscapeWidth, 1280);
  EXPECT_EQ(s.portraitHeight, 1024);
  EXPECT_EQ(s.freeWidth, 1280);
}

TEST_F(SettingsStoreTest, SaveAllWritesEveryKeyInPlaceOrInOrder) {
  writeBytes(path, "[DEFAUT]\r\nMODE = REL\r\n[USER]\r\nLNG = UK\r\nQUALITE = 2\r\n");
  Settings s = defaultSettings(1920, 1080);
  s.mode = SizeMode::free;
  s.quality = 6;
  s.freeWidth = -2;
  s.language = "UK";
  RecordingSink sink;
  SaveAllSettings(s, path, sink);
  EXPECT_EQ(sink.events, "saved;");
  EXPECT_EQ(readBytes(path),
            "[DEFAUT]\r\nMODE = REL\r\n[USER]\r\nLNG = UK\r\nQUALITE = 6\r\nMODE = LIB\r\nTYPE = JPG\r\n"
            "Taille_Paysage = 1920\r\nTaille_Portrait = 1080\r\nFREE_L = 1920\r\nFREE_H = 1080\r\n"
            "L = -2\r\nH = 1080\r\nVISIBLE = 1\r\nPREFIX = prefix_\r\n");
  EXPECT_EQ(LoadSettings(path, 800, 600), s);
}

TEST_F(SettingsStoreTest, EmptyPrefixIsStoredAsZeroAndBecomesZero) {
  LoadSettings(path, 1920, 1080);
  Settings s = defaultSettings(1920, 1080);
  s.prefix.clear();
  RecordingSink sink;
  SaveAllSettings(s, path, sink);
  EXPECT_EQ(s.prefix, "0");
  EXPECT_EQ(LoadSettings(path, 1920, 1080).prefix, "0");
}

struct LoadCase {
  const char* label;
  std::string file;
  Settings (*expected)();
};

TEST_F(SettingsStoreTest, HandWrittenFilesLoadAsTheRulesSay) {
  const std::vector<LoadCase> cases = {
      {"only USER: everything default", "[USER]\r\nQUALITE = 3\r\n",
       +[] { return defaultSettings(1920, 1080); }},
      {"no group at all", "QUALITE = 3\r\n", +[] { return defaultSettings(1920, 1080); }},
      {"quality abc reads 0", "[DEFAUT]\r\n[USER]\r\nQUALITE = abc\r\n",
       +[] {
         auto s = defaultSettings(1920, 1080);
         s.quality = 0;
         return s;
       }},
      {"quality 12 stays 12", "[DEFAUT]\r\n[USER]\r\nQUALITE = 12\r\n",
       +[] {
         auto s = defaultSettings(1920, 1080);
         s.quality = 12;
         return s;
       }},
      {"L keeps its low 16 bits", "[DEFAUT]\r\n[USER]\r\nL = 70000\r\nH = 40000\r\n",
       +[] {
         auto s = defaultSettings(1920, 1080);
         s.freeWidth = 4464;
         s.freeHeight = -25536;
         return s;
       }},
      {"texts stay as read, names in any case",
       "[DEFAUT]\r\n[user]\r\nmode = rel\r\nlng = DE\r\ntype = gif\r\n",
       +[] {
         auto s = defaultSettings(1920, 1080);
         setSizeModeFromText(s, "rel");
         s.language = "DE";
         setOutputFormatFromText(s, "gif");
         return s;
       }},
      {"empty value is empty text", "[DEFAUT]\r\n[USER]\r\nPREFIX =\r\n",
       +[] {
         auto s = defaultSettings(1920, 1080);
         s.prefix = "";
         return s;
       }},
      {"absurd number held at the limit",
       "[DEFAUT]\r\n[USER]\r\nTaille_Paysage = 99999999999\r\nL = 99999999999\r\n",
       +[] {
         auto s = defaultSettings(1920, 1080);
         s.landscapeWidth = 2147483647;
         s.freeWidth = -1;
         return s;
       }},
      {"NUL bytes cut values",
       std::string("[DEFAUT]\r\n[USER]\r\nQUALITE = 7\0"
                   "9\r\n",
                   33),
       +[] {
         auto s = defaultSettings(1920, 1080);
         s.quality = 7;
         return s;
       }},
  };
  for (const auto& c : cases) {
    writeBytes(path, c.file);
    EXPECT_EQ(LoadSettings(path, 1920, 1080), c.expected()) << c.label;
    EXPECT_EQ(readBytes(path), c.file) << c.label << ": loading never rewrites the file";
  }
}

TEST_F(SettingsStoreTest, RemovedFileSingleStoreRecreatesItSaveAllReportsFailure) {
  LoadSettings(path, 1920, 1080);
  std::filesystem::remove(path);
  RecordingSink sink;
  StoreSettingText(path, kKeyMode, "LIB", sink);
  EXPECT_EQ(readBytes(path), "[USER]\r\nMODE = LIB\r\n");

  std::filesystem::remove(path);
  Settings s = defaultSettings(1920, 1080);
  SaveAllSettings(s, path, sink);
  EXPECT_EQ(sink.events, "not saved;");
  EXPECT_FALSE(std::filesystem::exists(path));
}

// "Saved" is said once the file holds every key, never before.
TEST_F(SettingsStoreTest, SavedIsSaidOnlyOnceTheFileHoldsTheChange) {
  class CheckingSink : public SettingsStatusSink {
   public:
    explicit CheckingSink(const std::string& path) : path_(path) {}
    void settingsSaved() override {
      events += readSettings(path_, 1920, 1080)->quality == 1 ? "saved;" : "early;";
    }
    void settingsNotSaved() override { events += "not saved;"; }
    std::string events;

   private:
    std::string path_;
  };
  LoadSettings(path, 1920, 1080);
  Settings s = defaultSettings(1920, 1080);
  s.quality = 1;
  CheckingSink sink(path);
  SaveAllSettings(s, path, sink);
  EXPECT_EQ(sink.events, "saved;");
}

// Both kinds of store, into `at`: what they said.
std::string storeBoth(const std::string& at) {
  RecordingSink sink;
  StoreSettingNumber(at, kKeyQuality, 3, sink);
  Settings s = defaultSettings(1920, 1080);
  s.quality = 1;
  SaveAllSettings(s, at, sink);
  return sink.events;
}

// A change that cannot reach the file leaves its text as it was, and both
// kinds of store say "not saved": a read-only file, a file in another user's
// folder that we may only read; and with no file yet, a folder we may not
// write.
TEST_F(SettingsStoreTest, WritesThatFailAreReportedNotSaved) {
  LoadSettings(path, 1920, 1080);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(storeBoth(path), "not saved;not saved;");
  EXPECT_EQ(readBytes(path), kFirstRunFile);

  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
  EXPECT_EQ(runAsOrdinaryUser([&] { return storeBoth(path) == "not saved;not saved;" ? 0 : 1; }), 0);
  EXPECT_EQ(readBytes(path), kFirstRunFile);
  const std::string absent = folder.file("absent.qvl");
  EXPECT_EQ(runAsOrdinaryUser([&] {
              RecordingSink sink;
              StoreSettingText(absent, kKeyMode, "LIB", sink);
              return sink.events == "not saved;" ? 0 : 1;
            }),
            0);
  EXPECT_FALSE(std::filesystem::exists(absent));
}

// A full disk: the write itself fails (ENOSPC), the file keeps its text.
TEST_F(SettingsStoreTest, FullDiskIsReportedNotSaved) {
  const std::string full = folder.file("full");
  std::filesystem::create_directory(full);
  const std::string fullPath = full + "/pref.qvl";
  const int answer = withSmallFileSystem(full, "64k", [&] {
    writeBytes(fullPath, kFirstRunFile);
    if (!fillUp(full, 0)) return 3;
    if (storeBoth(fullPath) != "not saved;not saved;") return 1;
    return readBytes(fullPath) == kFirstRunFile ? 0 : 2;
  });
  if (answer == kNoMount) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_EQ(answer, 0);
}

TEST_F(SettingsStoreTest, HostileSettingsFilesGiveDefaults) {
  // A folder in place of the file: defaults, nothing created, no crash.
  std::filesystem::create_directory(path);
  EXPECT_EQ(CountPreferenceGroups(path), -1);
  EXPECT_EQ(LoadSettings(path, 1920, 1080), defaultSettings(1920, 1080));
  RecordingSink sink;
  StoreSettingNumber(path, kKeyQuality, 3, sink);
  Settings s = defaultSettings(1920, 1080);
  SaveAllSettings(s, path, sink);
  EXPECT_EQ(sink.events, "not saved;not saved;");
  EXPECT_TRUE(std::filesystem::is_directory(path));
  std::filesystem::remove(path);

  // Binary garbage without any header: read from a missing "USER".
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  garbage.erase(std::remove(garbage.begin(), garbage.end(), '['), garbage.end());
  writeBytes(path, garbage);
  EXPECT_EQ(LoadSettings(path, 1920, 1080), defaultSettings(1920, 1080));
}

TEST_F(SettingsStoreTest, ReadingAloneNeverCreatesOrChangesTheFile) {
  EXPECT_FALSE(readSettings(path, 1920, 1080).has_value());
  EXPECT_FALSE(std::filesystem::exists(path));
  const std::string text = "[DEFAUT]\r\nQUALITE=3\r\n";
  writeBytes(path, text);
  const auto read = readSettings(path, 1920, 1080);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->quality, 3);
  EXPECT_EQ(readBytes(path), text);
}

TEST_F(SettingsStoreTest, UnwritableFolderRunsOnDefaultsWithoutAFile) {
  const std::string missing = folder.file("no/such/folder/pref.qvl");
  EXPECT_EQ(LoadSettings(missing, 1600, 900), defaultSettings(1600, 900));
  EXPECT_FALSE(std::filesystem::exists(folder.file("no")));
}

// A writable file in a folder that forbids new files keeps every change.
TEST_F(SettingsStoreTest, ReadOnlyFolderKeepsEveryChange) {
  LoadSettings(path, 1920, 1080);
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
  EXPECT_EQ(runAsOrdinaryUser([&] {
              RecordingSink sink;
              StoreSettingNumber(path, kKeyQuality, 5, sink);
              if (LoadSettings(path, 1920, 1080).quality != 5) return 1;
              Settings s = defaultSettings(1920, 1080);
              s.prefix = "after_";
              SaveAllSettings(s, path, sink);
              return sink.events == "saved;" ? 0 : 2;
            }),
            0);
  const Settings stored = LoadSettings(path, 1920, 1080);
  EXPECT_EQ(stored.prefix, "after_");
  EXPECT_EQ(readBytes(path).rfind(kFirstRunFile, 0), 0u);
}

// A file that cannot be read is never replaced by one holding only our keys,
// neither by a store nor at start-up.
TEST_F(SettingsStoreTest, UnreadableFileIsLeftAsItIs) {
  const std::string text = kFirstRunFile + "[USER]\r\nPREFIX = mine_\r\n";
  ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
  for (const mode_t mode : {0000, 0200}) {
    writeBytes(path, text);
    if (canActAsAnotherUser()) {
      ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    EXPECT_EQ(runAsOrdinaryUser([&] {
                RecordingSink sink;
                StoreSettingNumber(path, kKeyQuality, 3, sink);
                Settings s = defaultSettings(1920, 1080);
                SaveAllSettings(s, path, sink);
                const bool defaults = LoadSettings(path, 1920, 1080) == defaultSettings(1920, 1080);
                return sink.events == "not saved;not saved;" && defaults ? 0 : 1;
              }),
              0)
        << mode;
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(readBytes(path), text) << mode;
  }
}

// The superuser's store keeps the owner, whose own stores then still work;
// a link planted by another user is not followed.
TEST_F(SettingsStoreTest, AnotherUsersStoreKeepsTheOwnerAndFollowsNoForeignLink) {
  if (!canActAsAnotherUser()) GTEST_SKIP() << "needs the superuser to act as two users";
  LoadSettings(path, 1920, 1080);
  ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
  ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
  RecordingSink sink;
  StoreSettingNumber(path, kKeyQuality, 3, sink);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kOtherUser);
  EXPECT_EQ(st.st_gid, kOtherGroup);
  EXPECT_EQ(runAsOrdinaryUser([&] {
              RecordingSink own;
              StoreSettingNumber(path, kKeyQuality, 4, own);
              return own.events.empty() ? 0 : 1;
            }),
            0);
  EXPECT_EQ(LoadSettings(path, 1920, 1080).quality, 4);

  const std::string victim = folder.file("passwd");
  writeBytes(victim, "root:x:0:0:root:/root:/bin/bash\n");
  std::filesystem::remove(path);
  std::filesystem::create_symlink(victim, path);
  ASSERT_EQ(::lchown(path.c_str(), kOtherUser, kOtherGroup), 0);
  EXPECT_EQ(sink.events, "");
  StoreSettingText(path, kKeyPrefix, "x_", sink);
  EXPECT_EQ(sink.events, "not saved;");
  EXPECT_EQ(readBytes(victim), "root:x:0:0:root:/root:/bin/bash\n");
  EXPECT_TRUE(std::filesystem::is_symlink(path));
}

}  // namespace
}  // namespace pixmoor::settings

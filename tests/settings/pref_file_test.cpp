#include "settings/pref_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <random>

#include "support/temp_folder.h"

namespace pixmoor::settings {

void PrintTo(const PreferenceLine& line, std::ostream* os) {
  static const char* kinds[] = {"Group", "Comment", "Key"};
  *os << kinds[static_cast<int>(line.kind)] << "{\"" << line.name << "\", \"" << line.value << "\"}";
}

namespace {

using pixmoor::testing::entryCount;
using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;

struct LineCase {
  const char* label;
  std::string input;
  std::vector<PreferenceLine> expected;
};

PreferenceLine group(std::string name) {
  return {LineKind::group, std::move(name), {}};
}
PreferenceLine comment(std::string text) {
  return {LineKind::comment, std::move(text), {}};
}
PreferenceLine key(std::string name, std::string value) {
  return {LineKind::key, std::move(name), std::move(value)};
}

TEST(PreferenceParsing, LinesAreReadByTheirFirstCharacter) {
  const std::vector<LineCase> cases = {
      {"header with text after it", "  [USER]  more", {group("USER")}},
      {"blank before ] is kept", "[USER ]", {group("USER ")}},
      {"header without ]", "[open group", {group("open group")}},
      {"comment without blank", ";comment", {comment("comment")}},
      {"comment with one blank", "; comment", {comment("comment")}},
      {"comment with two blanks keeps one", ";  comment", {comment(" comment")}},
      {"mixed case key without blanks", "MoDe=rel", {key("MoDe", "rel")}},
      {"blanks around =, value keeps trailing", "\tkey \t= \t value  ", {key("key", "value  ")}},
      {"key without =", "novalue", {key("novalue", "")}},
      {"line starting with =", "=x", {key("", "x")}},
      {"value with further =", "a = b = c", {key("a", "b = c")}},
      {"runs of CR and LF end lines", "a=1\r\r\n\n\rb=2\n", {key("a", "1"), key("b", "2")}},
      {"blank-only line is dropped", "a=1\n \t \nb=2", {key("a", "1"), key("b", "2")}},
      {"NUL ends the line's text", std::string("a=1\0junk\nb=2", 12), {key("a", "1"), key("b", "2")}},
      {"empty text", "", {}},
  };
  for (const auto& c : cases) {
    const ParsedPreferences parsed = parsePreferenceText(c.input);
    EXPECT_EQ(parsed.lines, c.expected) << c.label;
    EXPECT_EQ(parsed.encoding, TextEncoding::plain) << c.label;
  }
}

TEST(PreferenceParsing, WritingNormalisesTheFile) {
  const std::string input = "\r\n  [G]\n;c\n;  two\n  MoDe=rel\nv = trailing  \n\n=x\nnovalue\n";
  const std::string expected =
      "[G]\r\n; c\r\n;  two\r\nMoDe = rel\r\nv = trailing  \r\n = x\r\nnovalue = \r\n";
  EXPECT_EQ(writtenPreferenceText(parsePreferenceText(input).lines, TextEncoding::plain), expected);
  EXPECT_EQ(writtenPreferenceText({}, TextEncoding::plain), "");
  EXPECT_EQ(writtenPreferenceText({}, TextEncoding::utf8), "\xEF\xBB\xBF\r\n");
}

TEST(PreferenceParsing, NumbersAreReadAsPlainDecimals) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"12", 12},
      {"12ab", 12},
      {"abc", 0},
      {"-5", -5},
      {"  +7", 7},
      {"", 0},
      {"- 5", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const auto& [text, number] : cases) EXPECT_EQ(parseDecimal(text), number) << '"' << text << '"';
}

TEST(PreferenceParsing, InvalidUtf8BecomesQuestionMarks) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},  // valid two-byte sequences stay
      {"\xC4\x80", "\xC4\x80"},                    // above U+00FF is valid UTF-8 too
      {"\xF0\x9F\x98\x80!", "\xF0\x9F\x98\x80!"},  // four bytes
      {"a\xE9z", "a?z"},                           // a Latin-1 byte alone
      {"\xE2\x82"
       "A",
       "?A"},                   // truncated three-byte sequence: one ?
      {"\xC0\xAF", "??"},       // overlong form
      {"\xED\xA0\x80", "???"},  // surrogate
      {"\xFF\xFE", "??"},
      {"\xC3", "?"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(sanitiseUtf8(in), out);
}

class PreferenceFileTest : public ::testing::Test {
 protected:
  std::string write(const std::string& bytes) {
    writeBytes(path, bytes);
    return path;
  }
  TempFolder folder;
  std::string path = folder.file("pref.qvl");
};

TEST_F(PreferenceFileTest, EmptyFileOpensWithNoLines) {
  write("");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_TRUE(file.lines().empty());
  EXPECT_TRUE(file.FirstGroup());
  EXPECT_FALSE(file.NextGroup());
}

TEST_F(PreferenceFileTest, NamesMatchInAnyCaseAndTheFirstOccurrenceWins) {
  write("MoDe=rel\r\nmode = second\r\n[user]\r\nX = 1\r\n[USER]\r\nX = 2\r\n");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.ReadText("MODE", "none"), "rel");
  ASSERT_TRUE(file.SelectGroup("User"));
  EXPECT_EQ(file.ReadNumber("x", -1), 1);

  file.SelectGroup("");
  file.WriteText("MODE", "LIB");  // the name takes the spelling given now
  file.Close();
  EXPECT_EQ(readBytes(path), "MODE = LIB\r\nmode = second\r\n[user]\r\nX = 1\r\n[USER]\r\nX = 2\r\n");
}

TEST_F(PreferenceFileTest, TextIsTrimmedWhenReadButKeptWhenWritten) {
  write("[G]\r\nv =   padded \t \r\nempty =\r\n");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  ASSERT_TRUE(file.SelectGroup("G"));
  EXPECT_EQ(file.ReadText("v", "d"), "padded");
  EXPECT_EQ(file.ReadText("empty", "default"), "");  // present but empty: not the default
  EXPECT_EQ(file.ReadText("missing", "default"), "default");
  EXPECT_EQ(file.ReadNumber("missing", 42), 42);
  file.WriteNumber("n", 3);
  file.Close();
  EXPECT_EQ(readBytes(path), "[G]\r\nv = padded \t \r\nempty = \r\nn = 3\r\n");
}

TEST_F(PreferenceFileTest, ReadsOfAPendingGroupGiveDefaultsAndLeaveTheFileAlone) {
  const std::string original = "[DEFAUT]\r\nQUALITE=8\n";
  write(original);
  {
    PreferenceFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_FALSE(file.SelectGroup("USER"));
    EXPECT_EQ(file.ReadNumber("QUALITE", 5), 5);
    file.Close();
  }
  EXPECT_EQ(readBytes(path), original);
  {
    PreferenceFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_FALSE(file.SelectGroup("USER"));
    file.WriteNumber("QUALITE", 3);
  }  // closing on destruction writes too
  EXPECT_EQ(readBytes(path), "[DEFAUT]\r\nQUALITE = 8\r\n[USER]\r\nQUALITE = 3\r\n");
}

TEST_F(PreferenceFileTest, NewKeysGoAtTheEndOfTheirGroup) {
  write("top=1\r\n[A]\r\na=1\r\n; note of A\r\n[B]\r\nb=1\r\n");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  file.SelectGroup("A");
  file.WriteText("a2", "x");
  file.SelectGroup("");
  file.WriteText("top2", "y");
  file.SelectGroup("B");
  file.WriteText("b2", "z");
  file.Close();
  EXPECT_EQ(readBytes(path),
            "top = 1\r\ntop2 = y\r\n[A]\r\na = 1\r\n; note of A\r\na2 = x\r\n[B]\r\nb = 1\r\nb2 = z\r\n");
}

TEST_F(PreferenceFileTest, TopSectionKeyGoesFirstWhenTheFileBeginsWithAHeader) {
  write("[A]\r\na=1\r\n");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  file.WriteText("top", "1");
  file.Close();
  EXPECT_EQ(readBytes(path), "top = 1\r\n[A]\r\na = 1\r\n");
}

TEST_F(PreferenceFileTest, Utf8MarkIsKeptAndTextPassesUnchanged) {
  write("\xEF\xBB\xBF[G]\nname=caf\xC3\xA9\nwide=\xC4\x80\nbad=a\xE9z\n");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.encoding(), TextEncoding::utf8);
  ASSERT_TRUE(file.SelectGroup("G"));
  EXPECT_EQ(file.ReadText("name"), "caf\xC3\xA9");
  EXPECT_EQ(file.ReadText("wide"), "\xC4\x80");
  EXPECT_EQ(file.ReadText("bad"), "a?z");
  file.WriteText("new", "\xC3\xA9");
  file.Close();
  EXPECT_EQ(
      readBytes(path),
      "\xEF\xBB\xBF\r\n[G]\r\nname = caf\xC3\xA9\r\nwide = \xC4\x80\r\nbad = a\xE9z\r\nnew = \xC3\xA9\r\n");
}

TEST_F(PreferenceFileTest, ShortFileIsNeverTakenAsUtf8) {
  write("\xEF\xBB");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.encoding(), TextEncoding::plain);
}

TEST_F(PreferenceFileTest, FailedOpenStillCreatesTheFileAtClose) {
  PreferenceFile file;
  EXPECT_FALSE(file.Open(path));
  EXPECT_FALSE(file.SelectGroup("USER"));
  file.WriteText("PREFIX", "x_");
  file.Close();
  EXPECT_EQ(readBytes(path), "[USER]\r\nPREFIX = x_\r\n");
}

TEST_F(PreferenceFileTest, ReadOnlyFileReadsButDropsChanges) {
  const std::string original = "[USER]\r\nQUALITE = 4\r\n";
  write(original);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_TRUE(file.readOnly());
  ASSERT_TRUE(file.SelectGroup("USER"));
  EXPECT_EQ(file.ReadNumber("QUALITE", 0), 4);
  file.WriteNumber("QUALITE", 9);
  file.Close();
  EXPECT_EQ(readBytes(path), original);
}

TEST_F(PreferenceFileTest, FailedCreateMakesEverythingANoOp) {
  PreferenceFile file;
  EXPECT_FALSE(file.Create(folder.file("missing/pref.qvl")));
  EXPECT_FALSE(file.SelectGroup(""));
  file.WriteText("a", "b");
  EXPECT_EQ(file.ReadText("a", "d"), "d");
  EXPECT_FALSE(file.FirstGroup());
  file.Close();
  EXPECT_FALSE(std::filesystem::exists(folder.file("missing")));
}

TEST_F(PreferenceFileTest, CreateEmptiesAnExistingFile) {
  write("[OLD]\r\nx = 1\r\n");
  PreferenceFile file;
  ASSERT_TRUE(file.Create(path));
  EXPECT_TRUE(file.lines().empty());
  file.Close();
  EXPECT_EQ(readBytes(path), "");
}

TEST_F(PreferenceFileTest, CreatedFileAppearsWholeAtClose) {
  PreferenceFile file;
  ASSERT_TRUE(file.Create(path));
  file.SelectGroup("DEFAUT");
  file.WriteText("MODE", "REL");
  // Another process reading now finds no file rather than an empty one.
  EXPECT_FALSE(std::filesystem::exists(path));
  file.Close();
  EXPECT_EQ(readBytes(path), "[DEFAUT]\r\nMODE = REL\r\n");
}

TEST_F(PreferenceFileTest, GroupWalkSeesEveryHeaderIncludingRepeats) {
  write("k=v\r\n[A]\r\n[B]\r\n[a]\r\n");
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  ASSERT_TRUE(file.FirstGroup());
  int count = 0;
  while (file.NextGroup()) ++count;
  EXPECT_EQ(count, 3);
}

TEST_F(PreferenceFileTest, AFolderInPlaceOfTheFileIsNeverOpenedOrReplaced) {
  std::filesystem::create_directory(path);
  PreferenceFile file;
  EXPECT_FALSE(file.Open(path));
  file.WriteText("k", "v");
  file.Close();
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(entryCount(folder.path()), 1);
}

TEST_F(PreferenceFileTest, WritingBackLeavesNoTemporaryFileAndKeepsModeAndLinks) {
  const std::string real = folder.file("real.qvl");
  writeBytes(real, "a=1\n");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  std::filesystem::create_symlink(real, path);
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  file.WriteText("a", "2");
  file.Close();
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(readBytes(real), "a = 2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(entryCount(folder.path()), 2);
}

TEST_F(PreferenceFileTest, HostileFilesNeverCrash) {
  std::mt19937 random(1234);
  std::string garbage(64 * 1024, '\0');
  for (auto& c : garbage) c = static_cast<char>(random());
  const std::string longLine = "KEY = " + std::string(1 << 20, 'x') + "\r\n[G]\r\n";
  for (const std::string& bytes : {garbage, longLine, std::string(1000, '\0'), std::string(100000, '\n')}) {
    write(bytes);
    PreferenceFile file;
    ASSERT_TRUE(file.Open(path));
    file.SelectGroup("G");
    (void)file.ReadText("KEY");
    (void)file.ReadNumber("KEY", 1);
    file.WriteNumber("N", 5);
    file.Close();
    // Text with a NUL byte could not be held whole: it is kept, not rewritten.
    if (bytes.find('\0') != std::string::npos) {
      EXPECT_EQ(readBytes(path), bytes);
      continue;
    }
    PreferenceFile again;
    ASSERT_TRUE(again.Open(path));
    ASSERT_TRUE(again.SelectGroup("G"));
    EXPECT_EQ(again.ReadNumber("N", 0), 5);
  }
  write(longLine);
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.ReadText("KEY").size(), std::size_t{1} << 20);
}

struct CloseCase {
  const char* label;
  std::function<void(const std::string& path)> prepare;  // the file (or what stands in its place)
  std::function<void(PreferenceFile&, const std::string& path)> use;
  bool kept;  // what Close answers
};

// Close answers whether the changes are in the file: an unchanged file, a
// written one and a created one keep everything; a read-only file, text not
// held whole, a failed Create and a folder under the name drop the change.
TEST_F(PreferenceFileTest, CloseAnswersWhetherTheChangesReachedTheFile) {
  const auto file = [](const std::string& bytes, mode_t mode = 0644) {
    return [=](const std::string& at) {
      writeBytes(at, bytes);
      ::chmod(at.c_str(), mode);
    };
  };
  const auto openAndWrite = [](PreferenceFile& f, const std::string& at) {
    f.Open(at);
    f.WriteNumber("N", 1);
  };
  const CloseCase cases[] = {
      {"opened, only read", file("N = 0\r\n"),
       [](PreferenceFile& f, const std::string& at) {
         ASSERT_TRUE(f.Open(at));
         EXPECT_EQ(f.ReadNumber("N", 5), 0);
       },
       true},
      {"changed and written", file("N = 0\r\n"), openAndWrite, true},
      {"created at Close", [](const std::string&) {}, openAndWrite, true},
      {"nothing open", [](const std::string&) {}, [](PreferenceFile&, const std::string&) {}, true},
      {"read-only file", file("N = 0\r\n", 0444), openAndWrite, false},
      {"text with a NUL byte", file(std::string("N = 0\0\r\n", 8)), openAndWrite, false},
      {"a folder under the name", [](const std::string& at) { std::filesystem::create_directory(at); },
       openAndWrite, false},
      {"failed Create", [](const std::string& at) { std::filesystem::create_directory(at); },
       [](PreferenceFile& f, const std::string& at) {
         EXPECT_FALSE(f.Create(at + "/missing/pref.qvl"));
         f.WriteNumber("N", 1);
       },
       false},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(path);
    c.prepare(path);
    PreferenceFile f;
    c.use(f, path);
    EXPECT_EQ(f.Close(), c.kept);
    EXPECT_TRUE(f.Close()) << "a closed object has nothing to drop";
  }
}

// A file whose text could not be held whole is never written back shortened.
TEST_F(PreferenceFileTest, TextNotHeldWholeIsNeverWrittenBack) {
  const std::string withNul("[USER]\r\nA = x\0y\r\n", 17);
  write(withNul);
  PreferenceFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_TRUE(file.readOnly());
  file.SelectGroup("USER");
  EXPECT_EQ(file.ReadText("A"), "x");
  file.WriteNumber("B", 1);
  file.Close();
  EXPECT_EQ(readBytes(path), withNul);

  constexpr std::uintmax_t kHuge = 65 * 1024 * 1024;  // sparse: no disk space used
  std::filesystem::resize_file(path, kHuge);
  ASSERT_TRUE(file.Open(path));
  EXPECT_TRUE(file.lines().empty());
  file.WriteNumber("B", 1);
  file.Close();
  EXPECT_EQ(std::filesystem::file_size(path), kHuge);
}

}  // namespace
}  // namespace pixmoor::settings

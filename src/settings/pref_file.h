// PreferenceFile: reads and changes one line-based settings file.
//
// The file is parsed whole into memory on opening, changed in memory, and
// written back whole on closing, in a normalised form (CR LF line ends,
// "name = value", "; comment", "[group]"). Names of groups and keys are
// compared ignoring ASCII case; the first occurrence wins. A file that starts
// with the UTF-8 mark keeps it; its text is UTF-8 already, and a byte sequence
// that is not valid UTF-8 reads as "?".
//
// Writing back goes through the program's one file replacement
// (files/replace_file.h): the whole text replaces the file at once, keeping
// its owner, group and bits; a link is followed only to a file of the user's
// own. Where the folder forbids a replacement but the file is writable, the
// file is rewritten in place from the complete text held in memory.
// Nothing is ever written back that would lose text: a file that can only be
// read (no write permission, or every write bit cleared), or whose text could
// not be held whole (over 64 MiB, a NUL byte, a short read), keeps its
// content and changes to it are dropped. A file that exists but cannot be
// opened for reading is never touched: Open fails and every later operation
// does nothing, as after a failed Create. Close answers whether the changes
// reached the file, so that a dropped change can be reported.
//
// One object serves one file at a time; it has no lock and belongs to the
// thread that uses it. No operation reports errors beyond its boolean result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pixmoor::settings {

enum class LineKind { group, comment, key };

struct PreferenceLine {
  LineKind kind;
  std::string name;   // group name, comment text or key name, as stored in the file
  std::string value;  // keys only

  bool operator==(const PreferenceLine&) const = default;
};

enum class TextEncoding { plain, utf8 };

class PreferenceFile {
 public:
  PreferenceFile() = default;
  ~PreferenceFile();
  PreferenceFile(const PreferenceFile&) = delete;
  PreferenceFile& operator=(const PreferenceFile&) = delete;

  // Opens an existing file and parses it. When there is no such file, holds
  // on to the path: writes then work on an empty line list and Close creates
  // the file. A file that is there but cannot be read stays untouched.
  bool Open(const std::string& path);
  // Starts a new, empty plain file (an existing one is emptied at Close). On
  // failure every later operation does nothing until the next Open or Create.
  bool Create(const std::string& path);
  // Writes the file back when it was changed, then forgets everything. True
  // when every change since Open or Create is in the file (or there was
  // none); false when changes were dropped: the file could only be read, its
  // text was not held whole, it could not be opened, created or written.
  bool Close();

  // Empty name: the top section. A missing group becomes pending: reads give
  // their defaults and the next write appends the group at the end.
  bool SelectGroup(const std::string& name);
  std::string ReadText(const std::string& key, const std::string& defaultText = {}) const;
  std::int32_t ReadNumber(const std::string& key, std::int32_t defaultNumber) const;
  void WriteText(const std::string& key, const std::string& value);
  void WriteNumber(const std::string& key, std::int32_t value);

  // Walks the group headers in file order, duplicates included.
  bool FirstGroup();
  bool NextGroup();

  // What the object holds (for tests and diagnostics).
  const std::vector<PreferenceLine>& lines() const { return lines_; }
  TextEncoding encoding() const { return encoding_; }
  bool readOnly() const { return readOnly_; }

 private:
  enum class State { closed, open, pathOnly, failed };

  std::optional<std::size_t> findKey(std::string_view key) const;
  std::optional<std::size_t> findGroup(std::string_view name) const;
  std::string convertIn(std::string_view stored) const;
  void reset();

  State state_ = State::closed;
  std::string path_;
  bool modified_ = false;
  bool readOnly_ = false;
  TextEncoding encoding_ = TextEncoding::plain;
  std::vector<PreferenceLine> lines_;
  std::optional<std::size_t> currentGroup_;  // index of a header line; none: top section
  std::optional<std::string> pendingGroup_;
};

// The parsing and writing rules, exposed so that they can be tested alone.
struct ParsedPreferences {
  TextEncoding encoding = TextEncoding::plain;
  std::vector<PreferenceLine> lines;
  bool whole = true;  // false when a NUL byte cut a line: writing back would lose its rest
};
ParsedPreferences parsePreferenceText(std::string_view fileBytes);
std::string writtenPreferenceText(const std::vector<PreferenceLine>& lines, TextEncoding encoding);

// Text held by a UTF-8 file as the program reads it: valid UTF-8 is kept,
// each maximal invalid subsequence becomes "?".
std::string sanitiseUtf8(std::string_view bytes);

// A decimal number as the file format reads it: leading blanks, an optional
// sign, digits up to the first other character; no digits gives 0. Values
// beyond the 32-bit range are held at its limits.
std::int32_t parseDecimal(std::string_view text);

}  // namespace pixmoor::settings

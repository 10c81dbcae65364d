#include "settings/pref_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "files/replace_file.h"

namespace pixmoor::settings {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";
// A settings file is a few hundred bytes; anything far larger is treated as
// a file whose text cannot be held: it opens with no lines, read-only.
constexpr off_t kLargestFile = 64 * 1024 * 1024;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One line of text, without its line end, becomes one PreferenceLine.
// A NUL byte ends the line's text: whatever follows it on that line is not
// part of any name or value.
std::optional<PreferenceLine> parseLine(std::string_view line) {
  if (const auto nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
  while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
  // A line of blanks only says nothing; it is dropped like an empty line.
  if (line.empty()) return std::nullopt;

  if (line.front() == ';') {
    line.remove_prefix(1);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return PreferenceLine{LineKind::comment, std::string(line), {}};
  }
  if (line.front() == '[') {
    line.remove_prefix(1);
    return PreferenceLine{LineKind::group, std::string(line.substr(0, line.find(']'))), {}};
  }
  const auto equals = line.find('=');
  std::string_view name = line.substr(0, equals);
  while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
  std::string_view value;
  if (equals != std::string_view::npos) {
    value = line.substr(equals + 1);
    while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
  }
  return PreferenceLine{LineKind::key, std::string(name), std::string(value)};
}

// How many leading bytes of `s` fit one well-formed UTF-8 sequence, and
// whether they complete it. An incomplete run is the "maximal subpart" that
// is replaced by one "?".
struct Utf8Run {
  std::size_t length;
  bool complete;
};

Utf8Run utf8Run(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) return {1, true};
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {1, false};
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char lo = (i == 1) ? low : 0x80;
    const unsigned char hi = (i == 1) ? high : 0xBF;
    if (i >= s.size() || b(i) < lo || b(i) > hi) return {i, false};
  }
  return {length, true};
}

}  // namespace

std::string sanitiseUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const Utf8Run run = utf8Run(bytes);
    if (run.complete) {
      out.append(bytes.substr(0, run.length));
    } else {
      out += '?';
    }
    bytes.remove_prefix(run.length);
  }
  return out;
}

std::int32_t parseDecimal(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::int64_t magnitude = 0;
  constexpr std::int64_t kCeiling = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    magnitude = std::min<std::int64_t>(magnitude * 10 + (c - '0'), kCeiling);
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value);
}

ParsedPreferences parsePreferenceText(std::string_view bytes) {
  ParsedPreferences parsed;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == kUtf8Mark) {
    parsed.encoding = TextEncoding::utf8;
    bytes.remove_prefix(3);
  }
  while (!bytes.empty()) {
    const std::size_t end = bytes.find_first_of("\r\n");
    const std::string_view text = bytes.substr(0, end);
    if (text.find('\0') != std::string_view::npos) parsed.whole = false;
    if (auto line = parseLine(text)) parsed.lines.push_back(std::move(*line));
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end);
    while (!bytes.empty() && (bytes.front() == '\r' || bytes.front() == '\n')) bytes.remove_prefix(1);
  }
  return parsed;
}

std::string writtenPreferenceText(const std::vector<PreferenceLine>& lines, TextEncoding encoding) {
  std::string text;
  if (encoding == TextEncoding::utf8) {
    text += kUtf8Mark;
    text += kLineEnd;
  }
  for (const auto& line : lines) {
    switch (line.kind) {
      case LineKind::group:
        text += '[';
        text += line.name;
        text += ']';
        break;
      case LineKind::comment:
        text += "; ";
        text += line.name;
        break;
      case LineKind::key:
        text += line.name;
        text += " = ";
        text += line.value;
        break;
    }
    text += kLineEnd;
  }
  return text;
}

PreferenceFile::~PreferenceFile() {
  Close();  // a caller that needs the answer closes first
}

void PreferenceFile::reset() {
  state_ = State::closed;
  path_.clear();
  modified_ = false;
  readOnly_ = false;
  encoding_ = TextEncoding::plain;
  lines_.clear();
  currentGroup_.reset();
  pendingGroup_.reset();
}

bool PreferenceFile::Open(const std::string& path) {
  Close();
  path_ = path;
  state_ = State::pathOnly;

  // O_NONBLOCK keeps a FIFO planted under the file's name from hanging us.
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  bool readOnly = false;
  if (fd < 0) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    readOnly = true;
  }
  if (fd < 0) {
    // Only a missing file may be created at Close; one that is there but
    // cannot be read would be replaced by a file holding only our changes.
    if (errno != ENOENT) state_ = State::failed;
    return false;
  }

  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  // A file whose every write bit is cleared was marked read-only on purpose;
  // that holds even for a user whom the system would let write it.
  if ((st.st_mode & 0222) == 0) readOnly = true;

  std::string bytes;
  bool haveText = st.st_size <= kLargestFile;
  if (haveText) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    haveText = got == bytes.size();
    bytes.resize(got);
  }
  ::close(fd);

  state_ = State::open;
  if (haveText) {
    ParsedPreferences parsed = parsePreferenceText(bytes);
    encoding_ = parsed.encoding;
    lines_ = std::move(parsed.lines);
    haveText = parsed.whole;
  }
  // Text that was not held whole is never written back in its shortened form.
  readOnly_ = readOnly || !haveText;
  return true;
}

bool PreferenceFile::Create(const std::string& path) {
  Close();
  // Nothing is written yet: the text goes to disk at Close, through the same
  // replacement as every other change, so no reader ever sees the file empty
  // or half-written. Here we only check that the file could be made.
  struct stat st {};
  bool ok = false;
  if (::stat(path.c_str(), &st) == 0) {
    ok = S_ISREG(st.st_mode);
  } else if (errno == ENOENT) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    ok =
        ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
  }
  if (!ok) {
    state_ = State::failed;
    return false;
  }
  state_ = State::open;
  path_ = path;
  modified_ = true;  // an existing file is emptied even when nothing is written
  return true;
}

bool PreferenceFile::Close() {
  bool kept = true;
  if (modified_) {
    // On failure the file keeps its old content. The text is held whole, so
    // a folder that forbids a replacement may have it in place.
    kept = !readOnly_ && (state_ == State::open || state_ == State::pathOnly) &&
           files::replaceWholeFile(path_, writtenPreferenceText(lines_, encoding_),
                                   files::InPlace::whenFolderIsReadOnly) == files::ReplaceStatus::replaced;
  }
  reset();
  return kept;
}

std::string PreferenceFile::convertIn(std::string_view stored) const {
  return encoding_ == TextEncoding::utf8 ? sanitiseUtf8(stored) : std::string(stored);
}

std::optional<std::size_t> PreferenceFile::findGroup(std::string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::group && sameName(convertIn(lines_[i].name), name)) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> PreferenceFile::findKey(std::string_view key) const {
  if (pendingGroup_ || state_ == State::closed || state_ == State::failed) return std::nullopt;
  const std::size_t start = currentGroup_ ? *currentGroup_ + 1 : 0;
  for (std::size_t i = start; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::group) break;
    if (lines_[i].kind == LineKind::key && sameName(convertIn(lines_[i].name), key)) return i;
  }
  return std::nullopt;
}

bool PreferenceFile::SelectGroup(const std::string& name) {
  if (state_ == State::closed || state_ == State::failed) return false;
  if (name.empty()) {
    currentGroup_.reset();
    pendingGroup_.reset();
    return true;
  }
  if (const auto found = findGroup(name)) {
    currentGroup_ = found;
    pendingGroup_.reset();
    return true;
  }
  pendingGroup_ = name;
  return false;
}

std::string PreferenceFile::ReadText(const std::string& key, const std::string& defaultText) const {
  const auto found = findKey(key);
  if (!found) return defaultText;
  return std::string(trimBlanks(convertIn(lines_[*found].value)));
}

std::int32_t PreferenceFile::ReadNumber(const std::string& key, std::int32_t defaultNumber) const {
  const auto found = findKey(key);
  if (!found) return defaultNumber;
  return parseDecimal(convertIn(lines_[*found].value));
}

void PreferenceFile::WriteText(const std::string& key, const std::string& value) {
  if (state_ == State::closed) return;
  modified_ = true;  // also for a file that cannot take it: Close then says it was dropped
  if (state_ == State::failed) return;
  if (pendingGroup_) {
    lines_.push_back(PreferenceLine{LineKind::group, *pendingGroup_, {}});
    currentGroup_ = lines_.size() - 1;
    pendingGroup_.reset();
  }
  if (const auto found = findKey(key)) {
    lines_[*found].name = key;
    lines_[*found].value = value;
  } else {
    // A new key goes after the last line of its group: just before the next
    // header, or at the end of the list.
    std::size_t at = currentGroup_ ? *currentGroup_ + 1 : 0;
    while (at < lines_.size() && lines_[at].kind != LineKind::group) ++at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                  PreferenceLine{LineKind::key, key, value});
  }
}

void PreferenceFile::WriteNumber(const std::string& key, std::int32_t value) {
  WriteText(key, std::to_string(value));
}

bool PreferenceFile::FirstGroup() {
  if (state_ != State::open && state_ != State::pathOnly) return false;
  currentGroup_.reset();
  pendingGroup_.reset();
  return true;
}

bool PreferenceFile::NextGroup() {
  if (state_ != State::open && state_ != State::pathOnly) return false;
  const std::size_t start = currentGroup_ ? *currentGroup_ + 1 : 0;
  for (std::size_t i = start; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::group) {
      currentGroup_ = i;
      return true;
    }
  }
  return false;
}

}  // namespace pixmoor::settings

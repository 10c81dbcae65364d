#include "companion/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <vector>

#include "codecs/format_registry.h"

namespace pixmoor::companion {
namespace {

struct OptionRow;

// Checks an option's value and puts it into `options`; answers the usage
// error, if any. A switch is called with no value.
using Store = std::optional<std::string> (*)(const OptionRow& row, std::string_view value, Options& options);

// The form of an option's value, for the parser and the completion.
enum class ValueKind {
  none,    // a switch: no value
  text,    // any text
  file,    // a file name
  number,  // a whole number from `low` to `high`
  word,    // one of the words the synopsis lists ("rel|free"), in any case
  size,    // WIDTHxHEIGHT, each side from `low` to `high`
};

// One option, for the parser and every document. `synopsis` is its name
// (the parser's key), then the form of its value as the documents show it;
// a row without `store` is a line of the documents only. `help` holds the
// --help lines, already wrapped; the manual page joins them.
struct OptionRow {
  std::string_view synopsis;
  ValueKind kind = ValueKind::none;
  Store store = nullptr;
  std::int32_t low = 0;
  std::int32_t high = 0;
  std::string_view help;
};

std::string_view optionName(std::string_view synopsis) {
  const std::size_t end = synopsis.find(' ');
  return end == std::string_view::npos ? synopsis : synopsis.substr(0, end);
}

// What the synopsis shows after the name: "rel|free", "N", "FILE"; empty for a switch.
std::string_view valueForm(std::string_view synopsis) {
  const std::size_t space = synopsis.find(' ');
  return space == std::string_view::npos ? std::string_view() : synopsis.substr(space + 1);
}

std::vector<std::string_view> wordsOf(const OptionRow& row) {
  std::vector<std::string_view> words;
  std::string_view form = valueForm(row.synopsis);
  for (std::size_t bar; (bar = form.find('|')) != std::string_view::npos; form.remove_prefix(bar + 1))
    words.push_back(form.substr(0, bar));
  words.push_back(form);
  return words;
}

// "a or b", "a, b or c".
std::string listed(const std::vector<std::string_view>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " or " : ", ";
    text += words[i];
  }
  return text;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<std::int32_t> parseNumber(std::string_view text, std::int32_t low, std::int32_t high) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

std::string quotedValue(std::string_view value) {
  return ", not '" + std::string(value) + "'";
}

template <auto Field, auto Value>
std::optional<std::string> storeSwitch(const OptionRow&, std::string_view, Options& options) {
  options.*Field = Value;
  return std::nullopt;
}

// An empty path is a usage error, never "none": an unset variable in a
// script (--output-dir "$OUT") must not make the run replace its sources.
template <auto Field>
std::optional<std::string> storeText(const OptionRow& row, std::string_view value, Options& options) {
  if (value.empty()) return std::string(optionName(row.synopsis)) + " is empty: give a path";
  options.*Field = std::string(value);
  return std::nullopt;
}

std::optional<std::string> storePrefix(const OptionRow& row, std::string_view value, Options& options) {
  if (auto problem = prefixProblem(value)) return std::string(optionName(row.synopsis)) + " " + *problem;
  options.prefix = std::string(value);
  return std::nullopt;
}

template <auto Field>
std::optional<std::string> storeNumber(const OptionRow& row, std::string_view value, Options& options) {
  const auto number = parseNumber(value, row.low, row.high);
  if (!number) {
    return std::string(optionName(row.synopsis)) + " must be a whole number from " + std::to_string(row.low) +
           " to " + std::to_string(row.high) + quotedValue(value);
  }
  options.*Field = *number;
  return std::nullopt;
}

// The n-th word of the synopsis gives the n-th of `Values`; without values
// the word itself is kept, spelt as the synopsis spells it.
template <auto Field, auto... Values>
std::optional<std::string> storeWord(const OptionRow& row, std::string_view value, Options& options) {
  const std::vector<std::string_view> words = wordsOf(row);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (!sameIgnoringCase(words[i], value)) continue;
    if constexpr (sizeof...(Values) == 0) {
      options.*Field = std::string(words[i]);
    } else {
      constexpr std::array values{Values...};
      options.*Field = values[i];
    }
    return std::nullopt;
  }
  return std::string(optionName(row.synopsis)) + " must be " + listed(words) + quotedValue(value);
}

template <auto Field>
std::optional<std::string> storeSize(const OptionRow& row, std::string_view value, Options& options) {
  const std::size_t x = value.find_first_of("xX");
  const auto width =
      x == std::string_view::npos ? std::nullopt : parseNumber(value.substr(0, x), row.low, row.high);
  const auto height =
      x == std::string_view::npos ? std::nullopt : parseNumber(value.substr(x + 1), row.low, row.high);
  if (!width || !height) {
    return std::string(optionName(row.synopsis)) + " must be WIDTHxHEIGHT with sides from " +
           std::to_string(row.low) + " to " + std::to_string(row.high) + quotedValue(value);
  }
  options.*Field = {static_cast<std::int16_t>(*width), static_cast<std::int16_t>(*height)};
  return std::nullopt;
}

// "P%" or "P", a whole percentage from `low` to `high`.
std::optional<std::string> storePercent(const OptionRow& row, std::string_view value, Options& options) {
  std::string_view digits = value;
  if (!digits.empty() && digits.back() == '%') digits.remove_suffix(1);
  const auto percent = parseNumber(digits, row.low, row.high);
  if (!percent) {
    return std::string(optionName(row.synopsis)) + " must be a whole percentage from " +
           std::to_string(row.low) + "% to " + std::to_string(row.high) + "%" + quotedValue(value);
  }
  options.scalePercent = *percent;
  return std::nullopt;
}

// "N", "NK" or "NM" (K = 1024 bytes, M = 1024 K), at least `low` bytes and at most `high` MiB.
std::optional<std::string> storeBytes(const OptionRow& row, std::string_view value, Options& options) {
  std::string_view digits = value;
  std::uint64_t unit = 1;
  if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k')) unit = 1024;
  if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm')) unit = 1024 * 1024;
  if (unit != 1) digits.remove_suffix(1);
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  const std::uint64_t most = static_cast<std::uint64_t>(row.high) * 1024 * 1024;
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      number > most / unit || number * unit < static_cast<std::uint64_t>(row.low)) {
    return std::string(optionName(row.synopsis)) + " must be a number of bytes from " +
           std::to_string(row.low) + " to " + std::to_string(row.high) +
           "M, with K or M after it for KiB or MiB" + quotedValue(value);
  }
  options.maxBytes = number * unit;
  return std::nullopt;
}

// The kinds of rows, each read into its own field of Options.
template <auto Field, auto Value = true>
constexpr OptionRow switchRow(std::string_view synopsis, std::string_view help) {
  return {synopsis, ValueKind::none, &storeSwitch<Field, Value>, 0, 0, help};
}
template <auto Field>
constexpr OptionRow fileRow(std::string_view synopsis, std::string_view help) {
  return {synopsis, ValueKind::file, &storeText<Field>, 0, 0, help};
}
template <auto Field>
constexpr OptionRow numberRow(std::string_view synopsis, std::int32_t low, std::int32_t high,
                              std::string_view help) {
  return {synopsis, ValueKind::number, &storeNumber<Field>, low, high, help};
}
// Not constexpr: called while the table is built, it stops the compilation.
void synopsisWordsAndValuesDiffer() {}

template <auto Field, auto... Values>
constexpr OptionRow wordRow(std::string_view synopsis, std::string_view help) {
  const auto words = static_cast<std::size_t>(std::count(synopsis.begin(), synopsis.end(), '|')) + 1;
  if (sizeof...(Values) != 0 && sizeof...(Values) != words) synopsisWordsAndValuesDiffer();
  return {synopsis, ValueKind::word, &storeWord<Field, Values...>, 0, 0, help};
}
template <auto Field>
constexpr OptionRow sizeRow(std::string_view synopsis, std::int32_t low, std::int32_t high,
                            std::string_view help) {
  return {synopsis, ValueKind::size, &storeSize<Field>, low, high, help};
}
constexpr OptionRow prefixRow(std::string_view synopsis, std::string_view help) {
  return {synopsis, ValueKind::text, &storePrefix, 0, 0, help};
}
constexpr OptionRow percentRow(std::string_view synopsis, std::int32_t low, std::int32_t high,
                               std::string_view help) {
  return {synopsis, ValueKind::text, &storePercent, low, high, help};
}
constexpr OptionRow bytesRow(std::string_view synopsis, std::int32_t low, std::int32_t highMiB,
                             std::string_view help) {
  return {synopsis, ValueKind::text, &storeBytes, low, highMiB, help};
}
constexpr OptionRow documentRow(std::string_view synopsis, std::string_view help) {
  return {synopsis, ValueKind::none, nullptr, 0, 0, help};
}

constexpr std::string_view kUsageLine = "Usage: pixmoor-batch [options] PATH...";

// The words of `text` in lines of at most kHelpColumns characters.
std::string wrapped(std::string_view text) {
  constexpr std::size_t kHelpColumns = 79;
  std::string out;
  std::size_t lineStart = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(' '), text.size());
    const std::string_view word = text.substr(0, end);
    if (out.size() > lineStart && out.size() - lineStart + 1 + word.size() > kHelpColumns) {
      out += '\n';
      lineStart = out.size();
    } else if (out.size() > lineStart) {
      out += ' ';
    }
    out += word;
    text = end == text.size() ? std::string_view() : text.substr(end + 1);
  }
  return out;
}

// Every extension the companion takes, from the format table.
std::string description() {
  return wrapped(
      "Resizes pictures as a drop on the Pixmoor window would: one folder gives its pictures (with "
      "--recursive also those of its subfolders), otherwise every path whose name ends in " +
      listed(image::pictureExtensions(image::FormatSet::companion)) +
      " (in any case) is taken. Each output is written beside its source (or into --output-dir) as "
      "PREFIX + name + .jpg, .png, .webp or .avif.");
}

constexpr std::string_view kSettings =
    "Settings come from pref.qvl in the current folder (read, never written), else\n"
    "from the one the window started from the desktop's menu keeps,\n"
    "$XDG_CONFIG_HOME/pixmoor/pref.qvl (~/.config/pixmoor/pref.qvl), else from the\n"
    "defaults for a 1920 x 1080 desktop. Options override them for this run:";

using batch::ExifChoice;
using batch::IfExists;
using settings::OutputFormat;
using settings::SizeMode;
constexpr std::int32_t kMaxSide = 32767;

// Every option, in the order of the documents. A new option is one row here
// (and its field in Options).
constexpr std::array kOptions = {
    fileRow<&Options::settingsFile>("--settings FILE", "read the settings from FILE instead"),
    wordRow<&Options::mode, SizeMode::relative, SizeMode::free>(
        "--mode rel|free", "relative mode (keep proportions) or free mode"),
    numberRow<&Options::landscapeWidth>("--landscape-width N", 1, kMaxSide,
                                        "relative mode: width of landscape pictures"),
    numberRow<&Options::portraitHeight>("--portrait-height N", 1, kMaxSide,
                                        "relative mode: height of portrait pictures"),
    sizeRow<&Options::size>("--size WxH", 1, kMaxSide,
                            "free mode: output width and height\n"
                            "(without --mode, --size selects free mode and the\n"
                            "two relative sizes select relative mode)"),
    sizeRow<&Options::fit>("--fit WxH", 1, kMaxSide,
                           "the largest size within W x H, proportions kept\n"
                           "(sides rounded to the nearest pixel, at least 1)"),
    percentRow("--scale P%", 1, 1000,
               "each side times P / 100 (rounded to the nearest\n"
               "pixel, at least 1)"),
    numberRow<&Options::longEdge>("--long-edge N", 1, kMaxSide,
                                  "the longer side to N pixels, proportions kept (the\n"
                                  "other rounded to the nearest pixel, at least 1).\n"
                                  "One of --fit, --scale and --long-edge at most,\n"
                                  "never beside --mode, --size or the relative sizes;\n"
                                  "relative mode truncates, as the window does"),
    switchRow<&Options::shrinkOnly>("--shrink-only",
                                    "a picture already within its target keeps its\n"
                                    "size (still written in the chosen format); with\n"
                                    "prefix \"0\" and its own format it is left\n"
                                    "untouched and reported as already-small (unless\n"
                                    "it has more bytes than --max-bytes allows)"),
    bytesRow("--max-bytes N[K|M]", 1, 4096,
             "each output at most N bytes: the highest quality up\n"
             "to --quality whose encoding fits, else the picture\n"
             "made smaller at the lowest quality (PNG and lossless\n"
             "WebP: smaller only), down to 16 pixels on its\n"
             "longer side; beyond that cannot-fit"),
    wordRow<&Options::format, OutputFormat::jpeg, OutputFormat::png, OutputFormat::webp, OutputFormat::avif>(
        "--format jpg|png|webp|avif", "output format"),
    numberRow<&Options::quality>("--quality 0-10", 0, 10,
                                 "quality of JPEG, WebP and AVIF output (for\n"
                                 "lossless WebP: the effort, up to 6)"),
    switchRow<&Options::lossless>("--lossless",
                                  "with --format webp: lossless WebP, every pixel\n"
                                  "kept exactly"),
    prefixRow("--prefix TEXT",
              "text put before each output name; \"0\" means none:\n"
              "the sources themselves are replaced. Never empty,\n"
              "never holding \"/\"; give one starting with \"--\" as\n"
              "--prefix=TEXT. An output never replaces another\n"
              "source of the run, nor an output the run wrote"),
    fileRow<&Options::outputDir>("--output-dir DIR",
                                 "write the outputs into DIR (made when missing)\n"
                                 "instead of beside their sources; a folder walked\n"
                                 "with --recursive is mirrored under it. Prefix \"0\"\n"
                                 "keeps the names and replaces no source there; DIR\n"
                                 "is never walked for pictures"),
    wordRow<&Options::ifExists, IfExists::replace, IfExists::skip, IfExists::rename>(
        "--if-exists replace|skip|rename",
        "an output whose name holds a file: replace it (the\n"
        "default, under the rules above), skip the picture\n"
        "(reported as exists), or write \"name (1).jpg\",\n"
        "\"name (2).jpg\", ...; judged as the output takes its\n"
        "name, so a file that came there meanwhile stays"),
    wordRow<&Options::language>("--lang FR|UK",
                                "language of the texts; without it, that of the\n"
                                "settings file, else that of the environment\n"
                                "(LC_ALL, LC_MESSAGES or LANG starting with \"fr\":\n"
                                "French, anything else English)"),
    switchRow<&Options::recursive>("--recursive",
                                   "one folder also gives the pictures of its subfolders\n"
                                   "(each folder's pictures, then its subfolders, in\n"
                                   "name order); links to folders, hidden folders\n"
                                   "(\".name\") and Trash folders are not entered"),
    switchRow<&Options::hidden>("--hidden",
                                "--recursive also enters hidden folders (never a\n"
                                "Trash); hidden files are always taken"),
    numberRow<&Options::jobs>("--jobs N", 1, 256,
                              "threads the batch may use, shared by the pictures\n"
                              "resized at once and their resizing (default: the\n"
                              "cores this process may run on, at most 4); with 1\n"
                              "everything runs on one thread, each picture written\n"
                              "before the next one is read"),
    switchRow<&Options::dryRun, DryRun::headers>("--dry-run",
                                                 "write nothing: read each picture's header and print\n"
                                                 "its upright size, its target size, its output name\n"
                                                 "and whether that name is new, exists or is the\n"
                                                 "source itself, or why it would produce no file\n"
                                                 "(every check of the write, short of writing)"),
    switchRow<&Options::dryRun, DryRun::exact>("--dry-run=exact",
                                               "also decode, resize and encode each picture in\n"
                                               "memory and print its exact bytes and the totals"),
    switchRow<&Options::json>("--json",
                              "one JSON object per picture on standard output,\n"
                              "then a summary (see below); the other texts go to\n"
                              "standard error"),
    switchRow<&Options::trashOriginals>("--trash-originals",
                                        "with no prefix: each source goes to the desktop's\n"
                                        "Trash, restorable there, once its output is whole\n"
                                        "and just before the output takes its name; a\n"
                                        "source the Trash refuses stays untouched and is\n"
                                        "reported"),
    wordRow<&Options::metadata, ExifChoice::none, ExifChoice::keep, ExifChoice::keepWithoutGps>(
        "--metadata none|keep|keep-no-gps",
        "the EXIF each output carries: none (the default:\n"
        "only the colour profile goes with the pixels), the\n"
        "source's (keep: dates, camera, exposure, copyright,\n"
        "location; its orientation set to 1, its sizes to the\n"
        "output's, its thumbnail dropped), or the same with\n"
        "the GPS location and the maker note removed\n"
        "(keep-no-gps); see METADATA"),
    switchRow<&Options::keepDates>("--keep-dates",
                                   "each output bears its source's modification and\n"
                                   "access times (without a prefix the replaced\n"
                                   "file keeps its own)"),
    switchRow<&Options::quiet>("--quiet", "print only the pictures that produced no file"),
    switchRow<&Options::help>("--help", "print this help and end"),
    switchRow<&Options::version>("--version", "print the version and end"),
    documentRow("--", "every later argument is a PATH"),
    documentRow("PATH", "a folder, or picture files"),
};

// Sections after the options: the manual page's title and the help lines.
struct Section {
  std::string_view title;
  std::string_view text;
};

constexpr std::array<Section, 8> kSections = {{
    {"FORMATS",
     "Read: JPEG, PNG, BMP, Windows icons, GIF, WebP, TIFF, HEIC/HEIF and AVIF,\n"
     "each recognised by its content. GIF, WebP, TIFF, HEIF and AVIF are decoded in\n"
     "pixmoor-decode, a confined helper process: a picture whose helper crashes or\n"
     "passes its limits is \"damaged\", and the batch goes on. JPEG 2000 and JPEG XL\n"
     "are not read. Written: JPEG, PNG, WebP (lossy, or lossless with --lossless)\n"
     "and AVIF (4:2:0)."},
    {"METADATA",
     "--metadata keep takes the EXIF block of a JPEG (APP1), a PNG (eXIf), a WebP\n"
     "(EXIF chunk) or a HEIF or AVIF (Exif item) into the output: a JPEG's APP1\n"
     "segment, a PNG's eXIf chunk, a WebP's EXIF chunk, an AVIF's Exif item. Every\n"
     "tag is kept where it is (maker notes too) but Orientation, set to 1 since the\n"
     "pixels are upright, the sizes, set to the output's, SubjectArea and\n"
     "SubjectLocation, removed, and the thumbnail, dropped. keep-no-gps removes\n"
     "the GPS directory wherever it is named and zeroes its bytes, and drops the\n"
     "maker note, whose camera-private layout may hold a location too. A block\n"
     "that fails its checks (offsets outside it, loops, counts that lie; with\n"
     "keep-no-gps also two GPS directories, a chained one or one named by the\n"
     "thumbnail directory) is left out with the warning\n"
     "exif-damaged, and one larger than a JPEG segment holds (65,527 bytes) with\n"
     "exif-too-large; the picture is written either way. TIFF and GIF sources\n"
     "keep no EXIF."},
    {"PATHS LEFT OUT",
     "A path that does not exist, a folder given beside other paths, a folder\n"
     "that cannot be read, a path longer than the system allows and a Trash (or\n"
     "anything in one) are left out, each named on standard error as\n"
     "\"PATH: skipped, why\"; so is the --output-dir folder met inside the folder\n"
     "walked, whose pictures are outputs (that one leaves the exit status 0).\n"
     "A file whose name has no accepted extension is\n"
     "passed over silently, as a drop does. A settings file that cannot be used as\n"
     "written is named with what is used instead; given with --settings, it is a\n"
     "usage error."},
    {"EXIT STATUS",
     "Exit status: 0 every picture was written (or left as asked: already-small,\n"
     "exists), 1 at least one produced no file otherwise or a path was left out,\n"
     "2 usage error or nothing to do. A dry run answers what the run would."},
    {"JSON OUTPUT",
     "JSON: each picture is one line holding an object with \"type\": \"picture\",\n"
     "\"source\", \"output\", \"outcome\" (written, left, failed or stopped; planned,\n"
     "left, failed or stopped in a dry run), \"reason\" (why no file, e.g.\n"
     "unknown-format, write-protected, folder-not-writable, disk-full,\n"
     "too-large-for-memory, damaged, not-confined, sandbox-violation, timed-out,\n"
     "too-many-open-files, cannot-fit or too-large-for-format; already-small or exists for a\n"
     "picture left as asked; else null), \"quality\" (the quality --max-bytes\n"
     "chose, else null), \"warnings\" (truncated, changed-while-read,\n"
     "exif-damaged, exif-too-large), \"metadata\" (the EXIF the output carries:\n"
     "none, exif or exif-without-gps; null for no file), \"source_width\",\n"
     "\"source_height\", \"output_width\", \"output_height\", \"source_bytes\",\n"
     "\"output_bytes\", \"milliseconds\" and, in a dry run, \"output_state\" (new,\n"
     "exists or source). Each path left out comes first, as an object with\n"
     "\"type\": \"skipped\", \"source\" and \"reason\" (not-found, folder-among-others,\n"
     "unreadable-folder, inaccessible, path-too-long, in-trash or output-folder).\n"
     "The last line is\n"
     "an object with \"type\": \"summary\", the counts (\"skipped\" and \"left\" among\n"
     "them), the byte totals, \"exit_status\" and \"sandbox\" (how the decode\n"
     "helpers were confined: namespaces+seccomp, or seccomp where the system refuses\n"
     "unprivileged user namespaces; null when none ran). A value not known is null."},
    {"FILE NAMES IN JSON",
     "In \"source\" and \"output\" each byte that is not part of valid UTF-8 is\n"
     "written as the four characters \\xHH (two upper-case hex digits) and each\n"
     "backslash of the name as two backslashes; undo both to get the name's bytes."},
    {"INCOMPLETE PICTURES",
     "A picture whose data ended or broke off early, or whose file changed while it\n"
     "was read (a download still being written), never replaces its source: with\n"
     "prefix \"0\" it produces no file (incomplete, changed-while-read). With a\n"
     "prefix it is written and its warning listed, unless not a row of it decoded."},
    {"SIGNALS",
     "Ctrl+C, SIGTERM and SIGHUP stop a run or a plan, from the program's start:\n"
     "the picture in progress is abandoned, the pictures left are listed as\n"
     "stopped, the summary follows, and the status is 1. A signal the caller\n"
     "ignores stays ignored; an output whose reader has gone ends the printing only."},
}};

constexpr std::size_t kTextColumn = 26;

// Text for roff: backslashes and hyphens escaped, no line starting with a
// control character.
std::string roff(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out.push_back(c);
    }
  }
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

// Help lines as one paragraph.
std::string joined(std::string_view lines) {
  std::string out(lines);
  for (char& c : out) c = c == '\n' ? ' ' : c;
  return out;
}

const OptionRow* optionNamed(std::string_view name) {
  for (const OptionRow& row : kOptions) {
    if (row.store != nullptr && optionName(row.synopsis) == name) return &row;
  }
  return nullptr;
}

// " but =exact" for a switch that has spellings with a value of their own.
std::string valuesOfSwitch(std::string_view name) {
  std::vector<std::string_view> spellings;
  for (const OptionRow& row : kOptions) {
    const std::string_view other = optionName(row.synopsis);
    if (row.store != nullptr && other.size() > name.size() + 1 && other.substr(0, name.size()) == name &&
        other[name.size()] == '=')
      spellings.push_back(other.substr(name.size()));
  }
  return spellings.empty() ? std::string() : " but " + listed(spellings);
}

// What the completion offers after an option: its words, the numbers of a
// range its synopsis spells out ("0-10"), file names, or nothing.
std::string completionReply(const OptionRow& row) {
  std::string words;
  switch (row.kind) {
    case ValueKind::file:
      return "COMPREPLY=($(compgen -f -- \"$cur\"))";
    case ValueKind::word:
      for (const std::string_view word : wordsOf(row))
        words += (words.empty() ? "" : " ") + std::string(word);
      break;
    case ValueKind::number:
      if (valueForm(row.synopsis) != std::to_string(row.low) + "-" + std::to_string(row.high)) break;
      for (std::int32_t n = row.low; n <= row.high; ++n)
        words += (words.empty() ? "" : " ") + std::to_string(n);
      break;
    case ValueKind::none:
    case ValueKind::text:
    case ValueKind::size:
      break;
  }
  if (words.empty()) return "COMPREPLY=()";
  return "COMPREPLY=($(compgen -W \"" + words + "\" -- \"$cur\"))";
}

}  // namespace

std::optional<std::string> parseArguments(int argc, const char* const* argv, Options& options) {
  bool onlyPaths = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (onlyPaths || argument.size() < 2 || argument.substr(0, 2) != "--") {
      if (!onlyPaths && argument.size() >= 2 && argument[0] == '-')
        return "unknown option " + std::string(argument);
      options.paths.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      onlyPaths = true;
      continue;
    }
    // A switch whose name holds a value ("--dry-run=exact") is found whole;
    // otherwise "--name=value" gives the value inline.
    std::string_view name = argument;
    std::optional<std::string_view> inlineValue;
    const OptionRow* row = optionNamed(argument);
    if (row == nullptr) {
      if (const std::size_t equals = argument.find('='); equals != std::string_view::npos) {
        name = argument.substr(0, equals);
        inlineValue = argument.substr(equals + 1);
      }
      row = optionNamed(name);
    }
    if (row == nullptr) return "unknown option " + std::string(name);
    if (row->kind == ValueKind::none) {
      if (inlineValue) return std::string(name) + " takes no value" + valuesOfSwitch(name);
      row->store(*row, {}, options);
      continue;
    }
    std::string_view value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < argc) {
      value = argv[++i];
      // "--prefix $UNSET --dry-run": the option lost its value, and must
      // not take the next option for it.
      if (value.substr(0, 2) == "--") {
        return std::string(name) + " needs a value, not the option '" + std::string(value) +
               "' (a value starting with \"--\" is given as " + std::string(name) + "=VALUE)";
      }
    } else {
      return std::string(name) + " needs a value";
    }
    if (auto problem = row->store(*row, value, options)) return problem;
  }
  return std::nullopt;
}

std::optional<std::string> prefixProblem(std::string_view prefix) {
  if (prefix.empty()) return "is empty: only \"0\" means replacing the sources";
  if (prefix.find('/') != std::string_view::npos)
    return "holds \"/\": an output is written beside its source";
  return std::nullopt;
}

std::string helpText() {
  std::string text;
  text += kUsageLine;
  text += '\n';
  text += description();
  text += "\n\n";
  text += kSettings;
  text += '\n';
  for (const OptionRow& option : kOptions) {
    if (option.synopsis == "PATH") continue;  // the usage line names it
    std::string_view lines = option.help;
    bool first = true;
    while (!lines.empty()) {
      const std::size_t end = lines.find('\n');
      const std::string_view line = lines.substr(0, end);
      std::string lead = first ? "  " + std::string(option.synopsis) : std::string();
      lead.resize(std::max(kTextColumn, lead.size() + 2), ' ');
      text += lead;
      text += line;
      text += '\n';
      first = false;
      lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
    }
  }
  for (const Section& section : kSections) {
    text += '\n';
    text += section.text;
    text += '\n';
  }
  return text;
}

std::string manualPage(const std::string& version) {
  std::string page;
  page += ".TH PIXMOOR\\-BATCH 1 \"\" \"pixmoor-batch " + roff(version) + "\" \"User Commands\"\n";
  page += ".SH NAME\npixmoor\\-batch \\- resize pictures in batches as the Pixmoor window does\n";
  page += ".SH SYNOPSIS\n.B pixmoor\\-batch\n[\\fIoptions\\fR] \\fIPATH\\fR...\n";
  page += ".SH DESCRIPTION\n" + roff(joined(description())) + "\n.PP\n" + roff(joined(kSettings)) + "\n";
  page += ".SH OPTIONS\n";
  for (const OptionRow& option : kOptions) {
    const std::string_view name = optionName(option.synopsis);
    page += ".TP\n\\fB" + roff(name) + "\\fR";
    if (name.size() < option.synopsis.size())
      page += " \\fI" + roff(option.synopsis.substr(name.size() + 1)) + "\\fR";
    page += "\n" + roff(joined(option.help)) + "\n";
  }
  for (const Section& section : kSections) {
    page += ".SH " + std::string(section.title) + "\n" + roff(joined(section.text)) + "\n";
  }
  return page;
}

std::string bashCompletion() {
  std::string words;
  std::string cases;
  for (const OptionRow& option : kOptions) {
    if (option.synopsis == "PATH") continue;
    const std::string name(optionName(option.synopsis));
    words += (words.empty() ? "" : " ") + name;
    if (option.kind == ValueKind::none) continue;
    cases += "    " + name + ")\n      " + completionReply(option) + "\n      return ;;\n";
  }
  return "# bash completion for pixmoor-batch, made from its table of options\n"
         "_pixmoor_batch() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  case $prev in\n" +
         cases +
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"" +
         words +
         "\" -- \"$cur\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -o filenames -F _pixmoor_batch pixmoor-batch\n";
}

}  // namespace pixmoor::companion

// pixmoor-batch: the resizer's batch for scripts, headless machines and
// benchmarks. Takes paths as a drop would, reads the settings of pref.qvl in
// the current folder (never writes it), lets options override them for this
// run, and prints the progress, the completion text and every picture that
// produced no file. Exit status: 0 all written, 1 some not, 2 usage error or
// nothing to do.
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/ui_texts.h"
#include "batch/batch_runner.h"
#include "batch/console_signals.h"
#include "image/decoder_registry.h"
#include "image/encode.h"
#include "settings/settings.h"
#include "settings/settings_store.h"

namespace {

using namespace pixmoor;

constexpr const char* kProgram = "pixmoor-batch";
constexpr const char* kVersion = "1.4.1";
constexpr int kDefaultDesktopWidth = 1920;
constexpr int kDefaultDesktopHeight = 1080;

constexpr const char* kUsage =
    "Usage: pixmoor-batch [options] PATH...\n"
    "Resizes pictures as a drop on the Pixmoor window would: one folder gives its\n"
    "pictures (not those of its subfolders), otherwise every path whose name ends in\n"
    ".jpg, .jpeg, .jp2, .bmp, .png or .tif is taken. Each output is written beside\n"
    "its source as PREFIX + name + .jpg or .png.\n"
    "\n"
    "Settings come from pref.qvl in the current folder (read, never written), else\n"
    "from the defaults for a 1920 x 1080 desktop. Options override them for this run:\n"
    "  --settings FILE         read the settings from FILE instead\n"
    "  --mode rel|free         relative mode (keep proportions) or free mode\n"
    "  --landscape-width N     relative mode: width of landscape pictures\n"
    "  --portrait-height N     relative mode: height of portrait pictures\n"
    "  --size WxH              free mode: output width and height\n"
    "                          (without --mode, --size selects free mode and the\n"
    "                          two relative sizes select relative mode)\n"
    "  --format jpg|png        output format\n"
    "  --quality 0-10          JPEG quality\n"
    "  --prefix TEXT           text put before each output name; \"0\" means none:\n"
    "                          the sources themselves are replaced\n"
    "  --quiet                 print only the pictures that produced no file\n"
    "  --help, --version       print this help or the version and end\n"
    "  --                      every later argument is a PATH\n"
    "\n"
    "Exit status: 0 every picture was written, 1 at least one produced no file,\n"
    "2 usage error or nothing to do.\n";

// Prints what the status line of the window would show. On a terminal the
// progress is one line rewritten in place; otherwise each new text is a line.
class ConsoleView : public batch::BatchView {
 public:
  ConsoleView(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

  void showStatus(const std::string& text) override {
    const std::lock_guard lock(mutex_);
    if (quiet_ || text == last_) return;
    last_ = text;
    lineOpen_ = batch::print(stdout, terminal_ ? "\r" + text + "\x1b[K" : text + "\n") && terminal_;
  }
  void showBatchControls(bool) override {}
  void playCue(int) override {}

  // Ends the live line so that what follows starts on a line of its own.
  void finishLine() {
    const std::lock_guard lock(mutex_);
    if (lineOpen_) batch::print(stdout, "\n");
    lineOpen_ = false;
  }

 private:
  std::mutex mutex_;
  const bool quiet_;
  const bool terminal_;
  bool lineOpen_ = false;
  std::string last_;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, message.c_str());
  return 2;
}

std::optional<std::int32_t> parseNumber(std::string_view text, std::int32_t low, std::int32_t high) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
  return value;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

// A path as one printable line: control bytes (a line feed in a name) escaped.
std::string printable(const std::string& path) {
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct Options {
  std::optional<std::string> settingsFile;
  std::optional<std::string> mode;
  std::optional<std::int32_t> landscapeWidth;
  std::optional<std::int32_t> portraitHeight;
  std::optional<std::pair<std::int16_t, std::int16_t>> size;
  std::optional<std::string> format;
  std::optional<std::int32_t> quality;
  std::optional<std::string> prefix;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> paths;
};

// Fills `options`; answers an error message for a usage error.
std::optional<std::string> parseArguments(int argc, char** argv, Options& options) {
  bool onlyPaths = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (onlyPaths || argument.size() < 2 || argument[0] != '-' || argument[1] != '-') {
      if (!onlyPaths && argument.size() >= 2 && argument[0] == '-') return "unknown option " + argument;
      options.paths.push_back(argument);
      continue;
    }
    if (argument == "--") {
      onlyPaths = true;
      continue;
    }
    std::string name = argument;
    std::optional<std::string> inlineValue;
    if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
      name = argument.substr(0, equals);
      inlineValue = argument.substr(equals + 1);
    }
    if (name == "--quiet" || name == "--help" || name == "--version") {
      if (inlineValue) return name + " takes no value";
      if (name == "--quiet") options.quiet = true;
      if (name == "--help") options.help = true;
      if (name == "--version") options.version = true;
      continue;
    }
    const bool known = name == "--settings" || name == "--mode" || name == "--landscape-width" ||
                       name == "--portrait-height" || name == "--size" || name == "--format" ||
                       name == "--quality" || name == "--prefix";
    if (!known) return "unknown option " + name;
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return name + " needs a value";
    }

    if (name == "--settings") {
      options.settingsFile = value;
    } else if (name == "--mode") {
      const std::string m = lowered(value);
      if (m != "rel" && m != "free") return "--mode must be rel or free, not '" + value + "'";
      options.mode = m == "rel" ? "REL" : "LIB";
    } else if (name == "--landscape-width" || name == "--portrait-height") {
      const auto number = parseNumber(value, 1, 32767);
      if (!number) return name + " must be a whole number from 1 to 32767, not '" + value + "'";
      (name == "--landscape-width" ? options.landscapeWidth : options.portraitHeight) = *number;
    } else if (name == "--size") {
      const std::size_t x = lowered(value).find('x');
      const auto width = x == std::string::npos ? std::nullopt : parseNumber(std::string_view(value).substr(0, x), 1, 32767);
      const auto height = x == std::string::npos ? std::nullopt : parseNumber(std::string_view(value).substr(x + 1), 1, 32767);
      if (!width || !height) return "--size must be WIDTHxHEIGHT with sides from 1 to 32767, not '" + value + "'";
      options.size = {static_cast<std::int16_t>(*width), static_cast<std::int16_t>(*height)};
    } else if (name == "--format") {
      const std::string f = lowered(value);
      if (f != "jpg" && f != "png") return "--format must be jpg or png, not '" + value + "'";
      options.format = f == "jpg" ? "JPG" : "PNG";
    } else if (name == "--quality") {
      const auto number = parseNumber(value, 0, 10);
      if (!number) return "--quality must be a whole number from 0 to 10, not '" + value + "'";
      options.quality = *number;
    } else if (name == "--prefix") {
      options.prefix = value;
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const auto error = parseArguments(argc, argv, options)) return usageError(*error);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, kVersion);
    return 0;
  }
  if (options.paths.empty()) return usageError("no PATH given");

  settings::Settings chosen = settings::defaultSettings(kDefaultDesktopWidth, kDefaultDesktopHeight);
  if (options.settingsFile) {
    const auto read = settings::ReadSettings(*options.settingsFile, kDefaultDesktopWidth, kDefaultDesktopHeight);
    if (!read) return usageError("--settings: cannot read '" + *options.settingsFile + "'");
    chosen = *read;
  } else if (::access(settings::kSettingsFileName, F_OK) == 0) {
    if (const auto read = settings::ReadSettings(settings::kSettingsFileName, kDefaultDesktopWidth,
                                                  kDefaultDesktopHeight)) {
      chosen = *read;
    }
  }

  const bool relativeSizes = options.landscapeWidth || options.portraitHeight;
  if (options.mode) {
    chosen.mode = *options.mode;
  } else if (options.size && relativeSizes) {
    return usageError("--size and the relative sizes together need --mode");
  } else if (options.size) {
    chosen.mode = "LIB";
  } else if (relativeSizes) {
    chosen.mode = "REL";
  }
  if (options.landscapeWidth) chosen.landscapeWidth = *options.landscapeWidth;
  if (options.portraitHeight) chosen.portraitHeight = *options.portraitHeight;
  if (options.size) {
    chosen.freeWidth = options.size->first;
    chosen.freeHeight = options.size->second;
  }
  if (options.format) chosen.format = *options.format;
  if (options.quality) chosen.quality = *options.quality;
  if (options.prefix) chosen.prefix = *options.prefix;

  image::registerJpegDecoder();
  image::registerPngDecoder();
  image::registerJpegEncoder();
  image::registerPngEncoder();

  // Texts of the settings' language; a code the program does not know gets French.
  const std::string language = chosen.language == "UK" ? "UK" : "FR";
  const app::UiTexts texts = app::BuildUiTexts(language, "Pixmoor 2011 v", kVersion, "\n", kDefaultDesktopWidth,
                                               kDefaultDesktopHeight, "");

  ConsoleView view(options.quiet, ::isatty(STDOUT_FILENO) == 1);
  batch::SharedSettings shared(chosen);
  std::atomic<std::int32_t> busy{0};
  batch::BatchRunner runner(view, shared, batch::batchTextsFrom(texts), busy);

  batch::installConsoleSignals();

  if (runner.handleDrop(options.paths, chosen) != batch::DropResult::started) {
    std::fprintf(stderr, "%s: no picture to process\n", kProgram);
    return 2;
  }
  // Ctrl+C stops as the Stop button does: the picture in progress is
  // abandoned without a partial file, and the stop count is printed.
  while (runner.running()) {
    if (batch::stopSignalled()) {
      runner.stopBatch();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // A thread stuck in the kernel (a hung network mount) is not waited for.
  const bool ended = runner.waitUntilIdle(batch::kConsoleEndWait);
  view.finishLine();

  const std::vector<batch::PictureFailure> failures = runner.failures();
  for (const batch::PictureFailure& failure : failures) {
    batch::print(stderr, printable(failure.sourcePath) + ": " +
                             std::string(batch::failureReasonText(failure.reason)) + "\n");
  }
  if (!ended) std::_Exit(failures.empty() ? 0 : 1);
  return failures.empty() ? 0 : 1;
}

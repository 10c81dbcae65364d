#include "companion/run_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "settings/pref_file.h"
#include "settings/settings_store.h"

namespace pixmoor::companion {
namespace {

// The preference file reads a larger file as holding no line at all.
constexpr off_t kLargestSettingsFile = 64 * 1024 * 1024;

bool sameGroupName(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// Why the window would read this file otherwise than as written (or not at
// all); nothing when its keys are read as they stand.
std::optional<std::string> unusableAsWritten(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "it cannot be read";
  struct stat info {};
  std::string bytes;
  bool read = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (read && info.st_size > kLargestSettingsFile) {
    ::close(fd);
    return "it is larger than 64 MiB";
  }
  for (char buffer[65536]; read;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 || bytes.size() + static_cast<std::size_t>(got) > kLargestSettingsFile) read = false;
    if (read) bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (!read) return "it cannot be read";
  const std::string_view text = bytes;
  if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")
    return "it is UTF-16 text, which is not read";
  if (text.find('\0') != std::string_view::npos) return "it is not text (it holds a NUL byte)";

  std::vector<std::string> groups;
  for (const settings::PreferenceLine& line : settings::parsePreferenceText(text).lines) {
    if (line.kind == settings::LineKind::group) groups.push_back(line.name);
  }
  // The window's rule: "DEFAUT" when it is the only group, else "USER".
  if (groups.empty()) return "it holds no [group], so none of its keys is read";
  if (groups.size() == 1 && !sameGroupName(groups.front(), settings::kDefaultGroup)) {
    return "its only group is [" + groups.front() + "], and a file of one group is read from [" +
           settings::kDefaultGroup + "]";
  }
  if (groups.size() > 1 && std::none_of(groups.begin(), groups.end(), [](const std::string& group) {
        return sameGroupName(group, settings::kUserGroup);
      })) {
    return std::string("it holds no [") + settings::kUserGroup +
           "] group, the one read when there are several";
  }
  return std::nullopt;
}

}  // namespace

std::string menuSettingsFile(const char* xdgConfigHome, const char* home) {
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
    return std::string(xdgConfigHome) + "/pixmoor/" + settings::kSettingsFileName;
  if (home == nullptr || home[0] == '\0') return {};
  return std::string(home) + "/.config/pixmoor/" + settings::kSettingsFileName;
}

SettingsFile readSettingsFile(const Options& options, const std::string& menuSettings) {
  SettingsFile file;
  const bool given = options.settingsFile.has_value();
  std::string path = given ? *options.settingsFile : settings::kSettingsFileName;
  if (!given && ::access(path.c_str(), F_OK) != 0 && !menuSettings.empty()) path = menuSettings;
  if (::access(path.c_str(), F_OK) != 0) {
    if (given) file.usageError = "--settings: cannot read '" + path + "'";
    return file;  // neither ./pref.qvl nor the menu's: the defaults
  }
  // A problem with the file: with --settings the user must mend it; with
  // ./pref.qvl or the menu's the run says what it uses instead.
  const auto refuse = [&](const std::string& problem, const std::string& instead) {
    if (given) {
      file.usageError = "--settings: cannot use '" + path + "': " + problem;
    } else {
      file.warning = path + ": " + problem + "; " + instead;
    }
  };
  const std::string defaultsInstead = "the built-in settings are used instead";
  if (const auto problem = unusableAsWritten(path)) {
    refuse(*problem, defaultsInstead);
    return file;
  }
  file.settings = settings::readSettings(path, kDefaultDesktopWidth, kDefaultDesktopHeight);
  if (!file.settings) {
    refuse("it cannot be read", defaultsInstead);
    return file;
  }
  if (const auto problem = prefixProblem(file.settings->prefix); problem && !options.prefix) {
    const std::string prefix = settings::defaultSettings(kDefaultDesktopWidth, kDefaultDesktopHeight).prefix;
    refuse(std::string(settings::kKeyPrefix) + " " + *problem,
           "the prefix \"" + prefix + "\" is used instead");
    if (given) {
      file.settings.reset();
    } else {
      file.settings->prefix = prefix;
    }
  }
  return file;
}

RunSettings chooseRunSettings(const Options& options, const std::optional<settings::Settings>& fromFile,
                              std::string_view environmentLanguage) {
  RunSettings run;
  settings::Settings& chosen = run.settings;
  chosen = fromFile.value_or(settings::defaultSettings(kDefaultDesktopWidth, kDefaultDesktopHeight));

  const bool relativeSizes = options.landscapeWidth || options.portraitHeight;
  batch::SizeChoice& size = run.output.size;
  const int ownSizes = (options.fit ? 1 : 0) + (options.scalePercent ? 1 : 0) + (options.longEdge ? 1 : 0);
  if (ownSizes > 1 || (ownSizes == 1 && (options.mode || options.size || relativeSizes))) {
    run.usageError =
        "one size option per run: --fit, --scale, --long-edge, or the settings' --mode, --size and relative "
        "sizes";
    return run;
  }
  if (options.fit)
    size = {.rule = batch::SizeRule::fit, .width = options.fit->first, .height = options.fit->second};
  if (options.scalePercent) size = {.rule = batch::SizeRule::scale, .percent = *options.scalePercent};
  if (options.longEdge) size = {.rule = batch::SizeRule::longEdge, .longEdge = *options.longEdge};
  size.shrinkOnly = options.shrinkOnly;
  if (options.outputDir) run.output.folder = *options.outputDir;
  run.output.ifExists = options.ifExists;
  run.output.maxBytes = options.maxBytes.value_or(0);
  if (options.mode) {
    chosen.mode = *options.mode;
  } else if (options.size && relativeSizes) {
    run.usageError = "--size and the relative sizes together need --mode";
    return run;
  } else if (options.size) {
    chosen.mode = settings::SizeMode::free;
  } else if (relativeSizes) {
    chosen.mode = settings::SizeMode::relative;
  }
  if (options.landscapeWidth) chosen.landscapeWidth = *options.landscapeWidth;
  if (options.portraitHeight) chosen.portraitHeight = *options.portraitHeight;
  if (options.size) {
    chosen.freeWidth = options.size->first;
    chosen.freeHeight = options.size->second;
  }
  if (options.format) chosen.format = *options.format;
  if (options.lossless) {
    if (chosen.format != settings::OutputFormat::webp) {
      run.usageError = "--lossless needs --format webp: only WebP is written losslessly here";
      return run;
    }
    chosen.format = settings::OutputFormat::webpLossless;
  }
  if (options.quality) chosen.quality = *options.quality;
  if (options.prefix) chosen.prefix = *options.prefix;
  // readSettingsFile and the parser refuse such a prefix already; an empty
  // one must never reach the batch, where it would replace the sources.
  if (const auto problem = prefixProblem(chosen.prefix)) {
    run.usageError = "the prefix " + *problem;
    return run;
  }
  // Only an output that replaces its own source sends anything to the Trash.
  if (options.trashOriginals && options.outputDir) {
    run.usageError = "--trash-originals replaces no source with --output-dir: nothing would go";
    return run;
  }
  if (options.trashOriginals && options.ifExists != batch::IfExists::replace) {
    run.usageError = "--trash-originals needs --if-exists replace: skip and rename replace no source";
    return run;
  }
  if (options.trashOriginals && !settings::outputPrefix(chosen.prefix).empty()) {
    run.usageError = "--trash-originals needs no prefix (--prefix 0): only sources that are replaced go";
    return run;
  }

  if (options.language) {
    run.language = *options.language;
  } else if (fromFile) {
    run.language = fromFile->language == "UK" ? "UK" : "FR";
  } else {
    run.language = environmentLanguage;
  }
  return run;
}

std::string localeLanguage(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    return std::string_view(value).substr(0, 2) == "fr" ? "FR" : "UK";
  }
  return "UK";
}

}  // namespace pixmoor::companion

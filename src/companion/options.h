// The command line of pixmoor-batch: what each option means, how the
// arguments are read, and the documents made from the one table of options
// (the --help text, the manual page, the bash completion), so that they
// never tell different stories. The parser reads the same table: each row
// names an option, the form of its value, how the value is checked and
// which field of Options it fills.
//
// Pure functions of their arguments; any thread. A usage error comes back
// as its message, never as an exception.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/output_choice.h"
#include "batch/output_metadata.h"
#include "settings/settings.h"

namespace pixmoor::companion {

enum class DryRun {
  off,
  headers,  // --dry-run: headers only, nothing decoded
  exact,    // --dry-run=exact: decoded, resized and encoded in memory
};

// Every field starts empty (or off), so that a test names only those it sets.
struct Options {
  std::optional<std::string> settingsFile{};
  std::optional<settings::SizeMode> mode{};
  std::optional<std::int32_t> landscapeWidth{};
  std::optional<std::int32_t> portraitHeight{};
  std::optional<std::pair<std::int16_t, std::int16_t>> size{};
  // The companion's own sizes: at most one of them, and none beside the settings' sizes.
  std::optional<std::pair<std::int16_t, std::int16_t>> fit{};
  std::optional<std::int32_t> scalePercent{};
  std::optional<std::int32_t> longEdge{};
  bool shrinkOnly = false;
  std::optional<std::string> outputDir{};
  batch::IfExists ifExists = batch::IfExists::replace;
  std::optional<std::uint64_t> maxBytes{};
  std::optional<settings::OutputFormat> format{};
  std::optional<std::int32_t> quality{};
  std::optional<std::string> prefix{};
  std::optional<std::string> language{};  // "FR" or "UK"
  std::optional<int> jobs{};
  bool recursive = false;
  bool hidden = false;  // --recursive also enters hidden folders
  DryRun dryRun = DryRun::off;
  bool json = false;
  bool trashOriginals = false;
  bool lossless = false;  // --format webp: lossless WebP
  batch::ExifChoice metadata = batch::ExifChoice::none;
  bool keepDates = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> paths{};

  bool operator==(const Options&) const = default;
};

// Reads argv[1..argc-1] into `options`; answers the message of a usage
// error. An option given twice keeps its last value. A value that starts
// with "--" is taken only as --name=VALUE: the next argument "--dry-run"
// after --prefix is an option forgotten its value (an unset variable in a
// script), never the prefix.
std::optional<std::string> parseArguments(int argc, const char* const* argv, Options& options);

// Why a prefix cannot be used, worded to follow its name ("--prefix",
// "PREFIX"); nothing when it can. Only "0" means replacing the sources, so
// an empty prefix is refused, and one holding "/" would put the output in
// another folder than its source's.
std::optional<std::string> prefixProblem(std::string_view prefix);

// The --help text.
std::string helpText();
// The manual page (roff, section 1), made from the same table.
std::string manualPage(const std::string& version);
// A bash completion script for the options and their values.
std::string bashCompletion();

}  // namespace pixmoor::companion

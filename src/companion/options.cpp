#include "companion/options.h"

#include <array>
#include <charconv>
#include <string_view>

namespace pixmoor::companion {
namespace {

// One option as every document shows it. `values` feeds the completion:
// null for an option without a value, "" for a free value, "FILE" for a file
// name, else the words offered. `text` holds the --help lines, already
// wrapped; the manual page joins them.
struct OptionHelp {
  std::string_view synopsis;
  const char* values;
  std::string_view text;
};

constexpr std::string_view kUsageLine = "Usage: pixmoor-batch [options] PATH...";

constexpr std::string_view kDescription =
    "Resizes pictures as a drop on the Pixmoor window would: one folder gives its\n"
    "pictures (with --recursive also those of its subfolders), otherwise every path\n"
    "whose name ends in .jpg, .jpeg, .jp2, .bmp, .png or .tif is taken. Each output\n"
    "is written beside its source as PREFIX + name + .jpg or .png.";

constexpr std::string_view kSettings =
    "Settings come from pref.qvl in the current folder (read, never written), else\n"
    "from the defaults for a 1920 x 1080 desktop. Options override them for this run:";

constexpr std::array<OptionHelp, 20> kOptions = {{
    {"--settings FILE", "FILE", "read the settings from FILE instead"},
    {"--mode rel|free", "rel free", "relative mode (keep proportions) or free mode"},
    {"--landscape-width N", "", "relative mode: width of landscape pictures"},
    {"--portrait-height N", "", "relative mode: height of portrait pictures"},
    {"--size WxH", "",
     "free mode: output width and height\n"
     "(without --mode, --size selects free mode and the\n"
     "two relative sizes select relative mode)"},
    {"--format jpg|png", "jpg png", "output format"},
    {"--quality 0-10", "0 1 2 3 4 5 6 7 8 9 10", "JPEG quality"},
    {"--prefix TEXT", "",
     "text put before each output name; \"0\" means none:\n"
     "the sources themselves are replaced"},
    {"--lang FR|UK", "FR UK",
     "language of the texts; without it, that of the\n"
     "settings file, else that of the environment\n"
     "(LC_ALL, LC_MESSAGES or LANG starting with \"fr\":\n"
     "French, anything else English)"},
    {"--recursive", nullptr,
     "one folder also gives the pictures of its subfolders\n"
     "(each folder's pictures, then its subfolders, in\n"
     "name order); links to folders are not followed"},
    {"--jobs N", "",
     "threads the batch may use, shared by the pictures\n"
     "resized at once and their resizing (default: the\n"
     "cores this process may run on, at most 4); with 1\n"
     "everything runs on one thread, each picture written\n"
     "before the next one is read"},
    {"--dry-run", nullptr,
     "write nothing: read each picture's header and print\n"
     "its upright size, its target size, its output name\n"
     "and whether that name is new, exists or is the\n"
     "source itself, or why it would produce no file"},
    {"--dry-run=exact", nullptr,
     "also decode, resize and encode each picture in\n"
     "memory and print its exact bytes and the totals"},
    {"--json", nullptr,
     "one JSON object per picture on standard output,\n"
     "then a summary (see below); the other texts go to\n"
     "standard error"},
    {"--trash-originals", nullptr,
     "with no prefix: each source goes to the desktop's\n"
     "Trash, restorable there, once its output is whole\n"
     "and just before the output takes its name; a\n"
     "source the Trash refuses stays untouched and is\n"
     "reported"},
    {"--quiet", nullptr, "print only the pictures that produced no file"},
    {"--help", nullptr, "print this help and end"},
    {"--version", nullptr, "print the version and end"},
    {"--", nullptr, "every later argument is a PATH"},
    {"PATH", nullptr, "a folder, or picture files"},
}};

// Sections after the options: the manual page's title and the help lines.
struct Section {
  std::string_view title;
  std::string_view text;
};

constexpr std::array<Section, 3> kSections = {{
    {"EXIT STATUS",
     "Exit status: 0 every picture was written, 1 at least one produced no file,\n"
     "2 usage error or nothing to do. A dry run answers what the run would."},
    {"JSON OUTPUT",
     "JSON: each picture is one line holding an object with \"type\": \"picture\",\n"
     "\"source\", \"output\", \"outcome\" (written, failed or stopped; planned or failed\n"
     "in a dry run), \"reason\" (why no file, e.g. unknown-format, else null),\n"
     "\"source_width\", \"source_height\", \"output_width\", \"output_height\",\n"
     "\"source_bytes\", \"output_bytes\", \"milliseconds\" and, in a dry run,\n"
     "\"output_state\" (new, exists or source); the last line is an object with\n"
     "\"type\": \"summary\", the counts, the byte totals and \"exit_status\". A value\n"
     "not known is null."},
    {"FILE NAMES IN JSON",
     "In \"source\" and \"output\" each byte that is not part of valid UTF-8 is\n"
     "written as the four characters \\xHH (two upper-case hex digits) and each\n"
     "backslash of the name as two backslashes; undo both to get the name's bytes."},
}};

constexpr std::size_t kTextColumn = 26;

std::string_view optionName(std::string_view synopsis) {
  const std::size_t end = synopsis.find(' ');
  return end == std::string_view::npos ? synopsis : synopsis.substr(0, end);
}

std::optional<std::int32_t> parseNumber(std::string_view text, std::int32_t low, std::int32_t high) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

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

}  // namespace

std::optional<std::string> parseArguments(int argc, const char* const* argv, Options& options) {
  bool onlyPaths = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
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
    if (name == "--dry-run") {
      if (inlineValue && *inlineValue != "exact") return "--dry-run takes no value but =exact";
      options.dryRun = inlineValue ? DryRun::exact : DryRun::headers;
      continue;
    }
    bool* flag = name == "--quiet"             ? &options.quiet
                 : name == "--help"            ? &options.help
                 : name == "--version"         ? &options.version
                 : name == "--recursive"       ? &options.recursive
                 : name == "--json"            ? &options.json
                 : name == "--trash-originals" ? &options.trashOriginals
                                               : nullptr;
    if (flag != nullptr) {
      if (inlineValue) return name + " takes no value";
      *flag = true;
      continue;
    }
    const bool known = name == "--settings" || name == "--mode" || name == "--landscape-width" ||
                       name == "--portrait-height" || name == "--size" || name == "--format" ||
                       name == "--quality" || name == "--prefix" || name == "--lang" || name == "--jobs";
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
      options.mode = m == "rel" ? settings::SizeMode::relative : settings::SizeMode::free;
    } else if (name == "--landscape-width" || name == "--portrait-height") {
      const auto number = parseNumber(value, 1, 32767);
      if (!number) return name + " must be a whole number from 1 to 32767, not '" + value + "'";
      (name == "--landscape-width" ? options.landscapeWidth : options.portraitHeight) = *number;
    } else if (name == "--size") {
      const std::size_t x = lowered(value).find('x');
      const auto width =
          x == std::string::npos ? std::nullopt : parseNumber(std::string_view(value).substr(0, x), 1, 32767);
      const auto height = x == std::string::npos
                              ? std::nullopt
                              : parseNumber(std::string_view(value).substr(x + 1), 1, 32767);
      if (!width || !height)
        return "--size must be WIDTHxHEIGHT with sides from 1 to 32767, not '" + value + "'";
      options.size = {static_cast<std::int16_t>(*width), static_cast<std::int16_t>(*height)};
    } else if (name == "--format") {
      const std::string f = lowered(value);
      if (f != "jpg" && f != "png") return "--format must be jpg or png, not '" + value + "'";
      options.format = f == "jpg" ? settings::OutputFormat::jpeg : settings::OutputFormat::png;
    } else if (name == "--quality") {
      const auto number = parseNumber(value, 0, 10);
      if (!number) return "--quality must be a whole number from 0 to 10, not '" + value + "'";
      options.quality = *number;
    } else if (name == "--prefix") {
      options.prefix = value;
    } else if (name == "--lang") {
      const std::string l = lowered(value);
      if (l != "fr" && l != "uk") return "--lang must be FR or UK, not '" + value + "'";
      options.language = l == "fr" ? "FR" : "UK";
    } else if (name == "--jobs") {
      const auto number = parseNumber(value, 1, 256);
      if (!number) return "--jobs must be a whole number from 1 to 256, not '" + value + "'";
      options.jobs = *number;
    }
  }
  return std::nullopt;
}

std::string helpText() {
  std::string text;
  text += kUsageLine;
  text += '\n';
  text += kDescription;
  text += "\n\n";
  text += kSettings;
  text += '\n';
  for (const OptionHelp& option : kOptions) {
    if (option.synopsis == "PATH") continue;  // the usage line names it
    std::string_view lines = option.text;
    bool first = true;
    while (!lines.empty()) {
      const std::size_t end = lines.find('\n');
      const std::string_view line = lines.substr(0, end);
      std::string lead = first ? "  " + std::string(option.synopsis) : std::string();
      lead.resize(std::max(kTextColumn, lead.size() + 1), ' ');
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
  page += ".SH DESCRIPTION\n" + roff(joined(kDescription)) + "\n.PP\n" + roff(joined(kSettings)) + "\n";
  page += ".SH OPTIONS\n";
  for (const OptionHelp& option : kOptions) {
    const std::string_view name = optionName(option.synopsis);
    page += ".TP\n\\fB" + roff(name) + "\\fR";
    if (name.size() < option.synopsis.size())
      page += " \\fI" + roff(option.synopsis.substr(name.size() + 1)) + "\\fR";
    page += "\n" + roff(joined(option.text)) + "\n";
  }
  for (const Section& section : kSections) {
    page += ".SH " + std::string(section.title) + "\n" + roff(joined(section.text)) + "\n";
  }
  return page;
}

std::string bashCompletion() {
  std::string words;
  std::string cases;
  for (const OptionHelp& option : kOptions) {
    if (option.synopsis == "PATH") continue;
    const std::string name(optionName(option.synopsis));
    words += (words.empty() ? "" : " ") + name;
    if (option.values == nullptr) continue;
    const std::string_view values = option.values;
    cases += "    " + name + ")\n      ";
    if (values == "FILE") {
      cases += "COMPREPLY=($(compgen -f -- \"$cur\"))";
    } else if (!values.empty()) {
      cases += "COMPREPLY=($(compgen -W \"" + std::string(values) + "\" -- \"$cur\"))";
    } else {
      cases += "COMPREPLY=()";
    }
    cases += "\n      return ;;\n";
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

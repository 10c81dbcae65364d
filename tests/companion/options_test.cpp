// The command line read through the table of options: each row of arguments
// gives exactly these Options, or exactly this usage error.
#include "companion/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <variant>

#include "codecs/format_registry.h"

namespace pixmoor::companion {
namespace {

using settings::OutputFormat;
using settings::SizeMode;

using Expected = std::variant<Options, std::string>;  // the options read, or the usage error

Expected read(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "pixmoor-batch");
  Options options;
  if (auto error = parseArguments(static_cast<int>(arguments.size()), arguments.data(), options))
    return *error;
  return options;
}

struct Row {
  std::vector<const char*> arguments;
  Expected expected;
};

TEST(Options, EachRowOfArgumentsGivesItsOptionsOrItsError) {
  const Row rows[] = {
      {{"a.jpg", "b"}, Options{.paths = {"a.jpg", "b"}}},
      {{"-", "--", "--quiet", "-x"}, Options{.paths = {"-", "--quiet", "-x"}}},
      {{"--settings", "s.qvl", "a"}, Options{.settingsFile = "s.qvl", .paths = {"a"}}},
      // Words in any case, kept as the synopsis spells them.
      {{"--mode", "FREE", "--mode=Rel", "a"}, Options{.mode = SizeMode::relative, .paths = {"a"}}},
      {{"--mode", "free", "a"}, Options{.mode = SizeMode::free, .paths = {"a"}}},
      {{"--format", "PNG", "--lang", "fr", "a"},
       Options{.format = OutputFormat::png, .language = "FR", .paths = {"a"}}},
      {{"--format=jpg", "--lang=Uk", "a"},
       Options{.format = OutputFormat::jpeg, .language = "UK", .paths = {"a"}}},
      {{"--format", "WebP", "--lossless", "a"},
       Options{.format = OutputFormat::webp, .lossless = true, .paths = {"a"}}},
      {{"--format=avif", "a"}, Options{.format = OutputFormat::avif, .paths = {"a"}}},
      {{"--metadata", "KEEP-no-GPS", "--keep-dates", "a"},
       Options{.metadata = batch::ExifChoice::keepWithoutGps, .keepDates = true, .paths = {"a"}}},
      {{"--metadata=keep", "a"}, Options{.metadata = batch::ExifChoice::keep, .paths = {"a"}}},
      // Numbers at both ends of their ranges.
      {{"--landscape-width", "1", "--portrait-height=32767", "--quality", "0", "--jobs", "256", "a"},
       Options{.landscapeWidth = 1, .portraitHeight = 32767, .quality = 0, .jobs = 256, .paths = {"a"}}},
      {{"--quality=10", "--jobs=1", "a"}, Options{.quality = 10, .jobs = 1, .paths = {"a"}}},
      {{"--size", "32767X1", "a"}, Options{.size = {{32767, 1}}, .paths = {"a"}}},
      {{"--size=640x480", "a"}, Options{.size = {{640, 480}}, .paths = {"a"}}},
      // A value that looks like an option only after "=".
      {{"--prefix=--quiet", "a"}, Options{.prefix = "--quiet", .paths = {"a"}}},
      {{"--prefix", "-", "a"}, Options{.prefix = "-", .paths = {"a"}}},
      {{"--prefix=a=b", "a"}, Options{.prefix = "a=b", .paths = {"a"}}},
      {{"--prefix", "0", "a"}, Options{.prefix = "0", .paths = {"a"}}},
      {{"--recursive", "--hidden", "--json", "--trash-originals", "--quiet", "a"},
       Options{.recursive = true,
               .hidden = true,
               .json = true,
               .trashOriginals = true,
               .quiet = true,
               .paths = {"a"}}},
      {{"--dry-run", "a"}, Options{.dryRun = DryRun::headers, .paths = {"a"}}},
      {{"--dry-run=exact", "a"}, Options{.dryRun = DryRun::exact, .paths = {"a"}}},
      {{"--dry-run=exact", "--dry-run", "a"}, Options{.dryRun = DryRun::headers, .paths = {"a"}}},
      {{"--fit", "800x600", "--shrink-only", "a"},
       Options{.fit = {{800, 600}}, .shrinkOnly = true, .paths = {"a"}}},
      {{"--scale", "33%", "--scale=1000", "a"}, Options{.scalePercent = 1000, .paths = {"a"}}},
      {{"--long-edge=1600", "--output-dir", "web", "--if-exists", "RENAME", "a"},
       Options{.longEdge = 1600, .outputDir = "web", .ifExists = batch::IfExists::rename, .paths = {"a"}}},
      {{"--max-bytes", "300K", "a"}, Options{.maxBytes = 300 * 1024, .paths = {"a"}}},
      {{"--max-bytes=2m", "--max-bytes", "1", "a"}, Options{.maxBytes = 1, .paths = {"a"}}},
      {{"--max-bytes=4096M", "a"}, Options{.maxBytes = 4096ull << 20, .paths = {"a"}}},
      {{"--help"}, Options{.help = true}},
      {{"--version"}, Options{.version = true}},

      {{"--bogus", "a"}, "unknown option --bogus"},
      {{"--bogus=1", "a"}, "unknown option --bogus"},
      {{"-x", "a"}, "unknown option -x"},
      {{"--=x", "a"}, "unknown option --"},
      {{"PATH"}, Options{.paths = {"PATH"}}},
      {{"--PATH"}, "unknown option --PATH"},
      {{"--Quiet"}, "unknown option --Quiet"},
      {{"a", "--prefix"}, "--prefix needs a value"},
      {{"--prefix", "--dry-run", "a"},
       "--prefix needs a value, not the option '--dry-run' (a value starting with \"--\" is given as "
       "--prefix=VALUE)"},
      {{"--settings", "--", "a"},
       "--settings needs a value, not the option '--' (a value starting with \"--\" is given as "
       "--settings=VALUE)"},
      {{"--prefix", ""}, "--prefix is empty: only \"0\" means replacing the sources"},
      {{"--prefix="}, "--prefix is empty: only \"0\" means replacing the sources"},
      {{"--prefix", "./"}, "--prefix holds \"/\": an output is written beside its source"},
      {{"--prefix=thumbs/t_"}, "--prefix holds \"/\": an output is written beside its source"},
      {{"--settings"}, "--settings needs a value"},
      {{"--settings", ""}, "--settings is empty: give a path"},
      {{"--settings=", "a"}, "--settings is empty: give a path"},
      {{"--output-dir="}, "--output-dir is empty: give a path"},
      {{"--json=yes"}, "--json takes no value"},
      {{"--help="}, "--help takes no value"},
      {{"--dry-run=fast"}, "--dry-run takes no value but =exact"},
      {{"--dry-run=exact=x"}, "--dry-run takes no value but =exact"},
      {{"--mode", "wide"}, "--mode must be rel or free, not 'wide'"},
      {{"--mode="}, "--mode must be rel or free, not ''"},
      {{"--format", "jpeg"}, "--format must be jpg, png, webp or avif, not 'jpeg'"},
      {{"--lossless=yes"}, "--lossless takes no value"},
      {{"--metadata", "all"}, "--metadata must be none, keep or keep-no-gps, not 'all'"},
      {{"--lang", "DE"}, "--lang must be FR or UK, not 'DE'"},
      {{"--if-exists", "keep"}, "--if-exists must be replace, skip or rename, not 'keep'"},
      {{"--scale", "0%"}, "--scale must be a whole percentage from 1% to 1000%, not '0%'"},
      {{"--scale", "50%%"}, "--scale must be a whole percentage from 1% to 1000%, not '50%%'"},
      {{"--max-bytes", "0"},
       "--max-bytes must be a number of bytes from 1 to 4096M, with K or M after it for KiB or MiB, not '0'"},
      {{"--max-bytes", "4097M"},
       "--max-bytes must be a number of bytes from 1 to 4096M, with K or M after it for KiB or MiB, not "
       "'4097M'"},
      {{"--max-bytes", "K"},
       "--max-bytes must be a number of bytes from 1 to 4096M, with K or M after it for KiB or MiB, not 'K'"},
      {{"--fit", "0x5"}, "--fit must be WIDTHxHEIGHT with sides from 1 to 32767, not '0x5'"},
      {{"--quality", "11"}, "--quality must be a whole number from 0 to 10, not '11'"},
      {{"--quality=x"}, "--quality must be a whole number from 0 to 10, not 'x'"},
      {{"--quality", " 5"}, "--quality must be a whole number from 0 to 10, not ' 5'"},
      {{"--quality", "+5"}, "--quality must be a whole number from 0 to 10, not '+5'"},
      {{"--landscape-width", "-3"}, "--landscape-width must be a whole number from 1 to 32767, not '-3'"},
      {{"--portrait-height", "12abc"},
       "--portrait-height must be a whole number from 1 to 32767, not '12abc'"},
      {{"--portrait-height", "32768"},
       "--portrait-height must be a whole number from 1 to 32767, not '32768'"},
      {{"--jobs", "0"}, "--jobs must be a whole number from 1 to 256, not '0'"},
      {{"--jobs", "4294967297"}, "--jobs must be a whole number from 1 to 256, not '4294967297'"},
      {{"--size", "100"}, "--size must be WIDTHxHEIGHT with sides from 1 to 32767, not '100'"},
      {{"--size", "0x10"}, "--size must be WIDTHxHEIGHT with sides from 1 to 32767, not '0x10'"},
      {{"--size", "10x"}, "--size must be WIDTHxHEIGHT with sides from 1 to 32767, not '10x'"},
      {{"--size", "10x10x10"}, "--size must be WIDTHxHEIGHT with sides from 1 to 32767, not '10x10x10'"},
  };
  for (const Row& row : rows) {
    std::string shown;
    for (const char* argument : row.arguments) shown += std::string(" ") + argument;
    SCOPED_TRACE(shown);
    const Expected got = read(row.arguments);
    if (const auto* error = std::get_if<std::string>(&row.expected)) {
      ASSERT_TRUE(std::holds_alternative<std::string>(got));
      EXPECT_EQ(std::get<std::string>(got), *error);
    } else {
      ASSERT_TRUE(std::holds_alternative<Options>(got)) << std::get<std::string>(got);
      EXPECT_TRUE(std::get<Options>(got) == std::get<Options>(row.expected));
    }
  }
}

// The help and the manual page name every extension the companion takes,
// the helper formats' among them.
TEST(Options, TheHelpNamesEveryExtensionTaken) {
  const std::string help = helpText();
  std::string joined = help;
  std::replace(joined.begin(), joined.end(), '\n', ' ');
  const std::size_t from = joined.find("ends in ");
  const std::string taken = joined.substr(from, joined.find(" is taken", from) - from) + ",";
  int named = 0;
  for (const std::string_view extension : image::pictureExtensions(image::FormatSet::companion)) {
    const bool listed = taken.find(" " + std::string(extension) + ",") != std::string::npos ||
                        taken.find(" " + std::string(extension) + " ") != std::string::npos;
    EXPECT_TRUE(listed) << extension << " in " << taken;
    ++named;
  }
  EXPECT_GT(named, 10);
  EXPECT_NE(manualPage("1").find(".heic"), std::string::npos);
}

// Every option the help lists is one the parser takes, with a value when
// the help shows one, and each sets something.
TEST(Options, TheHelpListsExactlyTheOptionsTheParserTakes) {
  std::istringstream help(helpText());
  int listed = 0;
  for (std::string line; std::getline(help, line);) {
    if (line.rfind("  --", 0) != 0) continue;
    ++listed;
    const std::string synopsis = line.substr(2, line.find("  ", 2) - 2);  // "--mode rel|free"
    const std::string name = synopsis.substr(0, synopsis.find(' '));
    if (name == "--") continue;
    SCOPED_TRACE(name);
    const Expected got = read({name.c_str()});
    if (synopsis != name) {
      EXPECT_EQ(std::get<std::string>(got), name + " needs a value");
    } else {
      ASSERT_TRUE(std::holds_alternative<Options>(got));
      EXPECT_FALSE(std::get<Options>(got) == Options{});
    }
  }
  EXPECT_EQ(listed, 30);
}

}  // namespace
}  // namespace pixmoor::companion

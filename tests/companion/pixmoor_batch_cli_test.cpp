// The command-line companion, run as a program in a scratch folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "batch/batch_test_support.h"
#include "batch/intake.h"
#include "batch/output_path.h"
#include "batch/process_picture.h"
#include "batch/size_rules.h"
#include "companion/console_view.h"
#include "companion/json_report.h"
#include "settings/settings.h"
#include "support/bounded_child.h"
#include "support/child_wait.h"
#include "support/other_user.h"
#include "support/small_file_system.h"

namespace pixmoor::batch {
namespace {

namespace fs = std::filesystem;
using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;
using testing::folderNames;
using testing::magicOf;
using testing::readPicture;
using testing::writePicture;

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// Every line of a text parsed as JSON (a line that is not JSON throws).
std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> objects;
  for (const std::string& line : lines(text)) objects.push_back(nlohmann::json::parse(line));
  return objects;
}

std::string nameIn(const nlohmann::json& object, const char* key) {
  return companion::pathBytes(object[key].get<std::string>()).value_or("(not undone)");
}

// A JPEG with an EXIF block saying "turn a quarter" (orientation 6) after its SOI.
std::string turnedJpeg(const std::string& jpeg) {
  const std::string exif(
      "\xFF\xE1\x00\x22"
      "Exif"
      "\0\0MM\0\x2A\0\0\0\x08"
      "\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0"
      "\0\0\0\0",
      36);
  return jpeg.substr(0, 2) + exif + jpeg.substr(2);
}

std::string capture(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    ::pclose(pipe);
  }
  return out;
}

class BatchProgram : public ::testing::Test {
 protected:
  // Runs in a known environment: French messages unless `environment_` says
  // otherwise, and a scratch home, so that no Trash but the test's is used.
  ProgramRun run(const std::vector<std::string>& arguments) {
    std::string command =
        "cd " + quoted(work_.path().string()) + " && " + shellPrefix_ +
        " env -u LC_ALL -u LC_MESSAGES LANG=fr_FR.UTF-8 HOME=" + quoted(home_.path().string()) +
        " XDG_DATA_HOME=" + quoted(std::string(dataHome_)) + " " + environment_ + " " +
        quoted(PIXMOOR_BATCH_PROGRAM);
    for (const std::string& argument : arguments) command += " " + quoted(argument);
    command += " >" + quoted(logs_.file("out")) + " 2>" + quoted(logs_.file("err")) + " </dev/null";
    const int raw = std::system(command.c_str());
    ProgramRun result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readBytes(logs_.file("out"));
    result.err = readBytes(logs_.file("err"));
    return result;
  }
  std::string path(const std::string& name) const { return work_.file(name); }
  // run() as an ordinary user, so that permissions hold even for the superuser.
  ProgramRun runAsAnotherUser(const std::vector<std::string>& arguments) {
    for (const TempFolder* folder : {&work_, &logs_, &home_}) fs::permissions(folder->path(), fs::perms::all);
    fs::remove(logs_.file("out"));
    fs::remove(logs_.file("err"));
    ProgramRun result;
    result.status = pixmoor::testing::runAsOrdinaryUser([&] { return run(arguments).status; });
    result.out = readBytes(logs_.file("out"));
    result.err = readBytes(logs_.file("err"));
    return result;
  }

  TempFolder work_;  // current folder of the program, and where pictures go
  TempFolder logs_;
  TempFolder home_;
  std::string dataHome_ = home_.file("data");  // where the Trash goes
  std::string environment_;                    // more NAME=value words for env
  std::string shellPrefix_ = "true;";          // shell commands before the program
};

TEST_F(BatchProgram, HelpAndVersion) {
  ProgramRun r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: pixmoor-batch [options] PATH...\n", 0), 0u);
  EXPECT_TRUE(r.err.empty());
  r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pixmoor-batch 1.4.1\n");
}

TEST_F(BatchProgram, UsageErrorsNameTheOptionOnOneLine) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 20, 10, image::kJpegEncoder));
  struct Row {
    std::vector<std::string> arguments;
    const char* mentions;
  };
  const Row rows[] = {
      {{"--quality", "11", "a.jpg"}, "--quality"},
      {{"--quality=x", "a.jpg"}, "--quality"},
      {{"--mode", "wide", "a.jpg"}, "--mode"},
      {{"--format", "gif", "a.jpg"}, "--format"},
      {{"--size", "100", "a.jpg"}, "--size"},
      {{"--size", "0x10", "a.jpg"}, "--size"},
      {{"--landscape-width", "-3", "a.jpg"}, "--landscape-width"},
      {{"--portrait-height", "12abc", "a.jpg"}, "--portrait-height"},
      {{"--bogus", "a.jpg"}, "--bogus"},
      {{"-x", "a.jpg"}, "-x"},
      {{"a.jpg", "--prefix"}, "--prefix"},
      {{"--settings", "missing.qvl", "a.jpg"}, "--settings"},
      {{"--size", "10x10", "--landscape-width", "5", "a.jpg"}, "--mode"},
      {{"--jobs", "0", "a.jpg"}, "--jobs"},
      {{"--lang", "DE", "a.jpg"}, "--lang"},
      {{"--dry-run=fast", "a.jpg"}, "--dry-run"},
      {{"--json=yes", "a.jpg"}, "--json"},
      {{"--trash-originals", "a.jpg"}, "--trash-originals"},  // only with no prefix
      {{"--output-dir", "a.jpg", "a.jpg"}, "--output-dir"},   // a file, no folder
      {{}, "PATH"},
  };
  for (const Row& row : rows) {
    const ProgramRun r = run(row.arguments);
    EXPECT_EQ(r.status, 2) << row.mentions;
    EXPECT_TRUE(r.out.empty()) << row.mentions;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(row.mentions), std::string::npos) << r.err;
  }
  EXPECT_EQ(folderNames(work_.path()), std::vector<std::string>{"a.jpg"});
}

TEST_F(BatchProgram, NothingToDo) {
  // Names the companion takes no picture from.
  writeBytes(path("x.txt"), "GIF89a");
  writeBytes(path("scan.psd"), "8BPS");
  const ProgramRun r = run({"x.txt", "scan.psd"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "pixmoor-batch: no picture to process\n");
  EXPECT_EQ(run({work_.path().string() + "/empty-but-missing"}).status, 2);
}

TEST_F(BatchProgram, DefaultsWithoutSettingsFileAndPlainLines) {
  ASSERT_TRUE(writePicture(path("IMG_0001.JPG"), 3840, 2160, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("tall.png"), 1000, 3000, image::kPngEncoder));
  const ProgramRun r = run({"IMG_0001.JPG", "tall.png"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  // Built-in defaults: 1920 wide landscapes, 1080 high portraits, JPEG, "prefix_".
  auto facts = readPicture(path("prefix_IMG_0001.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 1920);
  EXPECT_EQ(facts->height, 1080);
  facts = readPicture(path("prefix_tall.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 360);
  EXPECT_EQ(facts->height, 1080);
  EXPECT_FALSE(fs::exists(path("pref.qvl")));  // never created
  const auto out = lines(r.out);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.back(),
            "Termin\xC3\xA9 ! 2 images trait\xC3\xA9"
            "es.");
  EXPECT_EQ(out.front().substr(0, 6), "2/2 - ");
  for (const std::string& line : out) EXPECT_EQ(line.find('\r'), std::string::npos);
  // Off a terminal the progress lines are the window's texts, nothing more
  // (a tick may also come after the last count fell, before the end: 0/2).
  for (std::size_t i = 0; i + 1 < out.size(); ++i)
    EXPECT_TRUE(std::regex_match(out[i], std::regex("[012]/2 - (prefix_IMG_0001\\.jpg|prefix_tall\\.jpg)?")))
        << out[i];
}

TEST_F(BatchProgram, ReadsPrefQvlWithoutWritingIt) {
  const std::string prefs =
      "[DEFAUT]\r\nPREFIX = d_\r\nTYPE = JPG\r\n[USER]\r\nPREFIX = u_\r\nTYPE = PNG\r\nTaille_Paysage = "
      "50\r\n"
      "LNG = UK\r\n";
  writeBytes(path("pref.qvl"), prefs);
  ASSERT_TRUE(writePicture(path("a.jpg"), 200, 100, image::kJpegEncoder));
  ProgramRun r = run({"a.jpg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(magicOf(path("u_a.png")), "png");
  auto facts = readPicture(path("u_a.png"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 50);
  EXPECT_EQ(facts->height, 25);
  EXPECT_EQ(lines(r.out).back(), "Finish ! 1 pictures were processed..");
  EXPECT_EQ(readBytes(path("pref.qvl")), prefs);

  // Options override the file for this run only.
  r = run({"--format", "JPG", "--prefix", "o_", "--quality", "3", "--size", "30x20", "a.jpg"});
  EXPECT_EQ(r.status, 0) << r.err;
  facts = readPicture(path("o_a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 30);
  EXPECT_EQ(facts->height, 20);
  EXPECT_EQ(readBytes(path("pref.qvl")), prefs);

  // --settings reads another file; a single group is the defaults group.
  writeBytes(path("other.qvl"), "[DEFAUT]\r\nPREFIX = only_\r\nMODE = LIB\r\nL = 12\r\nH = 34\r\n");
  r = run({"--settings", "other.qvl", "--quiet", "a.jpg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  facts = readPicture(path("only_a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 12);
  EXPECT_EQ(facts->height, 34);
}

TEST_F(BatchProgram, PrefixZeroReplacesTheSources) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 200, 100, image::kJpegEncoder));
  const ProgramRun r = run({"--prefix", "0", "--landscape-width", "40", "--quiet", "a.jpg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(folderNames(work_.path()), std::vector<std::string>{"a.jpg"});
  const auto facts = readPicture(path("a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 40);
}

// With no prefix a picture never replaces another one: the run says so and
// fails, and the other picture stays as it was.
TEST_F(BatchProgram, PrefixZeroNeverReplacesAnotherPicture) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 200, 100, image::kJpegEncoder, 240));
  ASSERT_TRUE(writePicture(path("a.png"), 200, 100, image::kPngEncoder, 10));
  const ProgramRun r = run({"--prefix", "0", "--landscape-width", "40", "--quiet", work_.path().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, path("a.png") + ": would replace another picture\n");
  const auto facts = readPicture(path("a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 40);  // replaced by its own output only
  EXPECT_GT(facts->meanBlue, 200);
  EXPECT_EQ(folderNames(work_.path()), (std::vector<std::string>{"a.jpg", "a.png"}));
}

// The corpus pictures of tests/data with synthetic ones beside them: every
// picture that the decoders read is written with the right name and size,
// every other one is listed with its reason, and the exit status says so.
TEST_F(BatchProgram, CorpusFolder) {
  const fs::path data = PIXMOOR_TEST_DATA;
  const fs::path pictures = work_.path() / "pictures";
  fs::create_directory(pictures);
  int copied = 0;
  for (const char* group : {"jpeg/good", "png/good", "bmp/g", "jpeg/bad", "png/bad", "bmp/b"}) {
    if (!fs::is_directory(data / group)) continue;
    for (const auto& entry : fs::directory_iterator(data / group)) {
      if (!entry.is_regular_file() || entry.file_size() > 4 * 1024 * 1024) continue;
      // Names are kept unique across groups; the extension decides the intake.
      fs::copy_file(entry.path(),
                    pictures / (std::to_string(copied++) + "_" + entry.path().filename().string()));
    }
  }
  ASSERT_TRUE(writePicture((pictures / "synthetic.jpg").string(), 640, 480, image::kJpegEncoder));
  writeBytes((pictures / "fake.tif").string(), "II*\0 plain bytes");
  writeBytes((pictures / "notes.txt").string(), "not a picture");

  settings::Settings s = settings::defaultSettings(1920, 1080);
  s.landscapeWidth = 64;
  s.portraitHeight = 48;
  s.prefix = "out_";
  const BatchJob job = intakeDrop({pictures.string()});
  std::map<std::string, std::pair<int, int>> expectedSizes;  // output path -> size
  std::vector<std::string> expectedFailures;
  std::vector<std::string> expectedWarnings;  // written, but their data ended early
  {
    testing::registerCodecs();
    const image::ReduceTo reduce = reductionFor(s);
    for (const std::string& source : job) {
      const image::LoadedPicture loaded =
          image::loadPicture(source, {image::machineDecodeLimits(), &reduce, image::FormatSet::companion});
      const image::DecodedPicture& picture = loaded.picture;
      const TargetSize target = targetSize(picture.source.width, picture.source.height, s);
      if (loaded.loaded() && target.writesPicture() && !picture.isIcon && !picture.nothingDecoded) {
        expectedSizes[outputPath(source, "out_", "jpg")] = {target.width, target.height};
        if (picture.partial) expectedWarnings.push_back(source);
      } else {
        expectedFailures.push_back(source);
      }
    }
  }
  ASSERT_GT(expectedWarnings.size(), 0u);
  ASSERT_GT(expectedSizes.size(), 0u);
  EXPECT_EQ(expectedSizes.count((pictures / "out_synthetic.jpg").string()), 1u);

  const ProgramRun r =
      run({"--landscape-width", "64", "--portrait-height", "48", "--prefix", "out_", pictures.string()});
  EXPECT_EQ(r.status, expectedFailures.empty() ? 0 : 1);
  const auto out = lines(r.out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "Termin\xC3\xA9 ! " + std::to_string(job.size()) +
                            " images trait\xC3\xA9"
                            "es.");

  for (const auto& [output, size] : expectedSizes) {
    const auto facts = readPicture(output);
    ASSERT_TRUE(facts) << output;
    EXPECT_EQ(facts->width, size.first) << output;
    EXPECT_EQ(facts->height, size.second) << output;
  }
  // Nothing else appeared: the sources, the expected outputs, no temporary file.
  std::size_t outputs = 0;
  for (const std::string& name : folderNames(pictures)) {
    if (name.rfind("out_", 0) == 0) {
      ++outputs;
      EXPECT_EQ(expectedSizes.count((pictures / name).string()), 1u) << name;
    }
  }
  EXPECT_EQ(outputs, expectedSizes.size());
  // One stderr line per picture without output, naming it and a reason,
  // then one per picture written incomplete.
  const auto err = lines(r.err);
  EXPECT_EQ(err.size(), expectedFailures.size() + expectedWarnings.size());
  for (const std::string& source : expectedFailures) {
    const auto hit = std::find_if(err.begin(), err.end(), [&](const std::string& line) {
      return line.rfind(source + ": ", 0) == 0 && line.size() > source.size() + 2;
    });
    EXPECT_NE(hit, err.end()) << source;
  }
  for (const std::string& source : expectedWarnings) {
    const std::string line = source + ": written, " + std::string(warningText(PictureWarning::truncated));
    EXPECT_NE(std::find(err.begin(), err.end(), line), err.end()) << source;
  }
  const auto fake = std::find(err.begin(), err.end(), (pictures / "fake.tif").string() + ": unknown format");
  EXPECT_NE(fake, err.end());
}

TEST_F(BatchProgram, LineFeedInANameIsPrintedOnOneLine) {
  ASSERT_TRUE(writePicture(path("ok.png"), 40, 20, image::kPngEncoder));
  writeBytes(path("bad\nname.jpg"), "not a jpeg");
  const ProgramRun r = run({"--quiet", "ok.png", "bad\nname.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err, "bad\\nname.jpg: unknown format\n");
  EXPECT_TRUE(readPicture(path("prefix_ok.jpg")));
}

TEST_F(BatchProgram, LanguageFromTheOptionTheSettingsFileOrTheEnvironment) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 20, 10, image::kJpegEncoder));
  const std::string french =
      "Termin\xC3\xA9 ! 1 images trait\xC3\xA9"
      "es.";
  const std::string english = "Finish ! 1 pictures were processed..";
  struct Row {
    const char* environment;
    const char* settingsLanguage;  // LNG of a pref.qvl, or none
    std::vector<std::string> options;
    const std::string& expected;
  };
  const Row rows[] = {
      {"LANG=en_GB.UTF-8", nullptr, {}, english},
      {"LANG=C", nullptr, {}, english},
      {"LANG=fr_BE.UTF-8", nullptr, {}, french},
      {"LANG=en_GB.UTF-8 LC_MESSAGES=fr_FR", nullptr, {}, french},
      {"LANG=fr_FR LC_MESSAGES=en_US LC_ALL=fr_CA", nullptr, {}, french},
      {"LANG=fr_FR LC_ALL=C", nullptr, {}, english},
      {"LANG=en_GB", "FR", {}, french},  // the settings file before the environment
      {"LANG=fr_FR", "UK", {}, english},
      {"LANG=fr_FR", "UK", {"--lang", "fr"}, french},  // the option before both
      {"LANG=en_GB", nullptr, {"--lang", "FR"}, french},
  };
  for (const Row& row : rows) {
    fs::remove(path("pref.qvl"));
    if (row.settingsLanguage != nullptr)
      writeBytes(path("pref.qvl"), std::string("[DEFAUT]\r\nLNG = ") + row.settingsLanguage + "\r\n");
    environment_ = row.environment;
    std::vector<std::string> arguments = row.options;
    arguments.push_back("a.jpg");
    const ProgramRun r = run(arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    const auto out = lines(r.out);
    EXPECT_EQ(out.empty() ? "" : out.back(), row.expected) << row.environment;
  }
}

// A plan writes nothing, not even a temporary file, tells per picture what
// the run then does, and answers the run's exit status.
TEST_F(BatchProgram, DryRunWritesNothingAndForeseesTheRun) {
  ASSERT_TRUE(writePicture(path("wide.jpg"), 200, 100, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("turned.jpg"), 200, 100, image::kJpegEncoder));
  writeBytes(path("turned.jpg"), turnedJpeg(readBytes(path("turned.jpg"))));
  ASSERT_TRUE(writePicture(path("tall.png"), 90, 300, image::kPngEncoder));
  ASSERT_TRUE(writePicture(path("prefix_wide.jpg"), 10, 10, image::kJpegEncoder));
  writeBytes(path("fake.tif"), "II*\0 plain bytes");
  const std::vector<std::string> pictures = {
      "--landscape-width", "40", "--portrait-height", "30", "wide.jpg", "turned.jpg", "tall.png", "fake.tif"};
  const auto before = folderNames(work_.path());
  std::vector<std::string> arguments = {"--dry-run", "--json"};
  arguments.insert(arguments.end(), pictures.begin(), pictures.end());
  const ProgramRun plan = run(arguments);
  EXPECT_EQ(plan.status, 1);
  EXPECT_EQ(folderNames(work_.path()), before);
  EXPECT_EQ(lines(plan.err),
            (std::vector<std::string>{
                "wide.jpg: 200x100 -> 40x20, prefix_wide.jpg (exists: replaced)",
                "turned.jpg: 100x200 -> 15x30, prefix_turned.jpg (new)",
                "tall.png: 90x300 -> 9x30, prefix_tall.jpg (new)",
                "fake.tif: no file: unknown format",
                "Plan: 4 pictures, 3 to write, 1 without a file; " +
                    std::to_string(fs::file_size(path("wide.jpg")) + fs::file_size(path("turned.jpg")) +
                                   fs::file_size(path("tall.png")) + fs::file_size(path("fake.tif"))) +
                    " bytes before",
            }));

  arguments.erase(arguments.begin());
  const ProgramRun real = run(arguments);
  EXPECT_EQ(real.status, plan.status);
  const auto planned = jsonLines(plan.out);
  const auto done = jsonLines(real.out);
  ASSERT_EQ(planned.size(), 5u);
  ASSERT_EQ(done.size(), 5u);
  for (std::size_t i = 0; i + 1 < planned.size(); ++i) {
    for (const char* key : {"source", "output", "reason", "source_width", "source_height", "output_width",
                            "output_height", "source_bytes"})
      EXPECT_EQ(planned[i][key], done[i][key]) << key << " of " << planned[i]["source"];
    EXPECT_EQ(planned[i]["outcome"] == "planned", done[i]["outcome"] == "written") << planned[i]["source"];
  }
  EXPECT_EQ(planned[0]["output_state"], "exists");
  EXPECT_EQ(planned[1]["output_state"], "new");

  // Without a prefix: the source itself, and a name that holds another picture.
  ASSERT_TRUE(writePicture(path("wide.png"), 60, 20, image::kPngEncoder));
  const ProgramRun noPrefix =
      run({"--dry-run", "--prefix", "0", "--landscape-width", "40", "wide.png", "wide.jpg"});
  EXPECT_EQ(noPrefix.status, 1);
  EXPECT_EQ(lines(noPrefix.out),
            (std::vector<std::string>{
                "wide.png: no file: would replace another picture",
                "wide.jpg: 200x100 -> 40x20, wide.jpg (the source: replaced)",
                "Plan: 2 pictures, 1 to write, 1 without a file; " +
                    std::to_string(fs::file_size(path("wide.png")) + fs::file_size(path("wide.jpg"))) +
                    " bytes before",
            }));

  // A FIFO named like a picture is no picture, and never holds the plan up.
  ASSERT_EQ(::mkfifo(path("pipe.jpg").c_str(), 0600), 0);
  const ProgramRun fifo = run({"--dry-run", "pipe.jpg"});
  EXPECT_EQ(fifo.status, 1);
  EXPECT_EQ(lines(fifo.out).front(), "pipe.jpg: no file: unreadable");
}

// The plan reads a header with the reader the run loads with: a header
// promising 8000 x 8000 over a few kilobytes is refused by both alike.
TEST_F(BatchProgram, PlanRefusesWhatTheRunRefuses) {
  ASSERT_TRUE(writePicture(path("big.jpg"), 64, 64, image::kJpegEncoder));
  std::string jpeg = readBytes(path("big.jpg"));
  const std::size_t frame = jpeg.find("\xFF\xC0");
  ASSERT_NE(frame, std::string::npos);
  jpeg.replace(frame + 5, 4, "\x1F\x40\x1F\x40");  // height and width 8000
  writeBytes(path("big.jpg"), jpeg);
  const ProgramRun plan = run({"--dry-run", "--quiet", "big.jpg"});
  const ProgramRun real = run({"--quiet", "big.jpg"});
  EXPECT_EQ(plan.status, 1);
  EXPECT_EQ(real.status, 1);
  EXPECT_EQ(lines(plan.out), std::vector<std::string>{"big.jpg: no file: unknown format"});
  EXPECT_EQ(lines(real.err), std::vector<std::string>{"big.jpg: unknown format"});
}

// The exact plan's byte counts are the sizes of the files the run writes.
TEST_F(BatchProgram, ExactPlanCountsTheBytesTheRunWrites) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 300, 200, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("b.png"), 120, 260, image::kPngEncoder));
  for (const std::string format : {"jpg", "png", "webp", "avif"}) {
    std::vector<std::string> arguments = {
        "--dry-run=exact",   "--json", "--format",          format, "--quality", "6",
        "--landscape-width", "170",    "--portrait-height", "90",   "a.jpg",     "b.png"};
    const std::size_t files = folderNames(work_.path()).size();
    const auto planned = jsonLines(run(arguments).out);
    EXPECT_EQ(folderNames(work_.path()).size(), files) << "the plan wrote something";
    arguments.erase(arguments.begin());
    const auto done = jsonLines(run(arguments).out);
    ASSERT_EQ(planned.size(), 3u);
    ASSERT_EQ(done.size(), 3u);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < 2; ++i) {
      const std::uint64_t size = fs::file_size(work_.path() / nameIn(done[i], "output"));
      EXPECT_EQ(planned[i]["output_bytes"], size) << format << " " << i;
      EXPECT_EQ(done[i]["output_bytes"], size) << format << " " << i;
      total += size;
    }
    EXPECT_EQ(planned[2]["output_bytes"], total);
    EXPECT_EQ(done[2]["output_bytes"], total);
  }
}

// A picture whose data ends early is written (the missing rows filled in),
// and the list and the report say which output is incomplete; a file that
// lacks only its end marker lost nothing and is not flagged.
TEST_F(BatchProgram, TruncatedPictureIsWrittenWithAWarning) {
  const std::string data = std::string(PIXMOOR_TEST_DATA) + "/jpeg/";
  fs::copy_file(data + "bad/trunc_testorig_half.jpg", path("cut.jpg"));
  fs::copy_file(data + "bad/trunc_testorig_no-eoi.jpg", path("no-end.jpg"));
  fs::copy_file(data + "good/ljt_testorig.jpg", path("whole.jpg"));
  const std::vector<std::string> pictures = {"--landscape-width", "40", "cut.jpg", "no-end.jpg", "whole.jpg"};
  const std::string warning =
      "cut.jpg: written, truncated (its data ended or broke off early; the missing part is filled in)";
  for (const char* plan : {"--dry-run=exact", ""}) {
    std::vector<std::string> arguments = {"--json", "--prefix", plan[0] != '\0' ? "plan_" : "run_"};
    if (plan[0] != '\0') arguments.push_back(plan);
    arguments.insert(arguments.end(), pictures.begin(), pictures.end());
    const ProgramRun r = run(arguments);
    EXPECT_EQ(r.status, 0) << plan;
    const auto objects = jsonLines(r.out);
    ASSERT_EQ(objects.size(), 4u) << plan;
    EXPECT_EQ(objects[0]["warnings"], nlohmann::json::array({"truncated"})) << plan;
    EXPECT_EQ(objects[1]["warnings"], nlohmann::json::array()) << plan;
    EXPECT_EQ(objects[2]["warnings"], nlohmann::json::array()) << plan;
    // One line says it: the plan's line of the picture, or the run's own.
    const auto err = lines(r.err);
    const auto said = std::find_if(err.begin(), err.end(), [&](const std::string& line) {
      return line.find("truncated") != std::string::npos;
    });
    ASSERT_NE(said, err.end()) << plan << r.err;
    EXPECT_EQ(said->rfind("cut.jpg: ", 0), 0u) << *said;
    EXPECT_NE(said->find(warning.substr(18)), std::string::npos) << *said;
    EXPECT_EQ(
        std::count_if(said + 1, err.end(),
                      [](const std::string& line) { return line.find("truncated") != std::string::npos; }),
        0)
        << r.err;
  }
  EXPECT_TRUE(fs::exists(path("run_cut.jpg")));
  // The quiet list is the run's per-picture lines: the warning is one of them.
  EXPECT_EQ(
      lines(run({"--quiet", "--prefix", "quiet_", "--landscape-width", "40", "cut.jpg", "whole.jpg"}).err),
      std::vector<std::string>{warning});
}

// Every line of standard output is JSON, the human texts go to standard
// error, and every file name comes back byte for byte.
TEST_F(BatchProgram, JsonReportGivesBackEveryFileName) {
  const std::vector<std::string> names = {"line\nfeed.jpg", "odd\xFFname.jpg", "back\\slash.jpg",
                                          "caf\xC3\xA9.jpg"};
  for (const std::string& name : names) ASSERT_TRUE(writePicture(path(name), 40, 20, image::kJpegEncoder));
  writeBytes(path("broken.jpg"), "not a jpeg");
  const ProgramRun r = run({"--json", "--landscape-width", "20", work_.path().string()});
  EXPECT_EQ(r.status, 1);
  const auto objects = jsonLines(r.out);
  ASSERT_EQ(objects.size(), names.size() + 2);
  std::set<std::string> sources;
  for (std::size_t i = 0; i + 1 < objects.size(); ++i) {
    const nlohmann::json& picture = objects[i];
    EXPECT_EQ(picture["type"], "picture");
    const std::string source = nameIn(picture, "source");
    sources.insert(source);
    if (source == path("broken.jpg")) {
      EXPECT_EQ(picture["outcome"], "failed");
      EXPECT_EQ(picture["reason"], "unknown-format");
      EXPECT_TRUE(picture["output_bytes"].is_null());
      continue;
    }
    EXPECT_EQ(picture["outcome"], "written") << source;
    EXPECT_EQ(picture["source_width"], 40);
    EXPECT_EQ(picture["output_height"], 10);
    EXPECT_EQ(picture["output_bytes"], fs::file_size(nameIn(picture, "output"))) << source;
    EXPECT_GE(picture["milliseconds"].get<double>(), 0.0);
  }
  std::set<std::string> expected = {path("broken.jpg")};
  for (const std::string& name : names) expected.insert(path(name));
  EXPECT_EQ(sources, expected);
  const nlohmann::json& summary = objects.back();
  EXPECT_EQ(summary["type"], "summary");
  EXPECT_EQ(summary["pictures"], 5);
  EXPECT_EQ(summary["written"], 4);
  EXPECT_EQ(summary["failed"], 1);
  EXPECT_EQ(summary["exit_status"], 1);
  EXPECT_NE(r.err.find("Termin\xC3\xA9 ! 5 images trait\xC3\xA9"
                       "es.\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(path("broken.jpg") + ": unknown format\n"), std::string::npos) << r.err;
  // The escape by itself: invalid bytes (a lone byte, a surrogate) and backslashes.
  EXPECT_EQ(companion::pathText("a\\b\xFF\xC3\xA9\xED\xA0\x80"), "a\\\\b\\xFF\xC3\xA9\\xED\\xA0\\x80");
  EXPECT_EQ(companion::pathBytes("a\\\\b\\xFF\xC3\xA9"), "a\\b\xFF\xC3\xA9");
  EXPECT_FALSE(companion::pathBytes("a\\q"));
}

TEST_F(BatchProgram, OneJobWritesTheSameBytes) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 1600, 1200, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("b.png"), 900, 1300, image::kPngEncoder));
  for (const std::string format : {"jpg", "png", "webp", "avif"}) {
    const std::vector<std::string> common = {"--quiet", "--format",          format, "--landscape-width",
                                             "700",     "--portrait-height", "500",  "a.jpg",
                                             "b.png"};
    std::vector<std::string> many = common;
    many.insert(many.end(), {"--prefix", "many_"});
    std::vector<std::string> one = common;
    one.insert(one.end(), {"--prefix", "one_", "--jobs", "1"});
    EXPECT_EQ(run(many).status, 0);
    EXPECT_EQ(run(one).status, 0);
    for (const std::string name : {"a.", "b."}) {
      const std::string bytes = readBytes(path("one_" + name + format));
      EXPECT_FALSE(bytes.empty());
      EXPECT_EQ(bytes, readBytes(path("many_" + name + format))) << name << format;
    }
  }
}

TEST_F(BatchProgram, RecursiveTreeInAStableOrderThroughALinkLoop) {
  const fs::path tree = work_.path() / "tree";
  fs::create_directories(tree / "sub" / "deep");
  for (const char* name : {"tree/b.jpg", "tree/a.png", "tree/sub/c.jpg", "tree/sub/deep/d.jpg"})
    ASSERT_TRUE(writePicture(path(name), 40, 20, image::kJpegEncoder));
  fs::create_directory_symlink("..", tree / "sub" / "loop");
  fs::create_directory_symlink("sub", tree / "alias.jpg");  // a link to a folder, named like a picture
  fs::create_symlink("sub/c.jpg", tree / "linked.jpg");     // a link to a picture is one
  const ProgramRun r = run({"--recursive", "--json", "--quiet", "--landscape-width", "20", tree.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> sources;
  for (const auto& object : jsonLines(r.out)) {
    if (object["type"] == "picture") sources.push_back(nameIn(object, "source"));
  }
  EXPECT_EQ(sources, (std::vector<std::string>{tree / "a.png", tree / "b.jpg", tree / "linked.jpg",
                                               tree / "sub/c.jpg", tree / "sub/deep/d.jpg"}));
  for (const char* output :
       {"tree/prefix_a.jpg", "tree/prefix_linked.jpg", "tree/sub/prefix_c.jpg", "tree/sub/deep/prefix_d.jpg"})
    EXPECT_TRUE(readPicture(path(output))) << output;
}

// An output folder inside the tree walked: mirrored, never walked itself, so
// a second run takes the same sources; the plan says what the run does.
TEST_F(BatchProgram, OutputFolderInsideTheTreeIsMirroredNotWalked) {
  const fs::path tree = work_.path() / "tree";
  fs::create_directories(tree / "sub");
  ASSERT_TRUE(writePicture(path("tree/a.jpg"), 80, 40, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("tree/small.jpg"), 10, 20, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("tree/sub/b.png"), 30, 60, image::kPngEncoder));
  const std::vector<std::string> options = {
      "--recursive", "--json", "--quiet",       "--prefix",     "0",
      "--long-edge", "20",     "--shrink-only", "--output-dir", (tree / "web").string(),
      tree.string()};
  const auto outcomes = [&](const ProgramRun& r) {
    std::vector<std::string> seen;
    for (const auto& object : jsonLines(r.out)) {
      if (object["type"] == "picture")
        seen.push_back(nameIn(object, "source") + " " + object["outcome"].get<std::string>() + " " +
                       (object["output"].is_null() ? "" : nameIn(object, "output")));
    }
    return seen;
  };
  const std::vector<std::string> fresh = {
      (tree / "a.jpg").string() + " written " + (tree / "web/a.jpg").string(),
      (tree / "small.jpg").string() + " written " + (tree / "web/small.jpg").string(),
      (tree / "sub/b.png").string() + " written " + (tree / "web/sub/b.jpg").string()};
  std::vector<std::string> planned = fresh;
  for (std::string& line : planned) line.replace(line.find(" written "), 9, " planned ");
  std::vector<std::string> arguments = options;
  arguments.insert(arguments.begin(), "--dry-run");
  EXPECT_EQ(outcomes(run(arguments)), planned);
  const ProgramRun first = run(options);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(outcomes(first), fresh);
  EXPECT_EQ(readPicture(path("tree/web/a.jpg"))->width, 20);
  EXPECT_EQ(readPicture(path("tree/web/small.jpg"))->height, 20);  // within the target: its own size
  EXPECT_EQ(readPicture(path("tree/web/sub/b.jpg"))->height, 20);

  // Again, skipping what is there: the same three sources, each left as it is.
  arguments = options;
  arguments.insert(arguments.begin(), {"--if-exists", "skip"});
  const std::vector<std::string> left = {
      (tree / "a.jpg").string() + " left " + (tree / "web/a.jpg").string(),
      (tree / "small.jpg").string() + " left " + (tree / "web/small.jpg").string(),
      (tree / "sub/b.png").string() + " left " + (tree / "web/sub/b.jpg").string()};
  const ProgramRun second = run(arguments);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(outcomes(second), left);
  // The output folder met in the walk is said, once, and fails nothing.
  const auto skipped = [](const ProgramRun& r) {
    std::vector<std::string> seen;
    for (const auto& object : jsonLines(r.out)) {
      if (object["type"] == "skipped")
        seen.push_back(nameIn(object, "source") + ": " + object["reason"].get<std::string>());
    }
    return seen;
  };
  EXPECT_EQ(skipped(second), std::vector<std::string>{(tree / "web").string() + ": output-folder"});
  EXPECT_NE(second.err.find((tree / "web").string() + ": skipped, the output folder"), std::string::npos)
      << second.err;
  arguments.insert(arguments.begin(), "--dry-run");
  const ProgramRun plan = run(arguments);
  EXPECT_EQ(outcomes(plan), left);
  EXPECT_EQ(skipped(plan), skipped(second));
  EXPECT_EQ(plan.status, 0);
}

std::string percentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// The original reaches the Trash whole and restorable, only once its output
// is complete; a Trash that refuses leaves the source as it was.
TEST_F(BatchProgram, TrashOriginalsKeepsARestorableOriginal) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 400, 200, image::kJpegEncoder));
  const std::string original = readBytes(path("a.jpg"));
  const std::vector<std::string> arguments = {"--prefix",          "0",   "--trash-originals",
                                              "--landscape-width", "300", "a.jpg"};

  writeBytes(home_.file("plain"), "");
  dataHome_ = home_.file("plain/data");  // no Trash can be made there
  ProgramRun r = run(arguments);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("a.jpg: the Trash refused it (left untouched): ", 0), 0u) << r.err;
  EXPECT_EQ(readBytes(path("a.jpg")), original);
  EXPECT_EQ(folderNames(work_.path()), std::vector<std::string>{"a.jpg"});

  dataHome_ = home_.file("data");
  shellPrefix_ = "trap '' XFSZ; ulimit -f 2;";  // no file beyond 1 KiB: the output cannot be made whole
  r = run(arguments);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(readBytes(path("a.jpg")), original);
  EXPECT_FALSE(fs::exists(home_.file("data/Trash/files/a.jpg")));

  shellPrefix_ = "true;";
  r = run(arguments);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto facts = readPicture(path("a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 300);
  EXPECT_EQ(folderNames(work_.path()), std::vector<std::string>{"a.jpg"});
  EXPECT_EQ(readBytes(home_.file("data/Trash/files/a.jpg")), original);
  const auto info = lines(readBytes(home_.file("data/Trash/info/a.jpg.trashinfo")));
  ASSERT_EQ(info.size(), 3u);
  EXPECT_EQ(info[0], "[Trash Info]");
  EXPECT_EQ(percentDecoded(info[1]), "Path=" + path("a.jpg"));
  EXPECT_TRUE(std::regex_match(
      info[2], std::regex("DeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}")))
      << info[2];
}

// WebP and AVIF outputs keep the rules of the others: with no prefix a
// source is replaced only by its own output (a.jpg gives a new a.webp,
// b.webp is replaced, its original sent to the Trash), the plan foresees
// the run, and the outputs read back at their sizes.
TEST_F(BatchProgram, WebpAndAvifOutputsKeepTheRules) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 400, 200, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("b.webp"), 300, 600, image::kWebpEncoder));
  const std::string jpeg = readBytes(path("a.jpg"));
  const std::string webp = readBytes(path("b.webp"));
  std::vector<std::string> arguments = {"--json",
                                        "--prefix",
                                        "0",
                                        "--trash-originals",
                                        "--landscape-width",
                                        "200",
                                        "--portrait-height",
                                        "100",
                                        "--format",
                                        "webp",
                                        "a.jpg",
                                        "b.webp"};
  arguments.insert(arguments.begin(), "--dry-run");
  const auto planned = jsonLines(run(arguments).out);
  ASSERT_EQ(planned.size(), 3u);
  EXPECT_EQ(planned[0]["output"], "a.webp");
  EXPECT_EQ(planned[0]["output_state"], "new");
  EXPECT_EQ(planned[1]["output"], "b.webp");
  EXPECT_EQ(planned[1]["output_state"], "source");
  arguments.erase(arguments.begin());
  const ProgramRun r = run(arguments);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readBytes(path("a.jpg")), jpeg);
  EXPECT_EQ(readBytes(home_.file("data/Trash/files/b.webp")), webp);
  EXPECT_FALSE(fs::exists(home_.file("data/Trash/files/a.jpg")));
  EXPECT_EQ(folderNames(work_.path()), (std::vector<std::string>{"a.jpg", "a.webp", "b.webp"}));

  const ProgramRun avif = run({"--format", "avif", "--prefix", "s_", "--landscape-width", "120", "a.jpg"});
  EXPECT_EQ(avif.status, 0) << avif.err;
  // The outputs' headers, read by the companion's own readers.
  const auto read = jsonLines(run({"--dry-run", "--json", "a.webp", "b.webp", "s_a.avif"}).out);
  ASSERT_EQ(read.size(), 4u);
  const std::vector<std::pair<int, int>> sizes = {{200, 100}, {50, 100}, {120, 60}};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_EQ(read[i]["source_width"], sizes[i].first) << i;
    EXPECT_EQ(read[i]["source_height"], sizes[i].second) << i;
  }
  EXPECT_EQ(magicOf(path("a.webp")), "webp");
  EXPECT_EQ(magicOf(path("s_a.avif")), "avif");
}

std::vector<std::string> jsonReasons(const std::string& out) {
  std::vector<std::string> reasons;
  for (const auto& object : jsonLines(out)) {
    if (object["type"] == "picture") reasons.push_back(object["reason"].is_null() ? "" : object["reason"]);
  }
  return reasons;
}

// Why an output could not be written reaches the list and the JSON report,
// each case made for real as an ordinary user.
TEST_F(BatchProgram, AProtectedFileOrFolderIsNamedAsSuch) {
  PIXMOOR_SKIP_UNLESS_ORDINARY_USER_CAN_RUN(PIXMOOR_BATCH_PROGRAM);
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  writeBytes(path("prefix_a.jpg"), "old");
  fs::permissions(path("prefix_a.jpg"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_directory(path("locked"));
  fs::copy_file(path("a.jpg"), path("locked/b.jpg"));
  fs::permissions(path("locked"), fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write |
                                                     fs::perms::others_write));
  const ProgramRun plan = runAsAnotherUser({"--dry-run", "--quiet", "locked/b.jpg"});
  EXPECT_EQ(plan.out, "locked/b.jpg: no file: folder not writable\n");
  const ProgramRun r = runAsAnotherUser({"--json", "--quiet", "a.jpg", "locked/b.jpg"});
  fs::permissions(path("locked"), fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "a.jpg: write-protected file\nlocked/b.jpg: folder not writable\n");
  EXPECT_EQ(jsonReasons(r.out), (std::vector<std::string>{"write-protected", "folder-not-writable"}));
  EXPECT_EQ(readBytes(path("prefix_a.jpg")), "old");
  EXPECT_EQ(folderNames(path("locked")), std::vector<std::string>{"b.jpg"});
}

// The program runs where a small file system of its own is nearly full.
TEST_F(BatchProgram, AFullDiskIsNamedAsSuch) {
  const fs::path disk = work_.path() / "disk";
  fs::create_directory(disk);
  ASSERT_TRUE(writePicture(path("a.jpg"), 400, 300, image::kJpegEncoder));
  const int code = pixmoor::testing::withSmallFileSystem(disk, "1m", [&] {
    fs::copy_file(path("a.jpg"), disk / "a.jpg");
    if (!pixmoor::testing::fillUp(disk, 16384)) return 10;  // far less than the output needs
    const ProgramRun r = run({"--json", "--quiet", "disk/a.jpg"});
    return folderNames(disk) == std::vector<std::string>{"a.jpg", "filler"} ? r.status : 11;
  });
  if (code == pixmoor::testing::kNoMount)
    GTEST_SKIP() << "cannot mount a small file system here (needs the superuser)";
  EXPECT_EQ(code, 1);
  EXPECT_EQ(readBytes(logs_.file("err")), "disk/a.jpg: disk full\n");
  EXPECT_EQ(jsonReasons(readBytes(logs_.file("out"))), std::vector<std::string>{"disk-full"});
}

TEST_F(BatchProgram, ManualPageAndCompletionFollowTheHelp) {
  const std::string help = run({"--help"}).out;
  const std::string manual = std::regex_replace(readBytes(PIXMOOR_BATCH_MANUAL), std::regex(R"(\\-)"), "-");
  const std::regex option("--[a-z][a-z-]*(=exact)?");
  const auto options = [&](const std::string& text) {
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
      found.insert(it->str());
    return found;
  };
  const std::set<std::string> inHelp = options(help);
  EXPECT_EQ(options(manual), inHelp);
  for (const std::string& line : lines(help)) {
    if (line.rfind("  --", 0) != 0) continue;
    const std::string name = line.substr(2, line.find_first_of(" ,", 2) - 2);
    EXPECT_NE(manual.find(".TP\n\\fB" + name + "\\fR"), std::string::npos) << name;
  }
  const auto complete = [](const std::string& words, int word) {
    return capture("bash -c " + quoted(std::string("source ") + PIXMOOR_BATCH_COMPLETION + "; COMP_WORDS=(" +
                                       words + "); COMP_CWORD=" + std::to_string(word) +
                                       "; _pixmoor_batch; printf '%s\\n' \"${COMPREPLY[@]}\""));
  };
  EXPECT_EQ(complete("pixmoor-batch --dr", 1), "--dry-run\n--dry-run=exact\n");
  EXPECT_EQ(complete("pixmoor-batch --format ''", 2), "jpg\npng\nwebp\navif\n");
  EXPECT_EQ(complete("pixmoor-batch --lang ''", 2), "FR\nUK\n");
  std::set<std::string> offered;
  for (const std::string& word : lines(complete("pixmoor-batch --", 1))) offered.insert(word);
  std::set<std::string> expected = inHelp;
  expected.insert("--");
  EXPECT_EQ(offered, expected);
}

TEST(TerminalLine, BarRateAndTimeLeft) {
  using companion::terminalLine;
  EXPECT_EQ(terminalLine(4, 4, "/p/prefix_a.jpg", 0.0, 80),
            "[--------------------]  --/s  --:-- left  4/4 - prefix_a.jpg");
  EXPECT_EQ(terminalLine(3, 4, "/p/prefix_a.jpg", 2.0, 80),
            "[#####---------------]  0.5/s  0:06 left  3/4 - prefix_a.jpg");
  EXPECT_EQ(terminalLine(4000, 5000, "/p/prefix_a.jpg", 1000.0, 80),
            "[####----------------]  1.0/s  1:06:40 left  4000/5000 - prefix_a.jpg");
  // Never wider than the terminal, and never a character cut in two.
  EXPECT_EQ(terminalLine(3, 4, "/p/prefix_\xC3\xA9t\xC3\xA9.jpg", 2.0, 57),
            "[#####---------------]  0.5/s  0:06 left  3/4 - prefix_\xC3\xA9");
  EXPECT_EQ(terminalLine(3, 4, "/p/prefix_\xC3\xA9t\xC3\xA9.jpg", 2.0, 65),
            "[#####---------------]  0.5/s  0:06 left  3/4 - prefix_\xC3\xA9t\xC3\xA9.jpg");
}

// On a terminal the live line carries the bar; the window's texts stay.
TEST_F(BatchProgram, OnATerminalTheLiveLineHasABar) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 400, 300, image::kJpegEncoder));
  std::fflush(nullptr);
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (::chdir(work_.path().c_str()) != 0) ::_exit(127);
    ::execl(PIXMOOR_BATCH_PROGRAM, PIXMOOR_BATCH_PROGRAM, "--lang", "UK", "--landscape-width", "50", "a.jpg",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  std::string seen;
  char buffer[512];
  for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;)
    seen.append(buffer, static_cast<std::size_t>(got));
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(terminal);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The first tick is always shown, also when the picture was done before it,
  // and has no rate yet: an empty bar at 1/1 (the name once the picture is
  // read) or a full one at 0/1, whichever the machine's speed gives.
  const std::size_t first = seen.find("\r[");
  ASSERT_NE(first, std::string::npos) << seen;
  const std::string firstLine = seen.substr(first, seen.find("\x1b[K", first) - first);
  EXPECT_TRUE(
      std::regex_match(firstLine, std::regex("\r(\\[-{20}\\]  --/s  --:-- left  1/1 - (prefix_a\\.jpg)?|"
                                             "\\[#{20}\\]  --/s  --:-- left  0/1 - prefix_a\\.jpg)")))
      << firstLine;
  EXPECT_NE(seen.find("\rFinish ! 1 pictures were processed..\x1b[K"), std::string::npos) << seen;
}

// The companion started in the scratch folder with its output into `out` and
// its errors into `err` (the log files when -1) and, when given, a cap on its
// address space.
pid_t startProgram(const TempFolder& work, const TempFolder& logs, const std::vector<std::string>& arguments,
                   int out = -1, rlim_t addressSpace = 0, int err = -1) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (out < 0) out = ::open(logs.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (err < 0) err = ::open(logs.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int nothing = ::open("/dev/null", O_RDONLY);
  ::dup2(nothing, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  if (addressSpace != 0) {
    const rlimit limit{addressSpace, addressSpace};
    ::setrlimit(RLIMIT_AS, &limit);
  }
  if (::chdir(work.path().c_str()) != 0) ::_exit(127);
  std::vector<char*> argv{const_cast<char*>(PIXMOOR_BATCH_PROGRAM)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execv(PIXMOOR_BATCH_PROGRAM, argv.data());
  ::_exit(127);
}

// The exit status once the program ended within `seconds`; -1 when it had to
// be killed then, 128 + the signal when a signal ended it.
int exitWithin(pid_t pid, int seconds) {
  return pixmoor::testing::exitCodeOf(pixmoor::testing::endChildWithin(pid, std::chrono::seconds(seconds)));
}

// A pipe already full: whoever writes into it waits until the test reads.
// The reading end is the test's, the writing end goes to the program.
struct FullPipe {
  FullPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    reading = ends[0];
    writing = ends[1];
    ::fcntl(writing, F_SETPIPE_SZ, 4096);  // the least a pipe holds
    ::fcntl(writing, F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    for (ssize_t put; (put = ::write(writing, filler.data(), filler.size())) > 0;) filled += put;
    ::fcntl(writing, F_SETFL, 0);  // the program's writes wait
  }
  ~FullPipe() {
    if (reading >= 0) ::close(reading);
    if (writing >= 0) ::close(writing);
  }
  FullPipe(const FullPipe&) = delete;
  FullPipe& operator=(const FullPipe&) = delete;

  int reading = -1;
  int writing = -1;
  ssize_t filled = 0;  // bytes of filler before what the program writes
};

// Whether a thread of process `pid` waits in a write to its descriptor `fd`
// (/proc names the call a thread is blocked in, and its arguments).
bool waitsWriting(pid_t pid, int fd) {
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream call(task.path() / "syscall");
    long number = -1;
    std::string first;
    if (call >> number >> first && (number == SYS_write || number == SYS_writev) &&
        first == "0x" + std::to_string(fd))
      return true;
  }
  return false;
}

// Reads more of `fd` into `text`: false at its end, or once `deadline` passed.
bool readMore(int fd, std::string& text, std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  pollfd readable{fd, POLLIN, 0};
  if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count()) + 1) <= 0) return false;
  char buffer[4096];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got <= 0) return false;
  text.append(buffer, static_cast<std::size_t>(got));
  return true;
}

// Reads `fd` until `text` holds `wanted`, for at most `limit`.
bool readUntil(int fd, const std::string& wanted, std::string& text, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (text.find(wanted) == std::string::npos) {
    if (!readMore(fd, text, deadline)) return false;
  }
  return true;
}

// Reads `fd` to its end, for at most `limit`.
void readToEnd(int fd, std::string& text, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (readMore(fd, text, deadline)) {
  }
}

// Ctrl+C, SIGTERM and SIGHUP stop the batch as Stop does, also after a FIFO
// named like a picture: the program lists what became of each picture and
// ends with status 1. The test holds the batch where it wants it: with
// --json each picture's line goes to standard output the moment the picture
// is finished, in list order, and that is a pipe the test has filled, so no
// picture after the FIFO can be finished before the test reads.
TEST_F(BatchProgram, SignalsStopTheBatchAfterAFifo) {
  ASSERT_EQ(::mkfifo(path("a.jpg").c_str(), 0600), 0);
  std::vector<std::string> arguments{"--json", "--lang", "FR", "--landscape-width", "30", "a.jpg"};
  for (int i = 0; i < 8; ++i) {
    arguments.push_back("p" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(writePicture(path(arguments.back()), 60, 40, image::kJpegEncoder));
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    FullPipe out;
    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    const pid_t pid = startProgram(work_, logs_, arguments, out.writing, 0, err[1]);
    ASSERT_GT(pid, 0);
    ::close(out.writing);
    out.writing = -1;
    ::close(err[1]);
    // The FIFO is finished, unreadable at once: its line waits for room.
    bool held = false;
    for (int i = 0; i < 60000 && !(held = waitsWriting(pid, 1)) &&
                    !pixmoor::testing::endsWithin(pid, std::chrono::milliseconds(0));
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(held) << "no line waiting after a minute";
    // To the main thread, where the kernel mostly delivers a process's
    // signal: under ThreadSanitizer one that lands on the thread blocked in
    // the write waits until that write returns, which here it never would.
    ::syscall(SYS_tgkill, pid, pid, signal);
    // The stop is answered (its text comes) before the batch may go on.
    std::string errText;
    EXPECT_TRUE(readUntil(err[0], "Arr\xC3\xAAt : ", errText, std::chrono::seconds(60))) << errText;
    std::string outText;
    readToEnd(out.reading, outText, std::chrono::seconds(60));
    readToEnd(err[0], errText, std::chrono::seconds(60));
    ::close(err[0]);
    EXPECT_EQ(exitWithin(pid, 60), 1);

    ASSERT_GE(outText.size(), static_cast<std::size_t>(out.filled));
    const auto objects = jsonLines(outText.substr(static_cast<std::size_t>(out.filled)));
    ASSERT_EQ(objects.size(), 10u) << outText;
    EXPECT_EQ(nameIn(objects[0], "source"), "a.jpg");
    EXPECT_EQ(objects[0]["reason"], "unreadable");
    EXPECT_EQ(nameIn(objects[8], "source"), "p7.jpg");
    EXPECT_EQ(objects[8]["outcome"], "stopped");
    EXPECT_EQ(objects[9]["exit_status"], 1);
    // The stop text, then what became of each picture that has no file.
    const auto said = lines(errText);
    const auto stopText = std::find_if(said.begin(), said.end(), [](const std::string& line) {
      return line.rfind("Arr\xC3\xAAt : ", 0) == 0;
    });
    ASSERT_NE(stopText, said.end()) << errText;
    const auto failures = std::find_if(stopText, said.end(), [](const std::string& line) {
      return line.find(".jpg: ") != std::string::npos;
    });
    ASSERT_NE(failures, said.end()) << errText;
    EXPECT_EQ(*failures, "a.jpg: unreadable");
    EXPECT_EQ(said.back(), "p7.jpg: stopped");
  }
}

// Output into a pipe whose reader has gone (`| head -1`): printing ends,
// the pictures are all written and the status is as usual.
TEST_F(BatchProgram, ClosedOutputEndsPrintingNotTheBatch) {
  std::vector<std::string> arguments{"--landscape-width", "40", "bad.jpg"};
  writeBytes(path("bad.jpg"), "no picture");
  for (int i = 0; i < 3; ++i) {
    arguments.push_back("p" + std::to_string(i) + ".png");
    ASSERT_TRUE(writePicture(path(arguments.back()), 80, 60, image::kPngEncoder));
  }
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ::close(pipe[0]);
  const pid_t pid = startProgram(work_, logs_, arguments, pipe[1]);
  ::close(pipe[1]);
  EXPECT_EQ(exitWithin(pid, 60), 1);
  EXPECT_EQ(readBytes(logs_.file("err")), "bad.jpg: unknown format\n");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(readPicture(path("prefix_p" + std::to_string(i) + ".jpg"))) << i;
}

// Under a limit on its address space the program takes a budget within it:
// a picture whose raster alone would pass it is refused with its reason,
// the others are written.
TEST_F(BatchProgram, PictureBeyondTheMemoryBudgetIsListed) {
  if (!pixmoor::testing::kAddressSpaceCapWorks) GTEST_SKIP() << "no address-space cap under a sanitizer";
  // 32767 x 32767 at 8 bits, each row painted by runs of 255 pixels: 8.5 MB
  // of data for a 3.2 GB raster.
  std::string bmp = "BM";
  const auto put32 = [&bmp](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<char>(v >> (8 * i)));
  };
  for (const std::uint32_t v : {0u, 0u, 14u + 40u + 1024u, 40u, 32767u, 32767u}) put32(v);
  bmp += std::string("\x01\0\x08\0", 4);
  for (const std::uint32_t v : {1u, 0u, 0u, 0u, 0u, 0u}) put32(v);
  for (std::uint32_t i = 0; i < 256; ++i) put32(i * 0x010101u);
  for (int y = 0; y < 32767; ++y) {
    for (int x = 0; x < 32767; x += 255)
      bmp += {static_cast<char>(std::min(255, 32767 - x)), static_cast<char>(y)};
    bmp += std::string(2, '\0');
  }
  writeBytes(path("bomb.bmp"), bmp);
  ASSERT_TRUE(writePicture(path("fine.jpg"), 400, 300, image::kJpegEncoder));
  const pid_t pid = startProgram(work_, logs_, {"--quiet", "bomb.bmp", "fine.jpg"}, -1, rlim_t{2} << 30);
  EXPECT_EQ(exitWithin(pid, 60), 1);
  EXPECT_EQ(readBytes(logs_.file("err")), "bomb.bmp: too large for the available memory\n");
  EXPECT_TRUE(readPicture(path("prefix_fine.jpg")));
}

// kill -9 at random moments of a batch that replaces its sources (prefix
// "0"): every source still decodes and is either its original or a whole
// output. Nothing else is left but, at most, the hidden temporary of a save
// that the kill cut short between naming it and renaming it over its
// picture (a file system without unnamed files names it from the start);
// the next run that writes that picture removes it. Then the same where the
// disk fills up.
class BatchCrash : public BatchProgram {
 protected:
  static constexpr int kPictures = 4;

  void makeOriginals(const fs::path& folder, int width, int height) {
    originals_.clear();
    for (int i = 0; i < kPictures; ++i) {
      const std::string source = (folder / ("p" + std::to_string(i) + ".jpg")).string();
      ASSERT_TRUE(
          writePicture(source, width, height, image::kJpegEncoder, static_cast<std::uint8_t>(60 * i)));
      originals_.push_back(readBytes(source));
    }
  }
  void restoreOriginals(const fs::path& folder) {
    for (int i = 0; i < kPictures; ++i)
      writeBytes((folder / ("p" + std::to_string(i) + ".jpg")).string(), originals_[i]);
  }
  // Runs the companion on `folder`, killing it after `killAfter` unless it ends first.
  void runAndKill(const fs::path& folder, int outputWidth, std::chrono::microseconds killAfter,
                  rlim_t fileLimit = 0) {
    letTheClockPass(folder);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 1);
      ::dup2(null, 2);
      if (fileLimit != 0) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
        const rlimit limit{fileLimit, fileLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      if (::chdir(work_.path().c_str()) != 0) ::_exit(127);
      const std::string width = std::to_string(outputWidth);
      ::execl(PIXMOOR_BATCH_PROGRAM, PIXMOOR_BATCH_PROGRAM, "--prefix", "0", "--landscape-width",
              width.c_str(), folder.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    pixmoor::testing::endChildWithin(pid, killAfter);
  }
  // A run takes as left behind only what is older than itself, by the coarse
  // clock that file times come from: the next one starts after that clock
  // has passed every file of the folder.
  static void letTheClockPass(const fs::path& folder) {
    timespec newest{};
    for (const auto& entry : fs::directory_iterator(folder)) {
      struct stat about {};
      if (::lstat(entry.path().c_str(), &about) == 0 &&
          std::pair(about.st_mtim.tv_sec, about.st_mtim.tv_nsec) > std::pair(newest.tv_sec, newest.tv_nsec))
        newest = about.st_mtim;
    }
    for (int i = 0; i < 1000; ++i) {
      timespec now{};
      ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
      if (std::pair(now.tv_sec, now.tv_nsec) > std::pair(newest.tv_sec, newest.tv_nsec)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Every source is its original or a whole output; nothing else is there
  // but a hidden temporary of a picture's save. Answers how many were
  // replaced; `leftovers` counts the temporaries.
  int checkSources(const fs::path& folder, int outputWidth, int* leftovers = nullptr) {
    std::vector<std::string> expected;
    for (int i = 0; i < kPictures; ++i) expected.push_back("p" + std::to_string(i) + ".jpg");
    std::vector<std::string> names;
    std::map<std::string, int> temporaries;  // per picture
    for (const std::string& name : folderNames(folder)) {
      if (std::regex_match(name, std::regex(R"(\.p[0-9]\.jpg\.pixmoor-[A-Za-z0-9]{6})"))) {
        ++temporaries[name.substr(1, 6)];
      } else {
        names.push_back(name);
      }
    }
    EXPECT_EQ(names, expected);
    for (const auto& [picture, count] : temporaries) {
      EXPECT_EQ(count, 1) << picture << ": an earlier temporary was not removed";
      if (leftovers != nullptr) ++*leftovers;
    }
    int replaced = 0;
    for (int i = 0; i < kPictures; ++i) {
      const std::string source = (folder / expected[i]).string();
      const std::string bytes = readBytes(source);
      if (bytes == originals_[i]) continue;
      ++replaced;
      EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9") << source << " is cut short";
      const auto facts = readPicture(source);
      EXPECT_TRUE(facts && facts->width == outputWidth) << source;
    }
    return replaced;
  }
  // A run to its end writes every picture again, and with it removes what an
  // earlier, killed run left: a temporary such a run would leave is planted
  // (made older than the run) when none of the kills happened to.
  void expectAWholeRunLeavesNothingElse(const fs::path& folder, int outputWidth, rlim_t fileLimit = 0) {
    restoreOriginals(folder);
    const fs::path planted = folder / ".p2.jpg.pixmoor-Ab3xYz";
    writeBytes(planted.string(), originals_[2].substr(0, originals_[2].size() / 2));
    const timespec past[2] = {{0, UTIME_OMIT}, {1, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, planted.c_str(), past, 0), 0);
    runAndKill(folder, outputWidth, std::chrono::seconds(120), fileLimit);
    int leftovers = 0;
    checkSources(folder, outputWidth, &leftovers);
    EXPECT_EQ(leftovers, 0);
  }

  std::vector<std::string> originals_;
};

TEST_F(BatchCrash, KilledAtRandomMomentsLosesNoPicture) {
  const fs::path folder = work_.path() / "pictures";
  fs::create_directory(folder);
  makeOriginals(folder, 2000, 1500);
  // One whole run gives the span over which the kills are spread.
  const auto start = std::chrono::steady_clock::now();
  runAndKill(folder, 1000, std::chrono::seconds(120));
  const auto span =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(checkSources(folder, 1000), kPictures);

  std::mt19937 random(7);
  int midway = 0;
  int leftovers = 0;
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE(trial);
    restoreOriginals(folder);
    runAndKill(folder, 1000, std::chrono::microseconds(random() % (span.count() + 1)));
    const int replaced = checkSources(folder, 1000, &leftovers);
    midway += replaced > 0 && replaced < kPictures;
  }
  std::printf("20 kills over %lld ms: %d left the batch part-way, %d temporaries seen\n",
              static_cast<long long>(span.count() / 1000), midway, leftovers);
  expectAWholeRunLeavesNothingElse(folder, 1000);
}

TEST_F(BatchCrash, AFullDiskLosesNoPicture) {
  // A small file system of its own where we may mount one, nearly filled;
  // elsewhere a limit on file sizes makes the outputs fail mid-write instead.
  const fs::path disk = work_.path() / "disk";
  const fs::path folder = disk / "pictures";
  fs::create_directory(disk);
  const bool mounted = ::geteuid() == 0 && ::mount("pixmoor-test", disk.c_str(), "tmpfs", 0, "size=4m") == 0;
  // Unmounted however the test ends, a failed assertion included.
  struct Unmount {
    std::string at;
    ~Unmount() {
      if (!at.empty()) ::umount2(at.c_str(), MNT_DETACH);
    }
  } const unmount{mounted ? disk.string() : std::string()};
  fs::create_directory(folder);
  makeOriginals(folder, 800, 600);
  std::uintmax_t used = 0;
  for (const auto& bytes : originals_) used += bytes.size();
  if (mounted)
    writeBytes((disk / "filler").string(), std::string((4u << 20) - used - 2 * originals_[0].size(), 'x'));
  std::mt19937 random(11);
  for (int trial = 0; trial < 6; ++trial) {
    SCOPED_TRACE(trial);
    restoreOriginals(folder);
    const auto killAfter = trial == 0 ? std::chrono::microseconds(std::chrono::seconds(120))
                                      : std::chrono::microseconds(random() % 300000);
    runAndKill(folder, 2400, killAfter, mounted ? 0 : 2 * originals_[0].size());
    const int replaced = checkSources(folder, 2400);
    if (trial == 0) {
      EXPECT_EQ(replaced, 0) << "the disk never filled up";
    }
  }
  // Even a run whose every write fails removes what a killed one left.
  expectAWholeRunLeavesNothingElse(folder, 2400, mounted ? 0 : 2 * originals_[0].size());
}

}  // namespace
}  // namespace pixmoor::batch

// The command-line companion, run as a program in a scratch folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "batch/intake.h"
#include "batch/output_path.h"
#include "batch/size_rules.h"
#include "batch_test_support.h"
#include "settings/settings.h"
#include "support/bounded_child.h"

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

class BatchProgram : public ::testing::Test {
 protected:
  ProgramRun run(const std::vector<std::string>& arguments) {
    std::string command = "cd " + quoted(work_.path().string()) + " && " + quoted(PIXMOOR_BATCH_PROGRAM);
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

  TempFolder work_;  // current folder of the program, and where pictures go
  TempFolder logs_;
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
  writeBytes(path("x.gif"), "GIF89a");
  const ProgramRun r = run({"x.gif", "scan.tiff"});
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
  {
    testing::registerCodecs();
    image::ImageStore store;
    for (const std::string& source : job) {
      const bool loaded = store.loadFromFile(1, source) != 0;
      const TargetSize target = targetSize(store.imageWidth(1), store.imageHeight(1), s);
      const image::ImageRecord* record = store.record(1);
      if (loaded && target.writesPicture() && record != nullptr && !record->isIcon) {
        expectedSizes[outputPath(source, "out_", "JPG")] = {target.width, target.height};
      } else {
        expectedFailures.push_back(source);
      }
      store.release(1);
    }
  }
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
  // One stderr line per picture without output, naming it and a reason.
  const auto err = lines(r.err);
  EXPECT_EQ(err.size(), expectedFailures.size());
  for (const std::string& source : expectedFailures) {
    const auto hit = std::find_if(err.begin(), err.end(), [&](const std::string& line) {
      return line.rfind(source + ": ", 0) == 0 && line.size() > source.size() + 2;
    });
    EXPECT_NE(hit, err.end()) << source;
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

// The companion started in the scratch folder with its output into `out`
// (the log file when -1) and, when given, a cap on its address space.
pid_t startProgram(const TempFolder& work, const TempFolder& logs, const std::vector<std::string>& arguments,
                   int out = -1, rlim_t addressSpace = 0) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (out < 0) out = ::open(logs.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open(logs.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ctrl+C, SIGTERM and SIGHUP stop the batch as Stop does, also after a FIFO
// named like a picture: the program prints what became of each picture and
// ends with status 1.
TEST_F(BatchProgram, SignalsStopTheBatchAfterAFifo) {
  ASSERT_EQ(::mkfifo(path("a.jpg").c_str(), 0600), 0);
  // Enlarged fourfold: each picture takes a while.
  std::vector<std::string> arguments{"--landscape-width", "6000", "a.jpg"};
  for (int i = 0; i < 8; ++i) {
    arguments.push_back("p" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(writePicture(path(arguments.back()), 3000, 2000, image::kJpegEncoder));
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    writeBytes(logs_.file("out"), "");
    const pid_t pid = startProgram(work_, logs_, arguments);
    ASSERT_GT(pid, 0);
    // Once the pictures after the FIFO are under way.
    for (int i = 0; i < 1000 && readBytes(logs_.file("out")).find("fix_p") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, signal);
    EXPECT_EQ(exitWithin(pid, 10), 1);
    const auto err = lines(readBytes(logs_.file("err")));
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.front(), "a.jpg: unreadable");
    EXPECT_EQ(err.back(), "p7.jpg: stopped");
    EXPECT_EQ(lines(readBytes(logs_.file("out"))).back().rfind("Arr\xC3\xAAt : ", 0), 0u);
  }
}

// Output into a pipe whose reader has gone (`| head -1`): printing ends,
// the pictures are all written and the status is as usual.
TEST_F(BatchProgram, ClosedOutputEndsPrintingNotTheBatch) {
  std::vector<std::string> arguments{"--landscape-width", "40", "missing.jpg"};
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
  EXPECT_EQ(readBytes(logs_.file("err")), "missing.jpg: unreadable\n");
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
// output, and no other file is left. Then the same where the disk fills up.
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
    const auto deadline = std::chrono::steady_clock::now() + killAfter;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  // Every source is its original or a whole output; nothing else is there.
  // Answers how many were replaced.
  int checkSources(const fs::path& folder, int outputWidth) {
    std::vector<std::string> expected;
    for (int i = 0; i < kPictures; ++i) expected.push_back("p" + std::to_string(i) + ".jpg");
    EXPECT_EQ(folderNames(folder), expected);
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

  std::vector<std::string> originals_;
};

TEST_F(BatchCrash, KilledAtRandomMomentsLosesNoPicture) {
  const fs::path folder = work_.path() / "pictures";
  fs::create_directory(folder);
  makeOriginals(folder, 4000, 3000);
  // One whole run gives the span over which the kills are spread.
  const auto start = std::chrono::steady_clock::now();
  runAndKill(folder, 2000, std::chrono::seconds(120));
  const auto span =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(checkSources(folder, 2000), kPictures);

  std::mt19937 random(7);
  int midway = 0;
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE(trial);
    restoreOriginals(folder);
    runAndKill(folder, 2000, std::chrono::microseconds(random() % (span.count() + 1)));
    const int replaced = checkSources(folder, 2000);
    midway += replaced > 0 && replaced < kPictures;
  }
  std::printf("20 kills over %lld ms: %d left the batch part-way\n",
              static_cast<long long>(span.count() / 1000), midway);
}

TEST_F(BatchCrash, AFullDiskLosesNoPicture) {
  // A small file system of its own where we may mount one, nearly filled;
  // elsewhere a limit on file sizes makes the outputs fail mid-write instead.
  const fs::path disk = work_.path() / "disk";
  const fs::path folder = disk / "pictures";
  fs::create_directory(disk);
  const bool mounted = ::geteuid() == 0 && ::mount("pixmoor-test", disk.c_str(), "tmpfs", 0, "size=4m") == 0;
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
  if (mounted) ::umount2(disk.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace pixmoor::batch

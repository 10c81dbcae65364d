// The order of --trash-originals, seen from outside the program: ended by
// kill -9 at any step, each name still holds a whole picture and each
// original is at its name, beside it under a hidden name, or in the Trash
// with a record that restores it there; a later run finishes what the killed
// one left. A rename that fails at the end puts the original back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_test_support.h"
#include "support/failing_calls.h"
#include "support/temp_folder.h"
#include "support/traced_child.h"
#include "support/trash_record.h"

namespace pixmoor::companion {
namespace {

namespace fs = std::filesystem;
using pixmoor::testing::readBytes;
using pixmoor::testing::restoredTo;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;

constexpr int kSourceWidth = 160;
constexpr int kOutputWidth = 80;

struct stat statOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

class TrashOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(folder_);
    for (const char* name : {"a.jpg", "b.jpg"}) {
      ASSERT_TRUE(batch::testing::writePicture(folder_ / name, kSourceWidth, 120, image::kJpegEncoder,
                                               static_cast<std::uint8_t>(name[0])));
      originals_[name] = readBytes(folder_ / name);
    }
  }

  // Back to the pictures' originals and an empty Trash.
  void restore() {
    fs::remove_all(folder_);
    fs::remove_all(trash_);
    fs::create_directory(folder_);
    for (const auto& [name, bytes] : originals_) writeBytes(folder_ / name, bytes);
  }

  // In the child: the program on the folder's pictures, replacing them and
  // sending the originals to the test's own Trash (`traced`: under ptrace).
  void exec(bool traced = false) const {
    const int out = ::open(logs_.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(logs_.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int nothing = ::open("/dev/null", O_RDONLY);
    ::dup2(nothing, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(folder_.c_str()) != 0) ::_exit(127);
    const std::string home = "HOME=" + home_.path().string();
    const std::string data = "XDG_DATA_HOME=" + home_.file("data");
    // The leak check stops the program's threads through ptrace, which a
    // traced program cannot do.
    const char* const environment[] = {home.c_str(), data.c_str(), "LANG=C",
                                       traced ? "ASAN_OPTIONS=detect_leaks=0" : nullptr, nullptr};
    const std::string width = std::to_string(kOutputWidth);
    // One thread: the same steps in the same order on every run.
    const char* const arguments[] = {
        PIXMOOR_BATCH_PROGRAM, "--quiet",           "--jobs",      "1",     "--prefix", "0",
        "--trash-originals",   "--landscape-width", width.c_str(), "a.jpg", "b.jpg",    nullptr};
    ::execve(PIXMOOR_BATCH_PROGRAM, const_cast<char* const*>(arguments),
             const_cast<char* const*>(environment));
  }

  // The program's exit status (-1 when a signal ended it); `before` runs in
  // the child first.
  int runToTheEnd(const std::function<void()>& before = [] {}) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      before();
      exec();
      ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  // The Trash's entries: name in files/ -> whether its record is there.
  std::map<std::string, bool> trashEntries() const {
    std::map<std::string, bool> entries;
    if (!fs::exists(trash_ / "files")) return entries;
    for (const auto& entry : fs::directory_iterator(trash_ / "files")) {
      const std::string name = entry.path().filename();
      entries[name] = fs::exists(trash_ / "info" / (name + ".trashinfo"));
    }
    return entries;
  }

  // The Trash's entries holding `bytes` whose record restores them to `name`.
  int inTheTrash(const std::string& name, const std::string& bytes) const {
    int found = 0;
    for (const auto& [entry, recorded] : trashEntries()) {
      found += recorded && readBytes(trash_ / "files" / entry) == bytes &&
               restoredTo(readBytes(trash_ / "info" / (entry + ".trashinfo"))) == (folder_ / name).string();
    }
    return found;
  }

  bool isWholeOutput(const std::string& path) const {
    const std::string bytes = readBytes(path);
    const auto facts = batch::testing::readPicture(path);
    return bytes.size() > 2 && bytes.substr(bytes.size() - 2) == "\xFF\xD9" && facts &&
           facts->width == kOutputWidth;
  }

  // What must hold at every instant: each name holds its original or a whole
  // output, and each original is at its name, hidden beside it, or restorable
  // from the Trash.
  void expectNothingLost() const {
    std::set<std::string> hidden;
    for (const auto& entry : fs::directory_iterator(folder_))
      if (entry.path().filename().string().front() == '.') hidden.insert(readBytes(entry.path()));
    for (const auto& [name, original] : originals_) {
      SCOPED_TRACE(name);
      const std::string path = folder_ / name;
      ASSERT_TRUE(fs::exists(path)) << "the name is empty";
      const bool atItsName = readBytes(path) == original;
      EXPECT_TRUE(atItsName || isWholeOutput(path))
          << "the name holds neither the original nor a whole output";
      EXPECT_TRUE(atItsName || hidden.count(original) != 0 || inTheTrash(name, original) != 0)
          << "the original is lost";
    }
  }

  // What a whole run leaves: whole outputs and nothing else beside them;
  // each original once in the Trash, restorable to its name; no entry without
  // its record, no record without its entry, no file twice.
  void expectFinished() const {
    std::vector<std::string> names;
    for (const auto& [name, original] : originals_) names.push_back(name);
    EXPECT_EQ(batch::testing::folderNames(folder_), names);
    for (const auto& [name, original] : originals_) {
      SCOPED_TRACE(name);
      EXPECT_TRUE(isWholeOutput(folder_ / name));
      EXPECT_EQ(inTheTrash(name, original), 1);
    }
    std::set<ino_t> files;
    for (const auto& [entry, recorded] : trashEntries()) {
      EXPECT_TRUE(recorded) << entry << " has no record";
      EXPECT_TRUE(files.insert(statOf(trash_ / "files" / entry).st_ino).second) << entry << " twice";
    }
    if (fs::exists(trash_ / "info")) {
      for (const auto& record : fs::directory_iterator(trash_ / "info"))
        EXPECT_TRUE(fs::exists(trash_ / "files" / record.path().stem())) << record.path() << " has no entry";
    }
  }

  // Until the clock a run starts by has passed every file time the killed
  // run could have left: the later run then tells those leftovers from its
  // own work.
  static void waitUntilLeftoversAreOlder() {
    struct timespec killed {};
    ::clock_gettime(CLOCK_REALTIME, &killed);
    struct timespec now {};
    do {
      ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    } while (now.tv_sec < killed.tv_sec || (now.tv_sec == killed.tv_sec && now.tv_nsec <= killed.tv_nsec));
  }

  TempFolder work_;
  TempFolder logs_;
  TempFolder home_;
  fs::path folder_ = work_.path() / "pictures";
  fs::path trash_ = home_.path() / "data" / "Trash";
  std::map<std::string, std::string> originals_;
};

// Each trial ends the program at one step: before one of its changes to a
// name (each once, as far as two thirds of the trials go), or before a
// system call drawn at random; then a run to the end finishes the work. 40
// trials, 8 under CI.
TEST_F(TrashOrder, KilledAtAnyStepLosesNothingAndALaterRunFinishes) {
  const pixmoor::testing::TracedRun whole = pixmoor::testing::runTraced([this] { exec(true); }, {});
  if (!whole.started) GTEST_SKIP() << "no ptrace here";
  ASSERT_EQ(whole.status, 0) << readBytes(logs_.file("err"));
  expectFinished();
  ASSERT_GT(whole.nameChanges, 0);

  const int trials = std::getenv("CI") != nullptr ? 8 : 40;
  std::mt19937 random(24);
  std::vector<int> steps;
  for (int step = 1; step <= whole.nameChanges; ++step) steps.push_back(step);
  std::shuffle(steps.begin(), steps.end(), random);
  steps.resize(std::min(steps.size(), static_cast<std::size_t>(trials * 2 / 3)));
  int killed = 0;
  for (int trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE(trial);
    restore();
    pixmoor::testing::KillPoint at;
    if (static_cast<std::size_t>(trial) < steps.size()) {
      at.nameChange = steps[static_cast<std::size_t>(trial)];
    } else {
      at.call = 1 + static_cast<int>(random() % static_cast<unsigned>(whole.calls));
    }
    SCOPED_TRACE("before name change " + std::to_string(at.nameChange) + ", call " + std::to_string(at.call));
    const pixmoor::testing::TracedRun run = pixmoor::testing::runTraced([this] { exec(true); }, at);
    ASSERT_TRUE(run.started);
    killed += run.killed;
    expectNothingLost();
    waitUntilLeftoversAreOlder();
    EXPECT_EQ(runToTheEnd(), 0) << readBytes(logs_.file("err"));
    expectFinished();
  }
  std::printf("%d trials over %d changes of a name and %d system calls: %d killed\n", trials,
              whole.nameChanges, whole.calls, killed);
}

// The final rename refused (as a failing disk or a vanished folder would):
// the original stays at its name, nothing stays in the Trash, and the
// picture is reported with the rename's reason.
TEST_F(TrashOrder, AFailedRenamePutsTheOriginalBack) {
  const int status = runToTheEnd([] {
    if (!pixmoor::testing::failCalls(pixmoor::testing::plainRenames(), EIO)) ::_exit(125);
  });
  if (status == 125) GTEST_SKIP() << "no seccomp filter here";
  EXPECT_EQ(status, 1);
  EXPECT_EQ(readBytes(logs_.file("err")), "a.jpg: write failed\nb.jpg: write failed\n");
  for (const auto& [name, original] : originals_) EXPECT_EQ(readBytes(folder_ / name), original) << name;
  EXPECT_EQ(batch::testing::folderNames(folder_), (std::vector<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_TRUE(trashEntries().empty());
  EXPECT_TRUE(!fs::exists(trash_ / "info") || fs::is_empty(trash_ / "info"));
}

}  // namespace
}  // namespace pixmoor::companion

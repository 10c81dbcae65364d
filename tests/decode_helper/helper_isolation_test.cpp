// The decode helper through the real programs: the GIF corpus read by the
// shipped pixmoor-decode comes back as this process reads it; a variant
// whose readers misbehave on command (trigger_helper_main.cpp) crashes,
// aborts, outgrows its memory, opens a file and starts a program, each
// inside a batch of pixmoor-batch whose other pictures complete; and a
// helper held in the middle of a picture is killed by a cancel.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "foreign/gif_reader.h"
#include "image/header_probe.h"
#include "image/helper_decode.h"
#include "image/helper_protocol.h"
#include "image/load_picture.h"
#include "image/resample.h"
#include "support/batch_program.h"
#include "support/temp_folder.h"

namespace pixmoor::image {
namespace {

using testing::TempFolder;

constexpr std::uint64_t kBudget = std::uint64_t{256} << 20;

std::string dataFile(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/gif/" + relative;
}

std::string trigger(const std::string& word) {
  return "GIF89a!trigger:" + word + "\n";
}

LoadRequest companionLoad(const ReduceTo* reduce, const CancelFlag* cancel = nullptr) {
  return {{kBudget, cancel}, reduce, FormatSet::companion};
}

// What this process makes of the file: the GIF reader here, the whole
// picture resampled to a smaller target as the batch resamples.
LoadedPicture readHere(const std::string& path, std::optional<PictureSize> target) {
  PictureFile file(path, FormatSet::companion);
  FormatDescriptor gif = *file.format();
  gif.read = foreign::readGif;
  PictureInput input(file.descriptor(), file.size());
  LoadedPicture loaded = readPicture(gif, input, companionLoad(nullptr), ReadUpTo::picture);
  if (!loaded.loaded()) return loaded;
  const PictureSize size = returnedSize(loaded.picture.source, target);
  if (size.width != loaded.picture.raster->width || size.height != loaded.picture.raster->height)
    loaded.picture.raster = resampledCopy(*loaded.picture.raster, size.width, size.height);
  return loaded;
}

void expectSamePicture(const LoadedPicture& helper, const LoadedPicture& here) {
  ASSERT_EQ(helper.status, here.status);
  EXPECT_EQ(helper.headerTaken, here.headerTaken);
  if (!here.loaded()) return;
  const Raster& a = *helper.picture.raster;
  const Raster& b = *here.picture.raster;
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  ASSERT_EQ(a.depth, b.depth);
  for (int y = 0; y < a.height; ++y)
    ASSERT_EQ(0, std::memcmp(a.storageRow(y), b.storageRow(y), pictureRowBytes(a))) << "row " << y;
  EXPECT_EQ(helper.picture.source.width, here.picture.source.width);
  EXPECT_EQ(helper.picture.source.height, here.picture.source.height);
  EXPECT_EQ(helper.picture.sourceDepth, here.picture.sourceDepth);
  EXPECT_EQ(helper.picture.partial, here.picture.partial);
  EXPECT_EQ(helper.picture.iccProfile, here.picture.iccProfile);
}

// Every file of the corpus, whole and reduced, and its header for a plan.
TEST(DecodeHelper, TheGifCorpusComesBackAsThisProcessReadsIt) {
  setDecodeHelperProgram(PIXMOOR_DECODE_HELPER);
  int files = 0;
  for (const char* folder : {"good", "questionable", "bad"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dataFile(folder))) {
      const std::string path = entry.path().string();
      SCOPED_TRACE(path);
      ++files;
      const LoadedPicture whole = loadPicture(path, companionLoad(nullptr));
      expectSamePicture(whole, readHere(path, std::nullopt));

      std::optional<PictureSize> target;
      const ReduceTo reduce = [&target](int width, int height) {
        target = PictureSize{std::max(1, width / 3), std::max(1, height / 2)};
        return target;
      };
      const LoadedPicture reduced = loadPicture(path, companionLoad(&reduce));
      expectSamePicture(reduced, readHere(path, target));

      const PictureHeader header = probePictureFile(path, companionLoad(nullptr));
      if (whole.headerTaken) {
        EXPECT_EQ(header.status, LoadStatus::loaded);
        EXPECT_EQ(header.width, whole.picture.source.width);
        EXPECT_EQ(header.height, whole.picture.source.height);
      } else {
        EXPECT_EQ(header.status, whole.status);
      }
    }
  }
  EXPECT_GT(files, 25);
}

struct Process {
  std::string name;
  char state = 0;  // R, S, Z...
  pid_t parent = 0;
};

// A process as /proc shows it; nullopt once it is gone.
std::optional<Process> processOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  const std::size_t close = line.rfind(')');
  const std::size_t open = line.find('(');
  if (close == std::string::npos || open == std::string::npos) return std::nullopt;
  Process process;
  process.name = line.substr(open + 1, close - open - 1);
  std::istringstream rest(line.substr(close + 2));
  rest >> process.state >> process.parent;
  return process;
}

std::map<pid_t, Process> processes() {
  std::map<pid_t, Process> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (const std::optional<Process> process = processOf(pid)) found[pid] = *process;
  }
  return found;
}

// The helpers decoding for this process: forks of its spawner.
std::vector<pid_t> helpersOfThisProcess() {
  const auto all = processes();
  std::vector<pid_t> found;
  for (const auto& [pid, process] : all) {
    const auto parent = all.find(process.parent);
    if (parent != all.end() && parent->second.parent == ::getpid() &&
        parent->second.name == "pixmoor-spawner" && process.name.starts_with("pixmoor-decode"))
      found.push_back(pid);
  }
  return found;
}

TEST(DecodeHelper, ACancelKillsAHelperHeldInTheMiddleOfItsPicture) {
  setDecodeHelperProgram(PIXMOOR_TRIGGER_HELPER);
  TempFolder folder;
  const std::string path = folder.file("held.gif");
  testing::writeBytes(path, trigger("hold"));

  std::mutex mutex;
  std::condition_variable changed;
  bool headerCame = false;
  const ReduceTo reduce = [&](int, int) {
    const std::lock_guard lock(mutex);
    headerCame = true;
    changed.notify_all();
    return std::optional<PictureSize>{};
  };
  CancelFlag cancel{false};
  LoadedPicture loaded;
  std::thread load([&] { loaded = loadPicture(path, companionLoad(&reduce, &cancel)); });
  {
    std::unique_lock lock(mutex);
    // The bound only keeps a broken run from hanging.
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::minutes(2), [&] { return headerCame; }));
  }
  const std::vector<pid_t> held = helpersOfThisProcess();
  ASSERT_EQ(held.size(), 1u);
  cancel = true;
  load.join();
  EXPECT_EQ(loaded.status, LoadStatus::cancelled);
  EXPECT_FALSE(loaded.picture.raster);
  // Killed: ended when the load returned, and reaped by the kernel in the
  // moment after (the bound only keeps a broken run from hanging).
  const std::optional<Process> after = processOf(held.front());
  EXPECT_TRUE(!after || after->state == 'Z' || after->state == 'X') << after->state;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (::kill(held.front(), 0) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_EQ(errno, ESRCH);
}

TEST(DecodeHelper, ASpawnerThatDiedIsReplacedForTheNextPicture) {
  setDecodeHelperProgram(PIXMOOR_DECODE_HELPER);
  const std::string path = dataFile("good/pil_hopper.gif");
  ASSERT_EQ(loadPicture(path, companionLoad(nullptr)).status, LoadStatus::loaded);
  std::vector<pid_t> spawners;
  for (const auto& [pid, process] : processes()) {
    if (process.parent == ::getpid() && process.name == "pixmoor-spawner") spawners.push_back(pid);
  }
  ASSERT_EQ(spawners.size(), 1u);
  ::kill(spawners.front(), SIGKILL);
  EXPECT_EQ(loadPicture(path, companionLoad(nullptr)).status, LoadStatus::loaded);
}

// Through pixmoor-batch, beside which the variant stands as its helper.
TEST(DecodeHelper, EachMisbehaviourGivesItsReasonWhileTheBatchCompletesTheOthers) {
  testing::BatchProgramFolder batch;
  testing::writeBytes(batch.path("secret.txt"), "nothing for a decoder");
  std::map<std::string, std::string> expected = {
      {"a_good.gif", ""},       {"crash.gif", "damaged"},
      {"abort.gif", "damaged"}, {"open.gif", "unknown-format"},  // refused by the filter with EACCES
      {"exec.gif", "damaged"},                                   // killed by the filter
      {"z_good.gif", ""},
  };
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // The sanitizers' shadow memory leaves no room for an address-space limit.
  expected["hog.gif"] = "too-large-for-memory";
  testing::writeBytes(batch.path("hog.gif"), trigger("hog"));
#endif
  std::filesystem::copy_file(dataFile("good/pil_hopper.gif"), batch.path("a_good.gif"));
  std::filesystem::copy_file(dataFile("good/igif_alpha_gif_a.gif"), batch.path("z_good.gif"));
  testing::writeBytes(batch.path("crash.gif"), trigger("segv"));
  testing::writeBytes(batch.path("abort.gif"), trigger("abort"));
  testing::writeBytes(batch.path("open.gif"), trigger("open:" + batch.path("secret.txt")));
  testing::writeBytes(batch.path("exec.gif"), trigger("exec"));

  const testing::ProgramRun run =
      batch.run({"--json", "--format", "png", "--size", "40x30", "--prefix", "out_", "."});
  EXPECT_EQ(run.status, 1) << run.err;
  std::map<std::string, std::string> reasons;
  for (const nlohmann::json& line : testing::jsonLinesOf(run.out)) {
    if (line["type"] != "picture") continue;
    const std::string source = std::filesystem::path(testing::nameIn(line, "source")).filename();
    reasons[source] = line["reason"].is_null() ? "" : line["reason"].get<std::string>();
  }
  EXPECT_EQ(reasons, expected) << run.out << run.err;
  for (const auto& [name, reason] : expected)
    EXPECT_EQ(
        std::filesystem::exists(batch.path("out_" + std::filesystem::path(name).stem().string() + ".png")),
        reason.empty())
        << name;
}

}  // namespace
}  // namespace pixmoor::image

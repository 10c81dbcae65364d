// The decode helper through the real programs: the GIF corpus read by the
// shipped pixmoor-decode comes back as this process reads it; a variant
// whose readers misbehave on command (trigger_helper_main.cpp) crashes,
// aborts, outgrows its memory, and tries, once confined, what a taken-over
// decoder would (open, stat, write to the terminal, connect, fork, exec,
// executable memory, a call of another architecture), each inside a batch
// of pixmoor-batch whose other pictures complete; a helper held in the
// middle of a picture is killed by a cancel, and one that keeps still by
// its deadline; a crash leaves no core file and retires its spawner; an
// inherited address-space limit still lets pictures decode; and a machine
// that refuses the filter gets no picture decoded unconfined.
#include <gtest/gtest.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "codecs/header_probe.h"
#include "codecs/load_picture.h"
#include "decode_helper/confinement.h"
#include "isolated_readers/gif_reader.h"
#include "resample/resample.h"
#include "sandbox/decode_client.h"
#include "sandbox/helper_protocol.h"
#include "sandbox/spawner_client.h"
#include "support/batch_program.h"
#include "support/temp_folder.h"
#include "support/under_sanitizer.h"

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

std::vector<pid_t> spawnersOfThisProcess() {
  std::vector<pid_t> spawners;
  for (const auto& [pid, process] : processes()) {
    if (process.parent == ::getpid() && process.name == "pixmoor-spawner" && process.state != 'Z')
      spawners.push_back(pid);
  }
  return spawners;
}

TEST(DecodeHelper, ASpawnerThatDiedIsReplacedForTheNextPicture) {
  setDecodeHelperProgram(PIXMOOR_DECODE_HELPER);
  const std::string path = dataFile("good/pil_hopper.gif");
  ASSERT_EQ(loadPicture(path, companionLoad(nullptr)).status, LoadStatus::loaded);
  const std::vector<pid_t> spawners = spawnersOfThisProcess();
  ASSERT_EQ(spawners.size(), 1u);
  ::kill(spawners.front(), SIGKILL);
  EXPECT_EQ(loadPicture(path, companionLoad(nullptr)).status, LoadStatus::loaded);
}

// A file written to while its helper reads it is known for it, as a file
// read in this process is: without a prefix it must not replace itself.
TEST(DecodeHelper, AFileThatChangesWhileItsHelperReadsItIsSaidToHaveChanged) {
  setDecodeHelperProgram(PIXMOOR_TRIGGER_HELPER);
  TempFolder folder;
  const std::string path = folder.file("growing.gif");
  testing::writeBytes(path, trigger("grow"));
  LoadedPicture loaded;
  std::thread load([&] { loaded = loadPicture(path, companionLoad(nullptr)); });
  // Once its helper runs, the file is open: then it grows. (The bound only
  // keeps a broken run from hanging.)
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (helpersOfThisProcess().empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  std::ofstream(path, std::ios::app) << "more";
  load.join();
  EXPECT_EQ(loaded.status, LoadStatus::loaded);
  EXPECT_TRUE(loaded.changedWhileRead);
}

// Its forks share its layout and canary: a helper that died by a signal
// leaves them to a fresh spawner, and the old one ends. One that ended
// cleanly keeps it.
TEST(DecodeHelper, AHelperThatDiesByASignalRetiresItsSpawner) {
  setDecodeHelperProgram(PIXMOOR_TRIGGER_HELPER);
  TempFolder folder;
  const std::string good = dataFile("good/pil_hopper.gif");
  ASSERT_EQ(loadPicture(good, companionLoad(nullptr)).status, LoadStatus::loaded);
  const std::vector<pid_t> first = spawnersOfThisProcess();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(loadPicture(good, companionLoad(nullptr)).status, LoadStatus::loaded);
  EXPECT_EQ(spawnersOfThisProcess(), first);
#ifdef PIXMOOR_UNDER_SANITIZER
  // The sanitizers turn a SIGSEGV into a report and an exit.
  const std::vector<const char*> words = {"abort", "exec"};
#else
  const std::vector<const char*> words = {"segv", "abort", "exec"};
#endif
  for (const char* word : words) {
    SCOPED_TRACE(word);
    const std::vector<pid_t> before = spawnersOfThisProcess();
    const std::string path = folder.file(std::string(word) + ".gif");
    testing::writeBytes(path, trigger(word));
    EXPECT_NE(loadPicture(path, companionLoad(nullptr)).status, LoadStatus::loaded);
    EXPECT_TRUE(spawnersOfThisProcess().empty());  // retired and reaped
    ASSERT_EQ(loadPicture(good, companionLoad(nullptr)).status, LoadStatus::loaded);
    const std::vector<pid_t> after = spawnersOfThisProcess();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after, before);
  }
}

// Whether this kernel lets an unprivileged process have a user namespace of
// its own, tried in a child.
[[maybe_unused]] bool kernelAllowsUserNamespaces() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) == 0 ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The sandboxes a spawner may report here. Under ThreadSanitizer the
// probe above and the spawner may differ (only a single-threaded process
// may enter a user namespace, and the runtime has threads of its own): both.
std::set<std::string> expectedSandboxes() {
#ifdef PIXMOOR_UNDER_THREAD_SANITIZER
  return {"namespaces+seccomp", "seccomp"};
#else
  return {kernelAllowsUserNamespaces() ? "namespaces+seccomp" : "seccomp"};
#endif
}

std::string namespaceOf(const std::string& process, const char* kind) {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/" + process + "/ns/" + kind, error).string();
}

// Where the kernel allows it, the helpers are forked from a spawner in a
// user, mount and network namespace of its own whose root is empty.
TEST(DecodeHelper, TheSpawnerHasAnEmptyRootInNamespacesOfItsOwn) {
  setDecodeHelperProgram(PIXMOOR_DECODE_HELPER);
  ASSERT_EQ(loadPicture(dataFile("good/pil_hopper.gif"), companionLoad(nullptr)).status, LoadStatus::loaded);
  if (helperSandbox() != HelperSandbox::namespacesAndSeccomp) {
    EXPECT_EQ(expectedSandboxes().count("seccomp"), 1u);
    GTEST_SKIP() << "the helpers have their filter alone here";
  }
  EXPECT_EQ(expectedSandboxes().count("namespaces+seccomp"), 1u);
  const std::vector<pid_t> spawners = spawnersOfThisProcess();
  ASSERT_EQ(spawners.size(), 1u);
  const std::string spawner = std::to_string(spawners.front());
  for (const char* kind : {"user", "mnt", "net"}) {
    EXPECT_FALSE(namespaceOf(spawner, kind).empty()) << kind;
    EXPECT_NE(namespaceOf(spawner, kind), namespaceOf("self", kind)) << kind;
  }
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/" + spawner + "/root"))
    ++entries;
  EXPECT_EQ(entries, 0);
}

// A helper that keeps still (waiting for ever, or stopped) ends at its
// picture's deadline, here a short one.
TEST(DecodeHelper, AHelperThatKeepsStillIsTimedOut) {
  setDecodeHelperProgram(PIXMOOR_TRIGGER_HELPER);
  setHelperTimeLimits({std::chrono::milliseconds(300), std::chrono::milliseconds(0)});
  TempFolder folder;
  for (const char* word : {"hold", "stop"}) {
    SCOPED_TRACE(word);
    const std::string path = folder.file(std::string(word) + ".gif");
    testing::writeBytes(path, trigger(word));
    const LoadedPicture loaded = loadPicture(path, companionLoad(nullptr));
    EXPECT_EQ(loaded.status, LoadStatus::timedOut);
    EXPECT_TRUE(helpersOfThisProcess().empty());
  }
  setHelperTimeLimits({});
}

// The filter as loaded, call by call, is the one docs/ARCHITECTURE.md
// describes: every call its table of the helper's calls names, and no other.
TEST(DecodeHelper, TheFilterIsTheOneTheArchitectureDescribes) {
  std::FILE* text = std::tmpfile();
  ASSERT_NE(text, nullptr);
  ASSERT_TRUE(decode_helper::writeFilterText(::fileno(text)));
  std::rewind(text);
  std::set<std::string> filtered;
  std::string previous, invalidArchitecture;
  char line[512];
  while (std::fgets(line, sizeof line, text) != nullptr) {
    const std::string_view said(line);
    if (previous.starts_with("# invalid architecture action")) invalidArchitecture = said;
    previous = said;
    const std::size_t at = said.find("syscall \"");
    if (at == std::string_view::npos) continue;
    const std::size_t from = at + 9;
    filtered.insert(std::string(said.substr(from, said.find('"', from) - from)));
  }
  std::fclose(text);
  // A call of another architecture ends the whole process, not one thread.
  EXPECT_EQ(invalidArchitecture, "action KILL_PROCESS;\n");

  std::ifstream doc(PIXMOOR_ARCHITECTURE_DOC);
  std::set<std::string> described;
  bool inTable = false;
  for (std::string row; std::getline(doc, row);) {
    if (row.starts_with("| Helper calls")) inTable = true;
    if (!inTable) continue;
    if (!row.starts_with("|")) break;
    // "| `read`, `pread64` | ..." : the first column's names.
    const std::string first = row.substr(1, row.find('|', 1) - 1);
    for (std::size_t open = first.find('`'); open != std::string::npos; open = first.find('`', open)) {
      const std::size_t close = first.find('`', open + 1);
      const std::string call = first.substr(open + 1, close - open - 1);
      // A call this architecture does not have (open on arm64) is not in its filter.
      if (seccomp_syscall_resolve_name(call.c_str()) != __NR_SCMP_ERROR) described.insert(call);
      open = close + 1;
    }
  }
#ifdef PIXMOOR_UNDER_SANITIZER
  described.insert("pipe2");  // the sanitizers' own pipe
#endif
  EXPECT_GT(filtered.size(), 40u);
  EXPECT_EQ(filtered, described);
}

#if defined(__x86_64__)
// Whether an int 0x80 is a system call here (a kernel without IA32
// emulation answers it with SIGSEGV), tried in a child.
bool kernelTakes32BitCalls() {
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGSEGV, SIG_DFL);  // not a sanitizer's report
    long result = 20;            // getpid
    asm volatile("int $0x80" : "+a"(result) : : "memory");
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

// Through pixmoor-batch, beside which the variant stands as its helper.
TEST(DecodeHelper, EachMisbehaviourGivesItsReasonWhileTheBatchCompletesTheOthers) {
  testing::BatchProgramFolder batch;
  testing::writeBytes(batch.path("secret.txt"), "nothing for a decoder");
  // Refused with an error the reader takes for an unknown format, or killed
  // by the filter: never done.
  std::map<std::string, std::string> expected = {
      {"a_good.gif", ""},
      {"crash.gif", "damaged"},
      {"abort.gif", "damaged"},
      {"open.gif", "unknown-format"},
      {"stat.gif", "unknown-format"},
      {"write2.gif", "unknown-format"},
      {"connect.gif", "sandbox-violation"},
      {"fork.gif", "sandbox-violation"},
      {"exec.gif", "sandbox-violation"},
      {"mmapexec.gif", "sandbox-violation"},
      {"threads.gif", ""},
      {"z_good.gif", ""},
  };
#if defined(__x86_64__)
  // Ends the whole helper, by the filter, or by the CPU when the kernel
  // has no 32-bit system calls.
  expected["badarch.gif"] = kernelTakes32BitCalls() ? "sandbox-violation" : "damaged";
  testing::writeBytes(batch.path("badarch.gif"), trigger("badarch"));
#endif
#ifndef PIXMOOR_UNDER_SANITIZER
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
  testing::writeBytes(batch.path("stat.gif"), trigger("stat:" + batch.path("secret.txt")));
  const std::string voice = "\x1b]52;c;aGVsbG8=\x07forged: written";
  testing::writeBytes(batch.path("write2.gif"), trigger("write2:" + voice));
  for (const char* word : {"connect", "fork", "mmapexec", "threads"})
    testing::writeBytes(batch.path(std::string(word) + ".gif"), trigger(word));

  const testing::ProgramRun run =
      batch.run({"--json", "--format", "png", "--size", "40x30", "--prefix", "out_", "."});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err.find("forged"), std::string::npos) << run.err;
  // Each failure has its line on standard error.
  for (const auto& [name, reason] : expected) {
    if (!reason.empty()) {
      EXPECT_NE(run.err.find(name + ": "), std::string::npos) << name << run.err;
    }
  }
  std::map<std::string, std::string> reasons;
  for (const nlohmann::json& line : testing::jsonLinesOf(run.out)) {
    if (line["type"] != "picture") continue;
    const std::string source = std::filesystem::path(testing::nameIn(line, "source")).filename();
    reasons[source] = line["reason"].is_null() ? "" : line["reason"].get<std::string>();
  }
  EXPECT_EQ(reasons, expected) << run.out << run.err;
  const nlohmann::json summary = testing::jsonLinesOf(run.out).back();
  EXPECT_EQ(expectedSandboxes().count(summary["sandbox"].get<std::string>()), 1u) << summary;
  for (const auto& [name, reason] : expected)
    EXPECT_EQ(
        std::filesystem::exists(batch.path("out_" + std::filesystem::path(name).stem().string() + ".png")),
        reason.empty())
        << name;
}

// A crash where the user runs the batch, with cores allowed: no core file,
// there or in the spawner's folder.
TEST(DecodeHelper, ACrashingHelperLeavesNoCoreFile) {
  std::ifstream patternFile("/proc/sys/kernel/core_pattern");
  std::string pattern;
  std::getline(patternFile, pattern);
  if (pattern.starts_with("|")) GTEST_SKIP() << "cores go to a program here: " << pattern;
  const auto cores = [](const std::filesystem::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename().string().starts_with("core")) found.insert(entry.path());
    }
    return found;
  };
  const std::set<std::string> rootBefore = cores("/");
  testing::BatchProgramFolder batch;
  batch.setShellPrefix("ulimit -c unlimited;");
  testing::writeBytes(batch.path("crash.gif"), trigger("segv"));
  const testing::ProgramRun run = batch.run({"--json", "--format", "png", "--size", "40x30", "crash.gif"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("\"damaged\""), std::string::npos) << run.out;
  EXPECT_TRUE(cores(batch.work()).empty());
  EXPECT_EQ(cores("/"), rootBefore);
}

// Under ulimit -v the helper's own limit is clamped to the one it inherited
// rather than refused.
TEST(DecodeHelper, AnInheritedAddressSpaceLimitStillLetsPicturesDecode) {
#ifdef PIXMOOR_UNDER_SANITIZER
  GTEST_SKIP() << "the sanitizers' shadow memory takes no address-space limit";
#endif
  testing::BatchProgramFolder batch;
  batch.setShellPrefix("ulimit -v 500000;");
  std::filesystem::copy_file(dataFile("good/pil_hopper.gif"), batch.path("a.gif"));
  const testing::ProgramRun run =
      batch.run({"--json", "--format", "png", "--size", "40x30", "--prefix", "out_", "a.gif"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(std::filesystem::exists(batch.path("out_a.png")));
}

// On a machine whose policy refuses seccomp filters the helper cannot
// confine itself: the picture is refused unread, said so on standard
// error, and the batch goes on with the pictures read in its own process.
TEST(DecodeHelper, AHelperThatCannotConfineItselfReadsNothing) {
  testing::BatchProgramFolder batch;
  batch.setShellPrefix(std::string("true; ") + PIXMOOR_REFUSE_CALLS + " seccomp --");
  std::filesystem::copy_file(dataFile("good/pil_hopper.gif"), batch.path("a.gif"));
  testing::writeBytes(batch.path("b.gif"), trigger("open:/etc/passwd"));
  const testing::ProgramRun run =
      batch.run({"--json", "--format", "png", "--size", "40x30", "--prefix", "out_", "a.gif", "b.gif"});
  EXPECT_EQ(run.status, 1) << run.err;
  std::map<std::string, std::string> reasons;
  for (const nlohmann::json& line : testing::jsonLinesOf(run.out)) {
    if (line["type"] == "picture") reasons[testing::nameIn(line, "source")] = line["reason"];
  }
  const std::map<std::string, std::string> expected = {{"a.gif", "not-confined"}, {"b.gif", "not-confined"}};
  EXPECT_EQ(reasons, expected) << run.out;
  EXPECT_NE(run.err.find("a.gif: "), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(batch.path("out_b.png")));
}

// Where the namespaces are refused, the filter alone confines the helpers:
// the pictures are read, and the batch says so once.
TEST(DecodeHelper, WithoutNamespacesTheFilterAloneConfinesAndTheBatchSaysSo) {
  testing::BatchProgramFolder batch;
  batch.setShellPrefix(std::string("true; ") + PIXMOOR_REFUSE_CALLS + " unshare --");
  std::filesystem::copy_file(dataFile("good/pil_hopper.gif"), batch.path("a.gif"));
  std::filesystem::copy_file(dataFile("good/igif_alpha_gif_a.gif"), batch.path("b.gif"));
  testing::writeBytes(batch.path("c.gif"), trigger("exec"));
  const testing::ProgramRun run = batch.run(
      {"--json", "--format", "png", "--size", "40x30", "--prefix", "out_", "a.gif", "b.gif", "c.gif"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(std::filesystem::exists(batch.path("out_a.png")));
  EXPECT_TRUE(std::filesystem::exists(batch.path("out_b.png")));
  EXPECT_FALSE(std::filesystem::exists(batch.path("out_c.png")));
  EXPECT_EQ(testing::jsonLinesOf(run.out).back()["sandbox"], "seccomp");
  const std::string said = "refuses unprivileged user namespaces";
  const std::size_t first = run.err.find(said);
  EXPECT_NE(first, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(said, first + 1), std::string::npos) << run.err;
}

// The children of `parent` named `name` (a prefix), as /proc shows them now.
std::vector<pid_t> childrenOf(pid_t parent, const std::string& name) {
  std::vector<pid_t> found;
  for (const auto& [pid, process] : processes()) {
    if (process.parent == parent && process.name.starts_with(name) && process.state != 'Z')
      found.push_back(pid);
  }
  return found;
}

// Whether `process` has a pidfd open: the companion, once a helper answered.
bool holdsAPidfd(pid_t process) {
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
    if (std::filesystem::read_symlink(entry.path(), error).string() == "anon_inode:[pidfd]") return true;
  }
  return false;
}

// A spawner that stops answering (stopped, here) holds no Stop: the batch
// ends, and every picture of the run is in the report, as stopped if need be.
TEST(DecodeHelper, AStopIsAnsweredWhileTheSpawnerKeepsStill) {
  testing::BatchProgramFolder batch;
  testing::writeBytes(batch.path("a.gif"), trigger("hold"));
  for (const char* name : {"b.gif", "c.gif", "d.gif"})
    std::filesystem::copy_file(dataFile("good/pil_hopper.gif"), batch.path(name));
  const pid_t program = batch.startProgram({"--json", "--jobs", "1", "--format", "png", "--size", "40x30",
                                            "--prefix", "out_", "a.gif", "b.gif", "c.gif", "d.gif"});
  // The held helper, once the companion holds its pidfd (it has answered),
  // then its spawner stopped and the helper killed: the next picture asks a
  // spawner that cannot answer. (The bound only keeps a broken run from hanging.)
  std::vector<pid_t> spawner, helper;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (helper.empty() && std::chrono::steady_clock::now() < deadline) {
    spawner = childrenOf(program, "pixmoor-spawner");
    if (spawner.size() == 1 && holdsAPidfd(program)) helper = childrenOf(spawner.front(), "pixmoor-decode");
    if (helper.empty()) std::this_thread::yield();
  }
  ASSERT_EQ(helper.size(), 1u);
  ::kill(spawner.front(), SIGSTOP);
  ::kill(helper.front(), SIGKILL);
  // The held picture reported: the next one is being asked of the stopped spawner.
  while (batch.keptOutput().find("a.gif") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ::kill(program, SIGTERM);
  const int status = testing::exitWithin(program, 120);
  ::kill(spawner.front(), SIGCONT);
  EXPECT_NE(status, -1);
  std::map<std::string, std::string> outcomes;
  for (const nlohmann::json& line : testing::jsonLinesOf(batch.keptOutput())) {
    if (line["type"] == "picture") outcomes[testing::nameIn(line, "source")] = line["outcome"];
  }
  EXPECT_EQ(outcomes.size(), 4u) << batch.keptOutput();
  for (const char* name : {"b.gif", "c.gif", "d.gif"}) EXPECT_EQ(outcomes[name], "stopped") << name;
}

}  // namespace
}  // namespace pixmoor::image

#include "sandbox/decode_client.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <optional>

#include "sandbox/helper_program.h"
#include "sandbox/helper_protocol.h"
#include "sandbox/spawner_client.h"

#ifndef PIXMOOR_DECODE_HELPER_INSTALLED
#error "PIXMOOR_DECODE_HELPER_INSTALLED must name the installed helper, relative to the installed programs"
#endif

namespace pixmoor::image {
namespace {

// A picture comes back through the pipe: a larger pipe takes it in fewer
// turns of both processes.
constexpr int kReplyPipeBytes = 1 << 20;

std::mutex programMutex;
std::string chosenProgram;  // set by a test; empty: found
HelperTimeLimits timeLimits;

std::string foundProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const std::filesystem::path beside = self.parent_path() / kHelperProgramName;
  if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  const std::filesystem::path installed =
      (self.parent_path() / PIXMOOR_DECODE_HELPER_INSTALLED).lexically_normal();
  if (::access(installed.c_str(), X_OK) == 0) return installed.string();
  return {};
}

void closeIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Writes all of `bytes`; a helper that died gives EPIPE, never a SIGPIPE
// that would end this process (tests and programs that do not ignore it).
bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  sigset_t pipeSignal, old;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
  bool written = true;
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      written = false;
      break;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(wrote));
  }
  if (!written && errno == EPIPE && !sigismember(&old, SIGPIPE)) {
    // The SIGPIPE this thread now has pending is taken here, not delivered.
    const timespec now{};
    while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return written;
}

// One helper process, from its start to its end.
class HelperProcess {
 public:
  HelperProcess(const std::string& program, int pictureFd, const CancelFlag* cancel) : cancel_(cancel) {
    std::array<int, 2> request{-1, -1}, reply{-1, -1};
    if (::pipe2(request.data(), O_CLOEXEC) != 0) {
      helper_.error = errno;
      return;
    }
    if (::pipe2(reply.data(), O_CLOEXEC) != 0) {
      helper_.error = errno;
      ::close(request[0]);
      ::close(request[1]);
      return;
    }
    toHelper_ = request[1];
    fromHelper_ = reply[0];
    ::fcntl(fromHelper_, F_SETPIPE_SZ, kReplyPipeBytes);  // only a hint
    helper_ = spawnHelper(program, request[0], reply[1], pictureFd, cancel);
    // Only the helper keeps its ends: its death then ends the reply pipe.
    ::close(request[0]);
    ::close(reply[1]);
  }

  ~HelperProcess() { end(); }
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  bool started() const { return helper_.pidfd >= 0; }
  int spawnError() const { return helper_.error; }
  int replies() const { return fromHelper_; }
  bool send(std::span<const std::uint8_t> bytes) { return writeAll(toHelper_, bytes); }

  // Kills the helper if it still runs and waits for its end.
  HelperEnding end() {
    closeIfOpen(toHelper_);
    closeIfOpen(fromHelper_);
    return endHelper(helper_, cancel_);
  }

 private:
  const CancelFlag* cancel_;
  SpawnedHelper helper_;
  int toHelper_ = -1;
  int fromHelper_ = -1;
};

using Clock = std::chrono::steady_clock;

// The helper's answers, waited for in slices: gives up at a cancel and at
// the deadline.
class PipeSource final : public ByteSource {
 public:
  PipeSource(int fd, const CancelFlag* cancel, Clock::time_point deadline)
      : fd_(fd), cancel_(cancel), deadline_(deadline) {}

  void setDeadline(Clock::time_point deadline) { deadline_ = deadline; }
  bool timedOut() const { return timedOut_; }

  bool read(std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      if (cancelled(cancel_)) return false;
      if (Clock::now() > deadline_) {
        timedOut_ = true;
        return false;
      }
      pollfd wait{fd_, POLLIN, 0};
      const int ready = ::poll(&wait, 1, static_cast<int>(kHelperWaitSlice.count()));
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      const ssize_t got = ::read(fd_, out.data() + done, out.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // the helper closed its end: it ended
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  const CancelFlag* cancel_;
  Clock::time_point deadline_;
  bool timedOut_ = false;
};

HelperTimeLimits currentTimeLimits() {
  const std::lock_guard lock(programMutex);
  return timeLimits;
}

// The deadline of a helper started at `start` whose picture is `upright`.
Clock::time_point deadlineFor(Clock::time_point start, const HelperTimeLimits& limits, PictureSize upright) {
  const double megapixels = static_cast<double>(upright.width) * static_cast<double>(upright.height) / 1e6;
  const auto forPixels =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double, std::milli>(
          megapixels * static_cast<double>(limits.perMegapixel.count())));
  return start + std::min<std::chrono::milliseconds>(limits.base + forPixels, kHelperMostTime);
}

// Why a helper ended before its last message.
LoadStatus statusOfEnd(const CancelFlag* cancel, const PipeSource& answers, const HelperEnding& ending) {
  if (cancelled(cancel)) return LoadStatus::cancelled;
  if (answers.timedOut()) return LoadStatus::timedOut;
  if (ending.bySignal(SIGSYS)) return LoadStatus::sandboxViolation;
  return LoadStatus::damaged;
}

std::optional<PictureSize> validTarget(std::optional<PictureSize> target) {
  if (target && target->width >= 1 && target->width <= kMaxSide && target->height >= 1 &&
      target->height <= kMaxSide)
    return target;
  return std::nullopt;
}

}  // namespace

void setHelperTimeLimits(HelperTimeLimits limits) {
  const std::lock_guard lock(programMutex);
  timeLimits = limits;
}

void setDecodeHelperProgram(std::string path) {
  const std::lock_guard lock(programMutex);
  chosenProgram = std::move(path);
}

std::string decodeHelperProgram() {
  {
    const std::lock_guard lock(programMutex);
    if (!chosenProgram.empty()) return chosenProgram;
  }
  static const std::string found = foundProgram();
  return found;
}

LoadedPicture readInHelper(const FormatDescriptor& format, int fd, std::uint64_t fileSize,
                           const LoadRequest& request, ReadUpTo upTo) {
  LoadedPicture failed;
  const std::string program = decodeHelperProgram();
  if (program.empty()) {
    failed.status = LoadStatus::unsupported;
    return failed;
  }
  const Clock::time_point start = Clock::now();
  const HelperTimeLimits limits = currentTimeLimits();
  const CancelFlag* cancel = request.limits.cancel;
  HelperProcess helper(program, fd, cancel);
  if (!helper.started()) {
    const int error = helper.spawnError();
    failed.status = cancelled(cancel)                    ? LoadStatus::cancelled
                    : error == EMFILE || error == ENFILE ? LoadStatus::tooManyOpenFiles
                    : error == ENOMEM || error == EAGAIN ? LoadStatus::tooLargeForMemory
                                                         : LoadStatus::unsupported;
    return failed;
  }
  HelperRequest asked;
  asked.format = std::string(format.name);
  asked.fileSize = fileSize;
  asked.memoryBudget = request.limits.memoryBudget;
  asked.cpuSeconds = kHelperCpuSeconds;
  asked.upTo = upTo;
  // A helper that dies at once is seen when its answers do not come.
  helper.send(encodeRequest(asked));
  PipeSource answers(helper.replies(), cancel, deadlineFor(start, limits, {0, 0}));
  HelperReply reply = receiveDecode(answers, upTo, request.limits.memoryBudget, [&](PictureSize upright) {
    answers.setDeadline(deadlineFor(start, limits, upright));
    std::optional<PictureSize> target;
    if (request.reduce != nullptr && *request.reduce)
      target = validTarget((*request.reduce)(upright.width, upright.height));
    helper.send(encodeTarget(target));
    return target;
  });
  const HelperEnding ending = helper.end();
  LoadedPicture& loaded = reply.loaded;
  if (reply.ended) {
    loaded.status = statusOfEnd(cancel, answers, ending);
    loaded.picture.raster.reset();
  }
  return std::move(loaded);
}

}  // namespace pixmoor::image

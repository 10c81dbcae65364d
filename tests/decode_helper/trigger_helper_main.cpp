// A variant of pixmoor-decode for the isolation tests, never installed: the
// same session and confinement, with readers that misbehave on command.
// A file that starts "GIF89a!trigger:<word>" does what the word says, after
// the filter is in place, as a taken-over decoder would; any other file goes
// to the real reader of its format.
//   segv        writes through a null pointer
//   abort       aborts, as an assertion of a library does
//   hog         asks for far more memory than the picture's share
//               (a 1x1 picture should it get it)
//   open:PATH   opens PATH: refused (EACCES) answers an unknown format,
//               another refusal unsupported, success a 1x1 picture
//   exec        starts /bin/sh (a 1x1 picture should that fail and return)
//   stat:PATH   stats PATH by name, as newfstatat with AT_EMPTY_PATH can:
//               refused (EACCES) answers an unknown format, another error
//               unsupported, success a 1x1 picture
//   write2:TEXT writes TEXT to standard error: refused answers an unknown
//               format, success a 1x1 picture
//   connect     opens a Unix socket and connects it to the system log
//   fork        starts a process of its own
//   mmapexec    maps executable memory
//   badarch     a thread makes a 32-bit system call (int 0x80, x86-64
//               only) while the first thread waits for it
//   threads     runs four threads to their end, then answers a 1x1 picture
//   stop        sends its header, then stops itself (SIGSTOP)
//   grow        waits until its file holds more than it did (something
//               writes to it meanwhile), then answers a 1x1 picture
//   (connect, fork, mmapexec, badarch: a 1x1 picture should the call return)
//   hold        sends its header, then waits on its request pipe for ever
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "codecs/decoder.h"
#include "decode_helper/confinement.h"
#include "decode_helper/spawner.h"
#include "isolated_readers/foreign_readers.h"

namespace {

using namespace pixmoor;

constexpr std::string_view kTrigger = "GIF89a!trigger:";
image::FormatReader realReader = nullptr;

image::Reading failed(image::DecodeFailure failure) {
  image::Reading reading;
  reading.failure = failure;
  return reading;
}

image::Reading onePixel() {
  image::Reading reading;
  reading.header = image::HeaderFacts{{1, 1}};
  image::DecodedPicture picture;
  picture.raster = image::makeRaster(1, 1, 24);
  picture.source = {1, 1};
  picture.sourceDepth = 24;
  reading.picture = std::move(picture);
  return reading;
}

image::Reading misbehave(std::string_view word, image::PictureInput& input, const image::DecodeLimits& limits,
                         const image::ReduceTo* reduce) {
  if (word == "segv") {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  } else if (word == "abort") {
    std::abort();
  } else if (word == "hog") {
    const std::uint64_t wanted =
        limits.memoryBudget + decode_helper::kAddressSpaceAllowance + (std::uint64_t{1} << 30);
    // Kept where the compiler must store it, so the allocation happens.
    char* volatile block = new char[wanted];
    block[wanted - 1] = 1;
    delete[] block;
    return onePixel();  // the limit did not hold
  } else if (word.starts_with("open:")) {
    const std::string path(word.substr(5));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return onePixel();
    return failed(errno == EACCES ? image::DecodeFailure::unrecognised : image::DecodeFailure::tooLarge);
  } else if (word == "exec") {
    char* const arguments[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("true"),
                               nullptr};
    ::execv("/bin/sh", arguments);
    return onePixel();  // refused without ending the helper
  } else if (word.starts_with("stat:")) {
    const std::string path(word.substr(5));
    struct stat facts {};
    if (::fstatat(AT_FDCWD, path.c_str(), &facts, AT_EMPTY_PATH) == 0) return onePixel();
    return failed(errno == EACCES ? image::DecodeFailure::unrecognised : image::DecodeFailure::tooLarge);
  } else if (word.starts_with("write2:")) {
    const std::string_view text = word.substr(7);
    if (::write(2, text.data(), text.size()) > 0) return onePixel();
    return failed(image::DecodeFailure::unrecognised);
  } else if (word == "connect") {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un log{};
    log.sun_family = AF_UNIX;
    std::strcpy(log.sun_path, "/dev/log");
    ::connect(fd, reinterpret_cast<const sockaddr*>(&log), sizeof log);
    return onePixel();
  } else if (word == "fork") {
    if (::fork() == 0) ::_exit(0);
    return onePixel();
  } else if (word == "mmapexec") {
    void* code = ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (code != MAP_FAILED) return onePixel();
    return failed(image::DecodeFailure::unrecognised);
  } else if (word == "badarch") {
#if defined(__x86_64__)
    std::thread compat([] {
      long result = 20;  // getpid in the 32-bit table
      asm volatile("int $0x80" : "+a"(result) : : "memory");
    });
    compat.join();
#endif
    return onePixel();
  } else if (word == "threads") {
    std::vector<std::thread> workers;
    std::atomic<int> done{0};
    for (int i = 0; i < 4; ++i) workers.emplace_back([&done] { ++done; });
    for (std::thread& worker : workers) worker.join();
    return done == 4 ? onePixel() : failed(image::DecodeFailure::unrecognised);
  } else if (word == "grow") {
    const std::uint64_t size = input.size();
    char byte = 0;
    while (::pread(3, &byte, 1, static_cast<off_t>(size)) != 1) {
      const timespec pause{0, 1'000'000};
      ::nanosleep(&pause, nullptr);
    }
    return onePixel();
  } else if (word == "stop") {
    if (reduce != nullptr && *reduce) (*reduce)(1, 1);
    ::raise(SIGSTOP);
    return onePixel();
  } else if (word == "hold") {
    if (reduce != nullptr && *reduce) (*reduce)(1, 1);
    char never = 0;
    while (::read(0, &never, 1) != 0) {
    }
  }
  return failed(image::DecodeFailure::unrecognised);
}

image::Reading readWithTriggers(image::PictureInput& input, const image::DecodeLimits& limits,
                                const image::ReduceTo* reduce, image::ReadUpTo upTo) {
  const std::span<const std::uint8_t> head =
      input.bytes(0, static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), 256)));
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  if (!text.starts_with(kTrigger)) return realReader(input, limits, reduce, upTo);
  std::string_view word = text.substr(kTrigger.size());
  word = word.substr(0, word.find_first_of("\n"));
  return misbehave(word, input, limits, reduce);
}

image::FormatReader triggerReaderOf(std::string_view format) {
  realReader = foreign::foreignReader(format);
  return realReader == nullptr ? nullptr : readWithTriggers;
}

}  // namespace

int main(int argc, char** argv) {
  return decode_helper::runHelperProgram(argc, argv, triggerReaderOf);
}

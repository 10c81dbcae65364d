// Output files that appear whole or not at all.
//
// A TempOutput writes into an unnamed (or, where the file system cannot make
// one, a hidden ".<name>.pixmoor-XXXXXX") file in the target's own folder and
// puts it in place with one rename once everything is written and flushed to
// disk. Until commit() succeeds, the target path is never touched: a failed,
// cancelled or crashed write leaves an existing file of that name as it was
// and no partial file behind (the destructor removes the temporary file).
//
// A new file gets the mode of any new file, 0666 less the process umask; a
// file that replaces an existing one keeps that file's permission bits, as
// writing over it in place would.
// Every write, the flush, fsync and close are checked; the first failure
// sticks and makes commit() fail. One TempOutput belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pixmoor::image {

class TempOutput {
 public:
  enum class OpenError { None, EmptyPath, CannotCreate };
  // Auto takes an unnamed file where the system offers one; Named always
  // uses the hidden named file (the fallback, selectable for tests).
  enum class Kind { Auto, Named };

  // Makes the temporary file beside `targetPath`. Null on failure; `error`
  // says why: CannotCreate also when the target is a folder or a file this
  // process may not write. Nothing is created when this fails.
  static std::unique_ptr<TempOutput> create(const std::string& targetPath, OpenError* error = nullptr,
                                            Kind kind = Kind::Auto);

  // The named temporary file, empty while the file has no name.
  const std::string& temporaryPath() const { return tempPath_; }

  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // Appends bytes (buffered). False once any write has failed.
  bool write(const void* data, std::size_t size);
  bool failed() const { return failed_; }
  std::uint64_t bytesWritten() const { return written_ + buffer_.size(); }

  // Flushes, syncs, closes and renames the file over the target. False when
  // any step (or an earlier write) failed; the temporary file is then gone
  // and the target untouched.
  bool commit();

  // Throws the temporary file away (also done by the destructor).
  void discard();

 private:
  TempOutput() = default;
  bool flushBuffer();
  bool writeAll(const std::uint8_t* data, std::size_t size);

  int fd_ = -1;
  bool unnamed_ = false;      // made with O_TMPFILE: no name until commit
  std::string folder_;        // the target's folder ("." for a bare name)
  std::string target_;        // the full target path as given
  std::string tempPath_;      // named temporary file (empty while unnamed)
  std::vector<std::uint8_t> buffer_;
  std::uint64_t written_ = 0;
  bool failed_ = false;
  bool done_ = false;
};

}  // namespace pixmoor::image

// Where the image writers put their bytes. A writer only appends; whoever
// made the output decides what becomes of them: saveRaster commits a
// FileOutput, a replacement of the files layer (files/replace_file.h), so
// that a saved picture appears whole or not at all; encodeRaster keeps them
// in a MemoryOutput and nothing touches the disk. Both see exactly the same
// bytes from a writer. One output belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/replace_file.h"

namespace pixmoor::image {

class FileOutput;

class TempOutput {
 public:
  virtual ~TempOutput() = default;

  // Appends bytes. False once any write has failed.
  virtual bool write(const void* data, std::size_t size) = 0;
  virtual bool failed() const = 0;
  virtual std::uint64_t bytesWritten() const = 0;

  // A replacement of `path` (see files::FileReplacement::create); null on
  // failure, with the reason in `status`.
  static std::unique_ptr<FileOutput> create(const std::string& path, files::ReplaceStatus* status = nullptr,
                                            const files::ReplaceRule& rule = {});
};

class FileOutput final : public TempOutput {
 public:
  explicit FileOutput(std::unique_ptr<files::FileReplacement> file) : file_(std::move(file)) {}
  bool write(const void* data, std::size_t size) override { return file_->write(data, size); }
  bool failed() const override { return file_->failed(); }
  std::uint64_t bytesWritten() const override { return file_->bytesWritten(); }

  // Puts the file in place (files::FileReplacement::commit).
  bool commit() { return file_->commit(); }
  files::ReplaceStatus status() const { return file_->status(); }

 private:
  std::unique_ptr<files::FileReplacement> file_;
};

class MemoryOutput final : public TempOutput {
 public:
  bool write(const void* data, std::size_t size) override;
  bool failed() const override { return failed_; }
  std::uint64_t bytesWritten() const override { return bytes_.size(); }

  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  bool failed_ = false;  // no memory for the bytes
};

}  // namespace pixmoor::image

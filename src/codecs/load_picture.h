// Loading a picture as a value: the batch's and the plan's door to the
// readers (the numbered store loads through it too).
//
// A file is read only when it is a regular file whose first bytes are
// those of a format the asking program reads (format_registry.h); that
// format's reader then reads it a piece at a time under the request's
// limits. The header reading of a plan (header_probe.h) opens files the same
// way and asks the same reader to stop after the header, so the two agree
// on everything but faults in the pixel data.
//
// Pure functions of the file and the request; any thread, each call on its
// own. Failures are values (a status); nothing throws.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>

#include "image/loaded_picture.h"
#include "image/picture_format.h"

namespace pixmoor::image {

// A file opened as the loader and the header reading open one: O_NONBLOCK,
// so that a FIFO or a device named like a picture never blocks the open;
// then only a regular file is read, with blocking reads again. The first
// bytes pick the format. One belongs to one call on one thread.
class PictureFile {
 public:
  PictureFile(const std::string& path, FormatSet formats);
  ~PictureFile();
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;

  // unreadable (no regular file, or its first bytes could not be read),
  // unknownFormat (no format of the set starts so), else loaded: `format`
  // reads it (in this process, or in the decode helper: sandbox/decode_client.h).
  LoadStatus status() const { return status_; }
  const FormatDescriptor* format() const { return format_; }
  int descriptor() const { return fd_; }
  std::uint64_t size() const { return size_; }
  // The file's size or modification time is no longer what it was when it
  // was opened.
  bool changedSinceOpened() const;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  struct timespec modified_ {};
  LoadStatus status_ = LoadStatus::unreadable;
  const FormatDescriptor* format_ = nullptr;
};

LoadedPicture loadPicture(const std::string& path, const LoadRequest& request = {});
LoadedPicture loadPicture(PictureFile& file, const LoadRequest& request = {});
// A picture held in memory, recognised by its first bytes as a file is (a
// format decoded in the helper is unsupported: the helper reads files).
LoadedPicture loadPicture(std::span<const std::uint8_t> data, const LoadRequest& request = {});

// Reads `input` with `format` up to `upTo` and answers the status a load
// (or a header reading) gives: the reader's refusal, or the input's own
// failure (a broken file, memory for its window not had, a cancel).
LoadedPicture readPicture(const FormatDescriptor& format, PictureInput& input, const LoadRequest& request,
                          ReadUpTo upTo);

}  // namespace pixmoor::image

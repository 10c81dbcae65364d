// Reducing a picture while it is decoded: the rows a decoder hands over go
// straight into the area averaging, so that only the rows a target row still
// needs are held, never the full-size picture.
//
// The result is exactly what resampleOpaque makes of the whole upright
// picture, byte for byte: the same integer weights and the same two
// roundings (once between the passes, once at the end). A picture that is
// stored turned (EXIF orientation) is reduced into the turned layout: a
// quarter turn runs the vertical pass along each arriving row, and mirrors
// are applied to the small result, which is exact because area weights are
// symmetric. Only for shrinking (or equal) sides and 24-bit rows.
//
// One reducer belongs to one decode on one thread. Failures are values.
#pragma once

#include <cstdint>
#include <memory>

#include "image/raster.h"

namespace pixmoor::image {

// Where a decoder puts a picture's rows, one at a time, in the order it
// makes them: `width` pixels of 3 bytes each (blue, green, red), plus one
// byte of room after the last. A row asked for but never completed (the
// decoder gave up in it) counts as black, like every row that never came.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual std::uint8_t* nextRow() = 0;
  // The row from the last nextRow is complete.
  virtual void rowDone() = 0;
};

class RowReducer final : public RowSink {
 public:
  // Rows arrive `width` x `height`; the upright picture is them turned by
  // `orientation` (the EXIF values 1 to 8; a bottom-up BMP arrives as 4,
  // its last row first). The result is `targetWidth` x `targetHeight`,
  // upright, no side longer than the upright picture's. Null for sizes
  // outside that, or when memory cannot be had.
  static std::unique_ptr<RowReducer> make(int width, int height, int orientation, int targetWidth,
                                          int targetHeight);
  // What such a reducer holds, result included (0 for sizes make refuses).
  static std::uint64_t bytesNeeded(int width, int height, int orientation, int targetWidth, int targetHeight);

  ~RowReducer() override;
  RowReducer(const RowReducer&) = delete;
  RowReducer& operator=(const RowReducer&) = delete;

  std::uint8_t* nextRow() override;
  void rowDone() override;

  // Rows that did not come count as black; answers the reduced picture.
  // Called once, after the last row the decoder gave.
  std::unique_ptr<Raster> finish();

  struct State;

 private:
  explicit RowReducer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace pixmoor::image

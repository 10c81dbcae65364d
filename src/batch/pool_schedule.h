// PoolSchedule: the rules by which the threads of a batch's pool share its
// pictures, as a plain state and the operations on it.
//
// It owns the state of every picture of one batch between its start and its
// end: taken or not, being read, waiting with its encoded bytes for its turn,
// finished, and how far a Stop lets the batch go. It knows nothing of threads,
// files or clocks: BatchRunner's pool threads call it under the batch's one
// mutex, do the work it hands out outside that mutex, wait on the batch's
// condition whenever an answer says to wait, and wake the others after every
// call that changes the state. Whatever the work takes or answers, the rules
// hold; the tests drive it through many orders, lists and budgets.
//
// The rules:
// - Pictures are finished (written, or counted as failed) strictly in list
//   order, so outputs and counts are those of one picture after another. A
//   picture ready before its turn is handed over with its encoded bytes; the
//   thread that finishes the picture before it finishes it next.
// - A thread takes the next picture of the list or, among the pictures that
//   may be taken ahead, the largest file when it is at least twice the size
//   of the next one (so that a large picture near the end is not read alone
//   while the other threads idle).
// - Taking ahead is bounded: only pictures less than `ahead` places past the
//   turn, and none while pictures handed over hold `heldBytes` or more.
// - The picture whose turn it is can always be taken: no limit applies to it.
//   So whenever no thread works on it, the next thread free takes it; and a
//   thread is free, since nothing else waits on a later picture: a read waits
//   only for an earlier picture that is taken (see below) and a whole-budget
//   read only for the reads under way. Some picture can always progress.
// - A picture whose source could be the output of an earlier picture not yet
//   finished is read only once that picture is finished; taken while an
//   earlier picture is still untaken, it is given back and taken again only
//   in its place in the list.
// - A picture beyond its share of the memory budget is read again alone: no
//   read begins while one waits, and its own begins once none is under way.
// - Stop: nothing more is taken or read. Once a later picture is being read,
//   a picture already encoded (handed over, or being written) is a finished
//   picture in one-after-another terms: its save, a write of milliseconds,
//   completes. The first picture not finished that way (one still being
//   encoded, which may take seconds, included) is the picture in progress; its
//   save and every later one are abandoned.
//
// Thread: one at a time (the caller's mutex). Failure: none; a call out of
// the order above is a programming error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace pixmoor::batch {

class PoolSchedule {
 public:
  struct Limits {
    std::size_t ahead = 1;        // pictures that may be taken from the turn on
    std::uint64_t heldBytes = 0;  // handed-over bytes from which nothing more is taken ahead
    bool listOrder = false;       // take every picture in list order, never by size
  };

  // What take() hands out: a picture, nothing yet (wait for a change), or
  // nothing ever again (every picture taken, or stopped: the thread ends).
  enum class Take { picture, wait, none };
  struct Taken {
    Take what = Take::none;
    std::size_t picture = 0;
  };

  // What becomes of a picture whose bytes are ready.
  enum class Ready {
    finish,      // its turn: the caller finishes it now
    handedOver,  // kept for the thread that finishes the picture before it
    abandoned,   // a Stop came first: the caller's thread ends
  };

  // Pictures [begin, end) whose file sizes are wanted.
  struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
  };

  PoolSchedule() = default;
  PoolSchedule(std::size_t pictures, Limits limits);

  // The file sizes the next choice wants and nobody has looked up yet; the
  // caller looks them up outside its mutex and gives each to setSize. A size
  // not known yet counts as 0.
  Span sizesWanted();
  void setSize(std::size_t picture, std::uint64_t bytes);

  // What take() would answer now (for the caller's wait).
  Taken nextTake() const;
  // Takes the picture nextTake() names, if any.
  Taken take();

  // The caller found that the source of `picture` (just taken) could be the
  // output of `earlier` (the latest such picture at or after the turn when it
  // was taken). True: the picture is kept and its read waits for `earlier` to
  // be finished. False: it was given back, and the caller takes another.
  bool keepAfter(std::size_t picture, std::size_t earlier);

  // True when the read of `picture` may begin (or a Stop came: beginRead says).
  bool mayBeginRead(std::size_t picture) const;
  // False after a Stop: the picture is abandoned and the caller's thread ends.
  bool beginRead(std::size_t picture);
  void endRead(std::size_t picture);

  // The read of the picture just read asked for more than its share: it is
  // read again alone. mayReadAlone holds once no read is under way;
  // beginAloneRead answers false after a Stop (no read then), and
  // endAloneRead follows a read that began.
  void wantWholeBudget();
  bool mayReadAlone() const;
  bool beginAloneRead();
  void endAloneRead();

  // The picture's pixels are ready to be encoded. False after a Stop: the
  // picture is abandoned and the caller's thread ends.
  bool pixelsReady(std::size_t picture);
  // Its bytes are ready (`bytes` of them; `cancelled`: its encoding saw a Stop).
  Ready bytesReady(std::size_t picture, std::uint64_t bytes, bool cancelled);
  // The picture whose turn it was is finished: the turn passes to the next,
  // which the caller finishes at once when it was handed over (answered).
  std::optional<std::size_t> finished(std::size_t picture);
  // The picture will not be finished (its save saw a Stop): nothing after it is.
  void abandon(std::size_t picture);

  // Stop: answers the pictures whose saves must be abandoned now (all of
  // them with `everySave`, as when the program ends).
  std::vector<std::size_t> stop(bool everySave);
  bool stopped() const { return stopped_; }

  // The first picture not finished: the pictures finish in list order.
  std::size_t turn() const { return turn_; }
  // Encoded bytes handed over and waiting for their turn.
  std::uint64_t heldBytes() const { return heldBytes_; }

 private:
  enum class Phase : std::uint8_t {
    open,        // not taken yet
    givenBack,   // not taken; to be taken only in its place in the list
    taken,       // taken; its read has not begun
    reading,     // being read (the first read, or again alone)
    read,        // read; its pixels not ready
    saving,      // pixels ready: being encoded
    handedOver,  // encoded, waiting for its turn
    finishing,   // its turn: being written
    finished,
    abandoned,
  };
  bool isOpen(std::size_t p) const { return phase_[p] == Phase::open || phase_[p] == Phase::givenBack; }
  bool hasPixels(std::size_t p) const {
    return phase_[p] == Phase::saving || phase_[p] == Phase::handedOver || phase_[p] == Phase::finishing;
  }
  std::size_t aheadEnd() const;
  std::size_t choose() const;

  Limits limits_;
  std::vector<Phase> phase_;
  std::vector<std::uint64_t> sizes_;    // file sizes, 0 until looked up
  std::vector<std::uint64_t> encoded_;  // bytes of each picture handed over
  std::vector<std::size_t> readAfter_;  // the read waits until the turn reaches this
  std::size_t firstOpen_ = 0;           // every picture before it is taken
  std::size_t takenEnd_ = 0;            // one past the latest picture taken
  std::size_t sized_ = 0;               // sizes before it are looked up (or being)
  std::size_t turn_ = 0;
  std::optional<std::size_t> latestRead_;  // the latest picture whose read has begun
  std::optional<std::size_t> abandoned_;   // the first picture a Stop left unfinished
  std::uint64_t heldBytes_ = 0;
  std::size_t heldPictures_ = 0;
  int reading_ = 0;      // reads under way
  int aloneWanted_ = 0;  // pictures waiting to be read alone
  bool stopped_ = false;
};

}  // namespace pixmoor::batch

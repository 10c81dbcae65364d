// The pool's rules, driven without threads: simulated pool threads take
// their steps in random orders (seeded), over every small list of sizes,
// encoded sizes and budgets and over random larger ones, with and without a
// Stop. Whatever the order, some thread can always take a step until the
// batch ends, pictures finish in list order, and the limits hold.
#include "batch/pool_schedule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace pixmoor::batch {
namespace {

using Take = PoolSchedule::Take;
using Ready = PoolSchedule::Ready;

// One batch: what each picture is, and the pool's limits.
struct Batch {
  std::vector<std::uint64_t> fileSizes;
  std::vector<std::uint64_t> encodedBytes;
  std::vector<std::optional<std::size_t>> sourceIsOutputOf;  // an earlier picture writes this source
  std::vector<bool> beyondShare;                             // read again alone, with the whole budget
  int threads = 1;
  PoolSchedule::Limits limits;

  std::string describe() const {
    std::ostringstream out;
    out << threads << " threads, ahead " << limits.ahead << ", held " << limits.heldBytes << ":";
    for (std::size_t p = 0; p < fileSizes.size(); ++p) {
      out << " [" << fileSizes[p] << "/" << encodedBytes[p];
      if (sourceIsOutputOf[p]) out << " of " << *sourceIsOutputOf[p];
      if (beyondShare[p]) out << " alone";
      out << "]";
    }
    return out.str();
  }
};

// What BatchRunner's pool thread does, one step at a time; each step is one
// stretch between two waits or unlocks of the batch's mutex.
struct SimThread {
  enum class At {
    free,         // about to look up sizes and take a picture
    sizing,       // looking up sizes outside the lock
    checking,     // comparing the source with earlier outputs outside the lock
    waitingRead,  // its read waits for an earlier picture or a whole-budget read
    reading,
    waitingAlone,  // to be read again alone
    readingAlone,
    encoding,
    finishing,
    ended,
  } at = At::free;
  std::size_t picture = 0;
  PoolSchedule::Span sizes;
  std::optional<std::size_t> writtenFirst;  // found by `checking`
};

struct Outcome {
  std::vector<std::size_t> finished;  // in the order they were finished
  bool stopped = false;
};

class Simulation {
 public:
  Simulation(const Batch& batch, std::uint32_t seed, std::optional<int> stopAtStep)
      : batch_(batch),
        schedule_(batch.fileSizes.size(), batch.limits),
        threads_(static_cast<std::size_t>(batch.threads)),
        random_(seed),
        stopAtStep_(stopAtStep),
        cancelled_(batch.fileSizes.size(), false) {}

  // Runs until every thread has ended; a state where no thread can take a
  // step, or a run that does not end, fails the test.
  Outcome run() {
    const int bound = 64 * static_cast<int>(batch_.fileSizes.size() + 1) * batch_.threads;
    for (int step = 0;; ++step) {
      if (stopAtStep_ && step == *stopAtStep_) stop();
      std::vector<std::size_t> able;
      bool allEnded = true;
      for (std::size_t t = 0; t < threads_.size(); ++t) {
        if (threads_[t].at == SimThread::At::ended) continue;
        allEnded = false;
        if (canStep(threads_[t])) able.push_back(t);
      }
      if (allEnded) break;
      if (able.empty()) {
        ADD_FAILURE() << "no thread can go on at step " << step << ", turn " << schedule_.turn() << " of "
                      << batch_.fileSizes.size() << ", held " << schedule_.heldBytes() << " bytes";
        break;
      }
      if (step > bound) {
        ADD_FAILURE() << "no end after " << step << " steps";
        break;
      }
      this->step(threads_[able[random_() % able.size()]]);
      if (::testing::Test::HasFailure()) break;
    }
    return outcome_;
  }

 private:
  using At = SimThread::At;

  bool canStep(const SimThread& t) const {
    switch (t.at) {
      case At::free:
        return schedule_.nextTake().what != Take::wait;
      case At::waitingRead:
        return schedule_.mayBeginRead(t.picture);
      case At::waitingAlone:
        return schedule_.mayReadAlone();
      default:
        return true;
    }
  }

  void stop() {
    outcome_.stopped = true;
    for (const std::size_t p : schedule_.stop(false)) cancelled_[p] = true;
  }

  void end(SimThread& t) { t.at = At::ended; }

  void step(SimThread& t) {
    switch (t.at) {
      case At::free: {
        t.sizes = schedule_.sizesWanted();
        if (t.sizes.begin < t.sizes.end) {
          t.at = At::sizing;
          return;
        }
        takeOne(t);
        return;
      }
      case At::sizing:
        for (std::size_t q = t.sizes.begin; q < t.sizes.end; ++q) schedule_.setSize(q, batch_.fileSizes[q]);
        takeOne(t);
        return;
      case At::checking:
        if (t.writtenFirst && !schedule_.keepAfter(t.picture, *t.writtenFirst)) {
          t.at = At::free;
          return;
        }
        t.at = At::waitingRead;
        return;
      case At::waitingRead:
        if (const auto& of = batch_.sourceIsOutputOf[t.picture]; of && !schedule_.stopped()) {
          EXPECT_GT(schedule_.turn(), *of) << "read " << t.picture << " before the picture that writes it";
        }
        if (!schedule_.beginRead(t.picture)) return end(t);
        EXPECT_FALSE(readingAlone_) << "a read began beside a whole-budget read";
        ++reading_;
        t.at = At::reading;
        return;
      case At::reading:
        schedule_.endRead(t.picture);
        --reading_;
        if (batch_.beyondShare[t.picture]) {
          schedule_.wantWholeBudget();
          t.at = At::waitingAlone;
          return;
        }
        readyPixels(t);
        return;
      case At::waitingAlone:
        if (!schedule_.beginAloneRead()) return readyPixels(t);
        EXPECT_EQ(reading_, 0) << "a whole-budget read began beside another read";
        readingAlone_ = true;
        ++reading_;
        t.at = At::readingAlone;
        return;
      case At::readingAlone:
        schedule_.endAloneRead();
        readingAlone_ = false;
        --reading_;
        readyPixels(t);
        return;
      case At::encoding: {
        const bool cancelled = cancelled_[t.picture];
        switch (schedule_.bytesReady(t.picture, batch_.encodedBytes[t.picture], cancelled)) {
          case Ready::abandoned:
            return end(t);
          case Ready::handedOver:
            EXPECT_FALSE(cancelled);
            t.at = At::free;
            return;
          case Ready::finish:
            t.at = At::finishing;
            return;
        }
        return;
      }
      case At::finishing: {
        EXPECT_EQ(t.picture, schedule_.turn()) << "finished out of list order";
        if (cancelled_[t.picture]) {
          schedule_.abandon(t.picture);
          return end(t);
        }
        outcome_.finished.push_back(t.picture);
        const std::optional<std::size_t> next = schedule_.finished(t.picture);
        if (next) {
          t.picture = *next;
        } else {
          t.at = At::free;
        }
        return;
      }
      case At::ended:
        return;
    }
  }

  void takeOne(SimThread& t) {
    const std::size_t turn = schedule_.turn();
    const std::uint64_t held = schedule_.heldBytes();
    const PoolSchedule::Taken taken = schedule_.take();
    if (taken.what == Take::none) return end(t);
    if (taken.what == Take::wait) {
      t.at = At::free;  // the state changed since canStep: wait again
      return;
    }
    const std::size_t p = taken.picture;
    EXPECT_FALSE(outcome_.stopped) << "took " << p << " after Stop";
    EXPECT_GE(p, turn);
    if (p != turn) {
      EXPECT_LT(p, turn + batch_.limits.ahead) << "took " << p << " too far ahead of " << turn;
      EXPECT_TRUE(held == 0 || held < batch_.limits.heldBytes) << "took " << p << " ahead with " << held;
    }
    t.picture = p;
    // The latest unfinished earlier picture whose output this source could be.
    t.writtenFirst.reset();
    if (const auto& of = batch_.sourceIsOutputOf[p]; of && *of >= turn && *of < p) t.writtenFirst = *of;
    t.at = At::checking;
  }

  void readyPixels(SimThread& t) {
    if (!schedule_.pixelsReady(t.picture)) return end(t);
    t.at = At::encoding;
  }

  const Batch& batch_;
  PoolSchedule schedule_;
  std::vector<SimThread> threads_;
  std::mt19937 random_;
  std::optional<int> stopAtStep_;
  std::vector<bool> cancelled_;  // saves a Stop abandoned
  int reading_ = 0;
  bool readingAlone_ = false;
  Outcome outcome_;
};

// Every picture finished, in list order; after a Stop, the first ones.
void expectListOrder(const Batch& batch, const Outcome& outcome) {
  for (std::size_t i = 0; i < outcome.finished.size(); ++i) {
    ASSERT_EQ(outcome.finished[i], i);
  }
  if (!outcome.stopped) {
    ASSERT_EQ(outcome.finished.size(), batch.fileSizes.size());
  }
}

// Runs `walks` random orders of `batch`, each ending or stopped at a random step.
void walk(const Batch& batch, std::uint32_t seed, int walks) {
  for (int w = 0; w < walks; ++w) {
    SCOPED_TRACE(batch.describe() + ", walk " + std::to_string(w));
    const std::uint32_t walkSeed = seed * 7919u + static_cast<std::uint32_t>(w);
    std::optional<int> stopAt;
    if (w % 3 == 2) stopAt = static_cast<int>(walkSeed % (12 * batch.fileSizes.size() + 1));
    Simulation simulation(batch, walkSeed, stopAt);
    expectListOrder(batch, simulation.run());
    if (::testing::Test::HasFailure()) return;
  }
}

Batch batchOf(std::size_t pictures, int threads, std::size_t ahead, std::uint64_t heldBytes) {
  Batch batch;
  batch.fileSizes.assign(pictures, 1);
  batch.encodedBytes.assign(pictures, 0);
  batch.sourceIsOutputOf.assign(pictures, std::nullopt);
  batch.beyondShare.assign(pictures, false);
  batch.threads = threads;
  batch.limits.ahead = ahead;
  batch.limits.heldBytes = heldBytes;
  return batch;
}

// The batch that once waited for ever: a small file, then files more than
// twice its size whose outputs soon hold a thread's share.
TEST(PoolSchedule, ASmallFirstPictureIsTakenWhateverTheLaterOnesHold) {
  Batch batch = batchOf(8, 2, 8, 4);
  batch.fileSizes = {1, 9, 9, 9, 9, 9, 9, 9};
  batch.encodedBytes = {1, 2, 2, 2, 2, 2, 2, 2};
  walk(batch, 1, 300);
}

// Every list of up to four pictures with small and large files, small and
// large outputs, one to three threads, tight and loose limits.
TEST(PoolSchedule, EverySmallListEndsInListOrder) {
  std::uint32_t seed = 0;
  for (std::size_t n = 1; n <= 4; ++n) {
    for (int threads = 1; threads <= 3; ++threads) {
      for (std::uint32_t sizes = 0; sizes < (1u << n); ++sizes) {
        for (std::uint32_t bytes = 0; bytes < (1u << n); ++bytes) {
          for (const std::size_t ahead : {std::size_t{1}, std::size_t{2}, std::size_t{4}}) {
            for (const std::uint64_t held : {0u, 1u, 3u}) {
              Batch batch = batchOf(n, threads, ahead, held);
              batch.limits.listOrder = threads == 1;
              for (std::size_t p = 0; p < n; ++p) {
                batch.fileSizes[p] = (sizes >> p) & 1u ? 5 : 1;
                batch.encodedBytes[p] = (bytes >> p) & 1u ? 2 : 0;
              }
              walk(batch, ++seed, 6);
              if (::testing::Test::HasFailure()) return;
            }
          }
        }
      }
    }
  }
}

// Random lists up to 12 pictures: sources that earlier pictures write,
// pictures read again alone, up to four threads.
TEST(PoolSchedule, RandomListsEndInListOrder) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t n = 1 + random() % 12;
    const int threads = 1 + static_cast<int>(random() % 4);
    Batch batch = batchOf(n, threads, 1 + random() % 8, random() % 12);
    for (std::size_t p = 0; p < n; ++p) {
      batch.fileSizes[p] = random() % 4 == 0 ? 0 : 1 + random() % 50;
      batch.encodedBytes[p] = random() % 6;
      if (p > 0 && random() % 4 == 0) batch.sourceIsOutputOf[p] = random() % p;
      batch.beyondShare[p] = random() % 7 == 0;
    }
    walk(batch, static_cast<std::uint32_t>(round), 4);
    if (::testing::Test::HasFailure()) return;
  }
}

// A Stop lets complete the saves a later read has passed, abandons the
// first picture not so far on and every save after it, and takes nothing more.
TEST(PoolSchedule, StopAbandonsThePictureInProgressAndEveryLaterSave) {
  PoolSchedule schedule(4, {8, 100, false});
  for (std::size_t p = 0; p < 4; ++p) ASSERT_EQ(schedule.take().picture, p);
  for (std::size_t p = 0; p < 3; ++p) ASSERT_TRUE(schedule.beginRead(p));
  for (std::size_t p = 0; p < 3; ++p) schedule.endRead(p);
  for (std::size_t p = 0; p < 3; ++p) ASSERT_TRUE(schedule.pixelsReady(p));
  ASSERT_EQ(schedule.bytesReady(0, 10, false), Ready::finish);
  ASSERT_EQ(schedule.bytesReady(2, 10, false), Ready::handedOver);
  // 0 is being written and 1 was read after it: 0 completes. 1 is still
  // being encoded: it is the picture in progress, and 2's save goes with it.
  EXPECT_EQ(schedule.stop(false), (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(schedule.nextTake().what, Take::none);
  EXPECT_FALSE(schedule.beginRead(3));
  EXPECT_EQ(schedule.bytesReady(1, 10, true), Ready::abandoned);
  EXPECT_EQ(schedule.finished(0), std::nullopt);
  EXPECT_EQ(schedule.turn(), 1u);
  EXPECT_EQ(schedule.stop(true), (std::vector<std::size_t>{2}));
}

// An encoding may take seconds (a large PNG): a picture still being encoded
// is the picture in progress, however many later pictures are being read.
TEST(PoolSchedule, StopAbandonsAnEncodingUnderWay) {
  PoolSchedule schedule(3, {8, 100, false});
  for (std::size_t p = 0; p < 3; ++p) ASSERT_EQ(schedule.take().picture, p);
  ASSERT_TRUE(schedule.beginRead(0));
  schedule.endRead(0);
  ASSERT_TRUE(schedule.pixelsReady(0));
  ASSERT_TRUE(schedule.beginRead(1));
  EXPECT_EQ(schedule.stop(false), (std::vector<std::size_t>{0}));
  EXPECT_EQ(schedule.bytesReady(0, 10, true), Ready::abandoned);
  EXPECT_EQ(schedule.turn(), 0u);
}

}  // namespace
}  // namespace pixmoor::batch

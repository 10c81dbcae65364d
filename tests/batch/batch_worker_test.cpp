// The batch threads: progress, completion, Stop, drops during a batch and
// ending the program while a batch runs. Runs under ThreadSanitizer too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <thread>

#include "batch/batch_runner.h"
#include "batch_test_support.h"
#include "image/thread_budget.h"
#include "support/stuck_read.h"
#include "texts/ui_texts.h"

namespace pixmoor::batch {
namespace {

using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;
using testing::folderNames;
using testing::Gate;
using testing::magicOf;
using testing::readPicture;
using testing::RecordingView;
using testing::ToldPictures;
using testing::waitUntil;
using testing::writePicture;
using Event = RecordingView::Event;

const std::string kFrenchDone = "Termin\xC3\xA9 ! ";
const std::string kFrenchDoneEnd =
    " images trait\xC3\xA9"
    "es.";
const std::string kFrenchStop = "Arr\xC3\xAAt : ";
const std::string kStopEnd =
    " images trait\xC3\xA9"
    "es !";

BatchTexts textsFor(const char* language) {
  return batchTextsFrom(texts::BuildUiTexts(language, "Pixmoor 2011 v", "1.4.1", "\n", 1920, 1080,
                                            "http://www.pixmoor.example"));
}

// Waits until a read held by stuck_read has begun.
bool readHeld() {
  std::unique_lock lock(stuck_read::mutex);
  return stuck_read::changed.wait_for(lock, testing::kGenerousWait, [] { return stuck_read::entered; });
}

bool anyStatus(const std::vector<Event>& events) {
  return std::any_of(events.begin(), events.end(), [](const Event& e) { return e.kind == Event::status; });
}

settings::Settings relative(int landscapeWidth, int portraitHeight, const char* prefix = "prefix_") {
  settings::Settings s;
  s.landscapeWidth = landscapeWidth;
  s.portraitHeight = portraitHeight;
  s.prefix = prefix;
  s.language = "FR";
  return s;
}

class BatchWorker : public ::testing::Test {
 protected:
  void SetUp() override { testing::registerCodecs(); }

  std::unique_ptr<BatchRunner> makeRunner(const char* language = "FR") {
    return std::make_unique<BatchRunner>(view_, shared_, textsFor(language), busy_);
  }
  std::string path(const std::string& name) const { return folder_.file(name); }
  std::vector<std::string> writeMany(int count, int width, int height, const char* stem = "p") {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      paths.push_back(path(std::string(stem) + std::to_string(i) + ".jpg"));
      EXPECT_TRUE(writePicture(paths.back(), width, height, image::kJpegEncoder));
    }
    return paths;
  }
  // No file of the folder is a temporary left behind by a save.
  void expectOnlyNames(const std::vector<std::string>& allowed) {
    for (const std::string& name : folderNames(folder_.path())) {
      EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end()) << "unexpected file " << name;
    }
  }

  TempFolder folder_;
  RecordingView view_;
  SharedSettings shared_;
  std::atomic<std::int32_t> busy_{0};
};

TEST_F(BatchWorker, ThreePicturesCountDownThenCompleteInFrench) {
  const auto sources = writeMany(3, 80, 60);
  auto runner = makeRunner();
  settings::Settings s = relative(40, 40);
  // The first line comes while the first picture's read is held.
  stuck_read::hangOn(sources[0]);
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  EXPECT_TRUE(view_.waitFor(anyStatus));
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();

  EXPECT_FALSE(runner->running());
  EXPECT_EQ(busy_.load(), 0);
  const auto statuses = view_.statuses();
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses.back(), kFrenchDone + "3" + kFrenchDoneEnd);
  // Every progress text reads "<remaining>/3 - ..." with remaining never rising.
  int last = 4;
  for (std::size_t i = 0; i + 1 < statuses.size(); ++i) {
    const std::string& text = statuses[i];
    ASSERT_GE(text.size(), 6u) << text;
    const int remaining = text[0] - '0';
    EXPECT_EQ(text.substr(1, 5), "/3 - ") << text;
    EXPECT_LE(remaining, last);
    EXPECT_GE(remaining, 0);
    last = remaining;
    const std::string name = text.substr(6);
    EXPECT_TRUE(name.empty() || name.rfind("fix_p", 0) == 0) << text;
  }
  EXPECT_EQ(statuses.front(), "3/3 - ");

  // Controls shown first, restored at the end, one 600 ms cue.
  const auto events = view_.events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().kind, Event::controls);
  EXPECT_TRUE(events.front().running);
  EXPECT_EQ(view_.count(Event::controls), 2);
  EXPECT_EQ(view_.count(Event::cue), 1);
  for (const Event& event : events) {
    if (event.kind == Event::cue) {
      EXPECT_EQ(event.milliseconds, 600);
    }
    if (event.kind == Event::controls && &event != &events.front()) {
      EXPECT_FALSE(event.running);
    }
  }
  for (int i = 0; i < 3; ++i) {
    const auto facts = readPicture(path("prefix_p" + std::to_string(i) + ".jpg"));
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->width, 40);
    EXPECT_EQ(facts->height, 30);
  }
  EXPECT_TRUE(runner->failures().empty());
  EXPECT_EQ(runner->currentOutputPath(), path("prefix_p2.jpg"));
  EXPECT_EQ(runner->remaining(), 0);
  EXPECT_EQ(runner->batchTotal(), 0);
}

TEST_F(BatchWorker, EnglishCompletionText) {
  const auto sources = writeMany(3, 20, 10);
  auto runner = makeRunner("UK");
  settings::Settings s = relative(10, 10);
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  runner->waitUntilIdle();
  EXPECT_EQ(view_.lastStatus(), "Finish ! 3 pictures were processed..");
}

TEST_F(BatchWorker, EveryPictureFailingStillReportsTheFullTotal) {
  writeBytes(path("a.tif"), "II*\0 not really a tiff");
  writeBytes(path("b.jp2"), "jp2 stand-in");
  std::filesystem::create_directory(path("c.jpg"));
  auto runner = makeRunner();
  settings::Settings s = relative(10, 10);
  const std::vector<std::string> drop = {path("a.tif"), path("b.jp2"), path("c.jpg"), path("gone.png")};
  ASSERT_EQ(runner->handleDrop(drop, s), DropResult::started);
  runner->waitUntilIdle();
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "4" + kFrenchDoneEnd);
  EXPECT_EQ(runner->failures(), (std::vector<PictureFailure>{{path("a.tif"), FailureReason::unknownFormat},
                                                             {path("b.jp2"), FailureReason::unknownFormat},
                                                             {path("c.jpg"), FailureReason::unreadable},
                                                             {path("gone.png"), FailureReason::unreadable}}));
  expectOnlyNames({"a.tif", "b.jp2", "c.jpg"});
}

TEST_F(BatchWorker, DropWithoutPicturesStartsNothingAndShowsNothing) {
  auto runner = makeRunner();
  settings::Settings s = relative(10, 10);
  EXPECT_EQ(runner->handleDrop({path("x.gif"), path("scan.tiff")}, s), DropResult::nothingToDo);
  EXPECT_EQ(runner->handleDrop({}, s), DropResult::nothingToDo);
  EXPECT_EQ(runner->handleDrop({folder_.path().string()}, s), DropResult::nothingToDo);
  runner->waitUntilIdle();
  EXPECT_TRUE(view_.events().empty());
  EXPECT_FALSE(runner->running());
  runner->stopBatch();  // nothing to stop: nothing shown
  EXPECT_TRUE(view_.events().empty());
}

TEST_F(BatchWorker, PrefixZeroBecomesEmptyAndReplacesTheSources) {
  const auto sources = writeMany(2, 60, 40);
  auto runner = makeRunner();
  settings::Settings s = relative(30, 30, "0");
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  EXPECT_EQ(s.prefix, "");
  EXPECT_EQ(shared_.snapshot()->prefix, "");
  runner->waitUntilIdle();
  EXPECT_EQ(folderNames(folder_.path()), (std::vector<std::string>{"p0.jpg", "p1.jpg"}));
  for (const auto& source : sources) {
    const auto facts = readPicture(source);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->width, 30);
    EXPECT_EQ(facts->height, 20);
  }
}

TEST_F(BatchWorker, FolderDropWithLineFeedName) {
  ASSERT_TRUE(writePicture(path("two\nlines.png"), 50, 100, image::kPngEncoder));
  auto runner = makeRunner();
  settings::Settings s = relative(10, 20);
  ASSERT_EQ(runner->handleDrop({folder_.path().string()}, s), DropResult::started);
  runner->waitUntilIdle();
  const auto facts = readPicture(path("prefix_two\nlines.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 10);
  EXPECT_EQ(facts->height, 20);
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "1" + kFrenchDoneEnd);
}

TEST_F(BatchWorker, SecondDropAfterCompletionStartsANewBatch) {
  const auto sources = writeMany(2, 40, 20);
  auto runner = makeRunner();
  settings::Settings s = relative(20, 20);
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  // No wait: a drop that comes once the worker is done is taken; one that
  // comes before is ignored. Both leave exactly one batch running.
  view_.waitFor([](const std::vector<Event>& events) {
    return std::count_if(events.begin(), events.end(), [](const Event& e) { return e.kind == Event::cue; }) ==
           1;
  });
  // The new batch's first line comes while its picture's read is held.
  stuck_read::hangOn(sources[0]);
  ASSERT_EQ(runner->handleDrop({sources[0]}, s), DropResult::started);
  EXPECT_TRUE(view_.waitFor([](const std::vector<Event>& events) {
    return events.back().kind == Event::status && events.back().text.rfind("1/1", 0) == 0;
  }));
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();
  const auto statuses = view_.statuses();
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), kFrenchDone + "2" + kFrenchDoneEnd), 1);
  EXPECT_EQ(statuses.back(), kFrenchDone + "1" + kFrenchDoneEnd);
  // The new batch's first line names its own picture or none, never the
  // last picture of the batch before.
  const auto first = std::find(statuses.begin(), statuses.end(), kFrenchDone + "2" + kFrenchDoneEnd) + 1;
  ASSERT_NE(first, statuses.end());
  EXPECT_EQ(*first, "1/1 - ");
}

// A later picture that reads what an earlier one wrote sees it whole and in
// its new form, exactly as one picture after another would.
TEST_F(BatchWorker, LaterPictureReadsWhatAnEarlierOneWrote) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 400, 300, image::kJpegEncoder, 240));
  ASSERT_TRUE(writePicture(path("prefix_a.jpg"), 300, 400, image::kJpegEncoder, 10));
  ASSERT_TRUE(writePicture(path("b.png"), 400, 300, image::kPngEncoder, 10));
  ASSERT_TRUE(writePicture(path("b.jpg"), 300, 400, image::kJpegEncoder, 240));
  auto runner = makeRunner();
  settings::Settings s = relative(200, 100);
  ASSERT_EQ(runner->handleDrop({path("a.jpg"), path("prefix_a.jpg")}, s), DropResult::started);
  runner->waitUntilIdle();
  auto facts = readPicture(path("prefix_prefix_a.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 200);
  EXPECT_EQ(facts->height, 150);
  EXPECT_GT(facts->meanBlue, 200);

  // Empty prefix: b.png would replace another picture and leaves b.jpg to
  // its own turn.
  s = relative(200, 100, "0");
  ASSERT_EQ(runner->handleDrop({path("b.png"), path("b.jpg")}, s), DropResult::started);
  runner->waitUntilIdle();
  facts = readPicture(path("b.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 75);
  EXPECT_EQ(facts->height, 100);
  EXPECT_GT(facts->meanBlue, 200);
  EXPECT_EQ(runner->failures(),
            (std::vector<PictureFailure>{{path("b.png"), FailureReason::wouldReplaceAnother}}));

  // A source that is a link to a later-written output is read in its new
  // form: big.png writes big.jpg, which alias.jpg then reads and rewrites.
  ASSERT_TRUE(writePicture(path("big.png"), 1200, 900, image::kPngEncoder, 10));
  std::filesystem::create_symlink("big.jpg", path("alias.jpg"));
  ASSERT_EQ(runner->handleDrop({path("big.png"), path("alias.jpg")}, s), DropResult::started);
  runner->waitUntilIdle();
  EXPECT_TRUE(runner->failures().empty());
  EXPECT_TRUE(std::filesystem::is_symlink(path("alias.jpg")));
  facts = readPicture(path("big.jpg"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 200);
  EXPECT_LT(facts->meanBlue, 40);
}

// Several workers write exactly what one would: the same files, bytes,
// failures and count, told in list order. Sources that an earlier picture
// writes (one only comes to be then), the same picture twice, a broken one.
TEST_F(BatchWorker, ManyWorkersWriteWhatOneWouldWrite) {
  struct Outcome {
    std::vector<std::string> names;
    std::vector<std::string> bytes;
    std::vector<std::pair<std::string, FailureReason>> failures;
    std::vector<std::size_t> told;
    std::string status;
    bool operator==(const Outcome&) const = default;
  };
  const auto runWith = [&](int workers) {
    const std::string dir = "w" + std::to_string(workers);
    std::filesystem::create_directory(path(dir));
    const auto at = [&](const std::string& name) { return path(dir + "/" + name); };
    EXPECT_TRUE(writePicture(at("a.jpg"), 400, 300, image::kJpegEncoder, 240));
    EXPECT_TRUE(writePicture(at("prefix_a.jpg"), 300, 400, image::kJpegEncoder, 10));
    EXPECT_TRUE(writePicture(at("b.png"), 500, 200, image::kPngEncoder, 90));
    EXPECT_TRUE(writePicture(at("c.jpg"), 1200, 900, image::kJpegEncoder, 30));
    writeBytes(at("broken.jpg"), "\xFF\xD8\xFF not a picture");
    std::vector<std::string> list;
    for (const char* name : {"a.jpg", "prefix_a.jpg", "prefix_prefix_a.jpg", "b.png", "broken.jpg",
                             "prefix_b.jpg", "c.jpg", "a.jpg", "prefix_c.jpg"})
      list.push_back(at(name));
    Outcome o;
    auto runner = makeRunner();
    RunOptions options;
    options.workers = workers;
    options.observer = [&o](const PictureReport& report) { o.told.push_back(report.index); };
    runner->setRunOptions(options);
    view_.clear();
    settings::Settings s = relative(200, 100);
    EXPECT_EQ(runner->handleDrop(list, s), DropResult::started);
    runner->waitUntilIdle();
    for (const std::string& name : folderNames(path(dir))) {
      o.names.push_back(name);
      o.bytes.push_back(readBytes(at(name)));
    }
    for (const PictureFailure& f : runner->failures())
      o.failures.emplace_back(f.sourcePath.substr(path(dir).size()), f.reason);
    o.status = view_.lastStatus();
    return o;
  };
  const Outcome one = runWith(1);
  EXPECT_EQ(one.names.size(), 11u);
  EXPECT_EQ(one.failures.size(), 1u);
  EXPECT_EQ(runWith(4), one);
}

// A store during the batch turns its empty prefix back into "0": the names
// it writes stay those of no prefix.
TEST_F(BatchWorker, StoreDuringABatchNeverChangesItsNames) {
  const auto sources = writeMany(6, 400, 300);
  auto runner = makeRunner();
  settings::Settings s = relative(100, 100, "0");
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  s.prefix = "0";  // what SaveAllSettings does to an empty prefix
  shared_.publish(s);
  runner->waitUntilIdle();
  EXPECT_EQ(folderNames(folder_.path()),
            (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg"}));
  for (const auto& source : sources) EXPECT_EQ(readPicture(source)->width, 100) << source;
}

// The count drops as soon as a picture is saved, not once the next one has
// been read: here the next one's read is held until the line says 1/2.
TEST_F(BatchWorker, CountDropsWhenTheSaveCompletes) {
  ASSERT_TRUE(writePicture(path("small.jpg"), 40, 30, image::kJpegEncoder));
  ASSERT_TRUE(writePicture(path("next.jpg"), 60, 40, image::kJpegEncoder));
  stuck_read::hangOn(path("next.jpg"));
  auto runner = makeRunner();
  settings::Settings s = relative(20, 20);
  ASSERT_EQ(runner->handleDrop({path("small.jpg"), path("next.jpg")}, s), DropResult::started);
  EXPECT_TRUE(view_.waitFor([](const std::vector<Event>& events) {
    return std::any_of(events.begin(), events.end(), [](const Event& e) {
      return e.kind == Event::status && e.text.rfind("1/2 - ", 0) == 0;
    });
  })) << "the count waited for the next read";
  EXPECT_EQ(runner->remaining(), 1);
  EXPECT_NE(runner->currentOutputPath(), path("prefix_next.jpg"));  // not read yet
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "2" + kFrenchDoneEnd);
}

TEST_F(BatchWorker, FailuresAreListedInListOrder) {
  std::vector<std::string> drop;
  for (int i = 0; i < 6; ++i) {
    const std::string good = path("good" + std::to_string(i) + ".png");
    ASSERT_TRUE(writePicture(good, 300, 200, image::kPngEncoder));
    drop.push_back(good);
    drop.push_back(path("missing" + std::to_string(i) + ".jpg"));
  }
  // The output of good3 cannot be written: its name is taken by a folder.
  std::filesystem::create_directory(path("prefix_good3.jpg"));
  auto runner = makeRunner();
  settings::Settings s = relative(100, 100);
  ASSERT_EQ(runner->handleDrop(drop, s), DropResult::started);
  runner->waitUntilIdle();
  std::vector<PictureFailure> expected;
  for (int i = 0; i < 6; ++i) {
    if (i == 3) expected.push_back({path("good3.png"), FailureReason::notAFile});
    expected.push_back({path("missing" + std::to_string(i) + ".jpg"), FailureReason::unreadable});
  }
  EXPECT_EQ(runner->failures(), expected);
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "12" + kFrenchDoneEnd);
}

// Stop while the next picture is being read: the save before it belongs to
// a finished picture, which completes and counts, as it would have one
// picture after another. Held: the first picture just before its save, the
// second in its read.
TEST_F(BatchWorker, StopDuringTheNextReadLetsTheSaveBeforeItComplete) {
  ASSERT_TRUE(writePicture(path("first.png"), 400, 300, image::kPngEncoder));
  ASSERT_TRUE(writePicture(path("next.jpg"), 400, 300, image::kJpegEncoder));
  stuck_read::hangOn(path("next.jpg"));
  Gate save;
  auto runner = makeRunner();
  RunOptions options;
  options.workers = 2;
  options.beforeSave = [&save](std::size_t index) {
    if (index == 0) save.pass();
  };
  runner->setRunOptions(options);
  settings::Settings s = relative(400, 400);
  s.format = settings::OutputFormat::png;
  ASSERT_EQ(runner->handleDrop({path("first.png"), path("next.jpg")}, s), DropResult::started);
  ASSERT_TRUE(save.waitUntilArrived());
  ASSERT_TRUE(readHeld());
  ASSERT_FALSE(std::filesystem::exists(path("prefix_first.png")));
  // Stop answers without waiting for the save; the text counts it once it ends.
  runner->stopBatch();
  save.open();
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();
  EXPECT_EQ(view_.lastStatus(), kFrenchStop + "1/2" + kStopEnd);
  const auto facts = readPicture(path("prefix_first.png"));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 400);
  EXPECT_EQ(runner->failures(), (std::vector<PictureFailure>{{path("next.jpg"), FailureReason::stopped}}));
  expectOnlyNames({"first.png", "next.jpg", "prefix_first.png"});
}

// A read that hangs in the kernel (a dead network mount) holds Stop for no
// more than a moment: the text counts the pictures finished, the one being
// read and the rest are stopped, and no new batch starts until that worker
// has really ended.
TEST_F(BatchWorker, StopDoesNotWaitForAStuckRead) {
  const auto sources = writeMany(3, 60, 40);
  stuck_read::hangOn(sources[1]);
  auto runner = makeRunner();
  settings::Settings s = relative(30, 30);
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  ASSERT_TRUE(readHeld());
  // Pictures are read at once: the first may still be on its way.
  ASSERT_TRUE(waitUntil([&] { return runner->remaining() <= 2; }));
  // Should Stop wait for the worker after all, the read is let go after 30 s.
  std::atomic<bool> stopped{false};
  std::thread watchdog([&stopped] {
    if (!waitUntil([&] { return stopped.load(); }, std::chrono::seconds(30))) stuck_read::release();
  });
  runner->stopBatch();
  const bool answeredWhileStuck = !stuck_read::isReleased();
  stopped = true;
  EXPECT_TRUE(answeredWhileStuck) << "Stop waited for the stuck read";
  EXPECT_EQ(view_.lastStatus(), kFrenchStop + "1/3" + kStopEnd);
  EXPECT_FALSE(view_.events().back().kind == Event::controls && view_.events().back().running);
  const std::vector<PictureFailure> stoppedPictures{{sources[1], FailureReason::stopped},
                                                    {sources[2], FailureReason::stopped}};
  EXPECT_EQ(runner->failures(), stoppedPictures);
  if (answeredWhileStuck) {
    EXPECT_FALSE(runner->waitUntilIdle(std::chrono::milliseconds(50)));
    EXPECT_EQ(runner->handleDrop(sources, s), DropResult::ignoredWhileRunning);
    EXPECT_FALSE(runner->finish(std::chrono::milliseconds(50)));
  }
  watchdog.join();
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();
  EXPECT_FALSE(runner->running());
  EXPECT_EQ(runner->failures(), stoppedPictures);
  EXPECT_EQ(view_.lastStatus(), kFrenchStop + "1/3" + kStopEnd);
  EXPECT_EQ(view_.count(Event::cue), 1);
}

// The names of the folder's files closed after reading, in order, until
// every name of `awaited` is among them (or nothing happens for the
// generous wait).
std::vector<std::string> readsUntil(int events, const std::vector<std::string>& awaited) {
  constexpr int kPollLimit = std::chrono::milliseconds(testing::kGenerousWait).count();
  std::vector<std::string> closed;
  const auto done = [&] {
    return std::all_of(awaited.begin(), awaited.end(), [&](const std::string& name) {
      return std::find(closed.begin(), closed.end(), name) != closed.end();
    });
  };
  alignas(inotify_event) char buffer[4096];
  for (pollfd ready{events, POLLIN, 0}; !done() && ::poll(&ready, 1, kPollLimit) > 0;) {
    const ssize_t got = ::read(events, buffer, sizeof buffer);
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) closed.emplace_back(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return closed;
}

// While one picture's read hangs, the other worker reads the pictures after
// it (the last one is opened and closed again); once it is let go, they are
// all written and told in list order.
TEST_F(BatchWorker, AnotherWorkerGoesOnPastASlowPicture) {
  const auto sources = writeMany(4, 60, 40);
  const int events = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(events, 0);
  ASSERT_GE(::inotify_add_watch(events, folder_.path().c_str(), IN_CLOSE_NOWRITE), 0);
  stuck_read::hangOn(sources[0]);
  auto runner = makeRunner();
  RunOptions options;
  options.workers = 2;
  std::vector<std::size_t> told;
  options.observer = [&told](const PictureReport& report) { told.push_back(report.index); };
  runner->setRunOptions(options);
  settings::Settings s = relative(30, 30);
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  ASSERT_TRUE(readHeld());
  const std::vector<std::string> closed = readsUntil(events, {"p3.jpg"});
  ::close(events);
  EXPECT_NE(std::find(closed.begin(), closed.end(), "p3.jpg"), closed.end())
      << "no picture after the slow one was read while it was";
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "4" + kFrenchDoneEnd);
  EXPECT_EQ(told, (std::vector<std::size_t>{0, 1, 2, 3}));
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(std::filesystem::exists(path("prefix_p" + std::to_string(i) + ".jpg")));
}

// A much larger file a little further on is read before the pictures
// between: the last picture here, while the second one hangs, is read
// before the third. It is still written and told last.
TEST_F(BatchWorker, ALargeFileFurtherOnIsReadFirst) {
  auto sources = writeMany(4, 60, 40);
  sources.push_back(path("large.jpg"));
  ASSERT_TRUE(writePicture(sources.back(), 600, 400, image::kJpegEncoder));
  const int events = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(events, 0);
  ASSERT_GE(::inotify_add_watch(events, folder_.path().c_str(), IN_CLOSE_NOWRITE), 0);
  stuck_read::hangOn(sources[1]);
  auto runner = makeRunner();
  RunOptions options;
  options.workers = 2;
  std::vector<std::size_t> told;
  options.observer = [&told](const PictureReport& report) { told.push_back(report.index); };
  runner->setRunOptions(options);
  settings::Settings s = relative(30, 30);
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  ASSERT_TRUE(readHeld());
  const std::vector<std::string> closed = readsUntil(events, {"p2.jpg", "p3.jpg", "large.jpg"});
  ::close(events);
  const auto at = [&closed](const char* name) {
    return std::find(closed.begin(), closed.end(), name) - closed.begin();
  };
  EXPECT_LT(at("large.jpg"), at("p2.jpg")) << "read in list order";
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "5" + kFrenchDoneEnd);
  EXPECT_EQ(told, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(std::filesystem::exists(path("prefix_large.jpg")));
}

// A FIFO named like a picture, dropped with its folder, is unreadable at
// once instead of holding the worker until someone writes into it.
TEST_F(BatchWorker, FifoIsUnreadable) {
  ASSERT_TRUE(writePicture(path("b.jpg"), 60, 40, image::kJpegEncoder));
  ASSERT_EQ(::mkfifo(path("a.jpg").c_str(), 0600), 0);
  auto runner = makeRunner();
  settings::Settings s = relative(30, 30);
  ASSERT_EQ(runner->handleDrop({folder_.path().string()}, s), DropResult::started);
  // Should the worker hang on the FIFO after all, a writer comes after 60 s.
  std::atomic<bool> ended{false};
  std::atomic<bool> unblocked{false};
  std::thread watchdog([&] {
    if (waitUntil([&] { return ended.load(); }, std::chrono::seconds(60))) return;
    unblocked = true;
    const int fd = ::open(path("a.jpg").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  });
  runner->waitUntilIdle();
  ended = true;
  watchdog.join();
  EXPECT_FALSE(unblocked) << "the worker waited on the FIFO";
  EXPECT_EQ(runner->failures(), (std::vector<PictureFailure>{{path("a.jpg"), FailureReason::unreadable}}));
  EXPECT_TRUE(readPicture(path("prefix_b.jpg")));
}

// The memory budget counts what a picture holds: a reduced picture only the
// rows it is reduced from, so it passes where loading it whole would not; a
// picture kept at its size, or enlarged, is refused with its own reason.
TEST_F(BatchWorker, PicturesBeyondTheMemoryBudgetAreRefused) {
  ASSERT_TRUE(writePicture(path("large.png"), 1500, 1000, image::kPngEncoder));
  ASSERT_TRUE(writePicture(path("small.png"), 150, 100, image::kPngEncoder));
  ASSERT_TRUE(writePicture(path("tiny.png"), 40, 20, image::kPngEncoder));
  auto runner = makeRunner();
  runner->setMemoryBudget(std::uint64_t{2} << 20);  // the large picture whole needs 4.5 MB
  settings::Settings s = relative(150, 150);
  ASSERT_EQ(runner->handleDrop({path("large.png"), path("small.png")}, s), DropResult::started);
  runner->waitUntilIdle();
  EXPECT_EQ(runner->failures(), std::vector<PictureFailure>{});
  EXPECT_EQ(readPicture(path("prefix_large.jpg"))->width, 150);
  s = relative(1500,
               1500);  // the large one keeps its size; 40 x 20 enlarged to 1500 x 750 twice over passes 2 MB
  ASSERT_EQ(runner->handleDrop({path("large.png"), path("tiny.png")}, s), DropResult::started);
  runner->waitUntilIdle();
  EXPECT_EQ(runner->failures(),
            (std::vector<PictureFailure>{{path("large.png"), FailureReason::tooLargeForMemory},
                                         {path("tiny.png"), FailureReason::tooLargeForMemory}}));
}

// Each of several workers has a share of the budget; a picture beyond its
// share is read again alone, with the whole budget, as one after another.
TEST_F(BatchWorker, APictureBeyondItsShareWaitsForTheWholeBudget) {
  ASSERT_TRUE(writePicture(path("a.png"), 1500, 1000, image::kPngEncoder));
  ASSERT_TRUE(writePicture(path("b.png"), 1500, 1000, image::kPngEncoder));
  auto runner = makeRunner();
  RunOptions options;
  options.workers = 2;
  runner->setRunOptions(options);
  runner->setMemoryBudget(std::uint64_t{6} << 20);  // each, kept at its size, needs 5 MB: more than half
  settings::Settings s = relative(1500, 1500);
  ASSERT_EQ(runner->handleDrop({path("a.png"), path("b.png")}, s), DropResult::started);
  runner->waitUntilIdle();
  EXPECT_EQ(runner->failures(), std::vector<PictureFailure>{});
  EXPECT_EQ(readPicture(path("prefix_b.jpg"))->width, 1500);
}

// A small picture first, then files at least twice its size: the threads
// take those ahead of it, and their encoded outputs soon hold more than a
// thread's share of the budget. The first picture must still be taken, and
// the batch end.
TEST_F(BatchWorker, ThePictureWhoseTurnItIsIsAlwaysTaken) {
  std::vector<std::string> sources{path("first.png")};
  ASSERT_TRUE(writePicture(sources[0], 8, 8, image::kPngEncoder));
  for (int i = 0; i < 7; ++i) {
    sources.push_back(path("noise" + std::to_string(i) + ".png"));
    ASSERT_TRUE(testing::writeNoisePicture(sources.back(), 700, 700, image::kPngEncoder, 11u + i));
  }
  auto runner = makeRunner();
  RunOptions options;
  options.workers = 2;
  runner->setRunOptions(options);
  runner->setMemoryBudget(std::uint64_t{8} << 20);
  settings::Settings s = relative(700, 700);
  s.format = settings::OutputFormat::png;
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  const bool ended = runner->waitUntilIdle(testing::kGenerousWait);
  if (!ended) {
    runner->stopBatch();
    runner->waitUntilIdle();
  }
  ASSERT_TRUE(ended) << "the batch waited for ever: remaining " << runner->remaining() << "/8";
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "8" + kFrenchDoneEnd);
  EXPECT_EQ(runner->failures(), std::vector<PictureFailure>{});
}

// One budget of threads for the whole batch: each pool thread is one of
// them, and a resampling on a pool thread gets only those the others leave
// (here the other thread is held reading the second picture).
TEST_F(BatchWorker, PicturesAndTheirResamplingShareOneBudgetOfThreads) {
  const auto sources = writeMany(2, 60, 40);
  for (const int workers : {2, 6}) {
    SCOPED_TRACE(workers);
    stuck_read::hangOn(sources[1]);
    auto runner = makeRunner();
    RunOptions options;
    options.workers = workers;
    int granted = 0;
    bool held = false;
    options.observer = [&](const PictureReport& report) {
      if (report.index != 0) return;
      held = stuck_read::waitUntilEntered();
      granted = image::HelperThreads(0, 1000).count();
      stuck_read::release();
    };
    runner->setRunOptions(options);
    settings::Settings s = relative(30, 30);
    ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
    runner->waitUntilIdle();
    stuck_read::stopHanging();
    EXPECT_TRUE(held);
    EXPECT_EQ(granted, workers - 1);
    EXPECT_EQ(view_.lastStatus(), kFrenchDone + "2" + kFrenchDoneEnd);
  }
}

// Eight pictures, and a batch held exactly where a Stop must land: in a
// picture's read, just before its save, or just after it was told.
class BatchStop : public BatchWorker {
 protected:
  static constexpr int kCount = 8;
  enum class Hold {
    read,                // picture k's read hangs, every picture before it told
    save,                // picture k's save is about to begin
    saveDuringNextRead,  // the same, while picture k + 1's read hangs
    told,                // picture k was just told
  };

  void SetUp() override {
    BatchWorker::SetUp();
    sources_ = writeMany(kCount, 400, 300, "big");
  }
  std::vector<std::string> allowedNames(const char* prefix) const {
    std::vector<std::string> names;
    for (int i = 0; i < kCount; ++i) {
      names.push_back("big" + std::to_string(i) + ".jpg");
      names.push_back(std::string(prefix) + "big" + std::to_string(i) + ".jpg");
    }
    return names;
  }
  std::string output(int i) const { return path("prefix_big" + std::to_string(i) + ".jpg"); }
  void removeOutputs() {
    for (int i = 0; i < kCount; ++i) std::filesystem::remove(output(i));
  }
  // The outputs there, which must be those of the first pictures of the list.
  int writtenOutputs() const {
    int written = 0;
    for (int i = 0; i < kCount; ++i) {
      if (!std::filesystem::exists(output(i))) continue;
      EXPECT_EQ(i, written) << "a later picture was written before an earlier one";
      ++written;
    }
    return written;
  }

  // Runs a batch of the pictures, holds it at `hold` of picture k, stops it
  // there, lets it go and waits for its end. The pictures told, in order,
  // are left in told_.
  void stopAt(BatchRunner& runner, RunOptions options, Hold hold, std::size_t k, settings::Settings s) {
    ToldPictures told;
    Gate gate;
    const auto tell = told.observer();
    options.observer = [&, tell](const PictureReport& report) {
      tell(report);
      if (hold == Hold::told && report.index == k) gate.pass();
    };
    if (hold == Hold::save || hold == Hold::saveDuringNextRead) {
      options.beforeSave = [&](std::size_t index) {
        if (index == k) gate.pass();
      };
    }
    if (hold == Hold::read) stuck_read::hangOn(sources_[k]);
    if (hold == Hold::saveDuringNextRead) stuck_read::hangOn(sources_[k + 1]);
    runner.setRunOptions(options);
    ASSERT_EQ(runner.handleDrop(sources_, s), DropResult::started);
    if (hold == Hold::read || hold == Hold::saveDuringNextRead) {
      EXPECT_TRUE(readHeld());
    }
    if (hold == Hold::read) {
      EXPECT_TRUE(told.waitFor(k));
    }
    if (hold != Hold::read) {
      EXPECT_TRUE(gate.waitUntilArrived());
    }
    runner.stopBatch();
    gate.open();
    stuck_read::release();
    runner.waitUntilIdle();
    stuck_read::stopHanging();
    told_ = told.indices();
  }

  std::vector<std::string> sources_;
  std::vector<std::size_t> told_;
};

// Wherever Stop lands, the stop text counts exactly the pictures written,
// each written whole, and no temporary file is left. A save about to begin
// is abandoned when nothing after it is read yet (it is the picture in
// progress) and completes when the next picture is being read.
TEST_F(BatchStop, StopCountsExactlyTheFinishedPicturesAndLeavesNoPartialFile) {
  struct Trial {
    const char* where;
    Hold hold;
    int workers;
    int written;
  };
  const Trial trials[] = {
      {"third picture being read", Hold::read, 1, 2},
      {"third picture's save about to begin", Hold::save, 1, 2},
      {"third picture's save about to begin, the fourth being read", Hold::saveDuringNextRead, 2, 3},
      {"second picture just told", Hold::told, 1, 2},
  };
  for (const Trial& trial : trials) {
    SCOPED_TRACE(trial.where);
    view_.clear();
    removeOutputs();
    auto runner = makeRunner();
    RunOptions options;
    options.workers = trial.workers;
    stopAt(*runner, options, trial.hold, trial.hold == Hold::told ? 1 : 2, relative(200, 150));

    EXPECT_FALSE(runner->running());
    EXPECT_EQ(busy_.load(), 0);
    const int written = writtenOutputs();
    EXPECT_EQ(written, trial.written);
    for (int i = 0; i < written; ++i) {
      const auto facts = readPicture(output(i));
      ASSERT_TRUE(facts) << output(i);
      EXPECT_EQ(facts->width, 200);
      EXPECT_EQ(facts->height, 150);
    }
    expectOnlyNames(allowedNames("prefix_"));
    const auto statuses = view_.statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(),
              kFrenchStop + std::to_string(written) + "/" + std::to_string(kCount) + kStopEnd);
    for (const std::string& text : statuses) EXPECT_EQ(text.find(kFrenchDone), std::string::npos) << text;
    EXPECT_EQ(view_.count(Event::cue), 1);
    EXPECT_FALSE(view_.events().back().kind == Event::controls && view_.events().back().running);
    EXPECT_EQ(runner->failures().size(), static_cast<std::size_t>(kCount - written));
    for (const PictureFailure& failure : runner->failures())
      EXPECT_EQ(failure.reason, FailureReason::stopped);
    EXPECT_EQ(runner->batchTotal(), 0);
    EXPECT_EQ(runner->remaining(), 0);
  }
}

// Stop at the first, a middle and the last picture, in its read, before its
// save and after it was told, reduced and enlarged, on the default threads:
// the count always equals the pictures written, and every other picture is
// listed as stopped.
TEST_F(BatchStop, StopCountEqualsTheFilesWrittenWheneverStopLands) {
  for (const Hold hold : {Hold::read, Hold::save, Hold::told}) {
    for (const std::size_t k : {0u, 1u, 4u, 7u}) {
      for (const int width : {200, 500}) {
        SCOPED_TRACE(std::to_string(static_cast<int>(hold)) + " at " + std::to_string(k) + ", width " +
                     std::to_string(width));
        view_.clear();
        removeOutputs();
        auto runner = makeRunner();
        stopAt(*runner, RunOptions{}, hold, k, relative(width, 150));
        const int written = writtenOutputs();
        if (hold == Hold::read) {
          EXPECT_EQ(written, static_cast<int>(k));
        }
        if (hold == Hold::save) {
          EXPECT_GE(written, static_cast<int>(k));
        }
        if (hold == Hold::told) {
          EXPECT_GE(written, static_cast<int>(k) + 1);
        }
        if (written < kCount) {
          EXPECT_EQ(view_.lastStatus(), kFrenchStop + std::to_string(written) + "/8" + kStopEnd);
        }
        EXPECT_EQ(runner->failures().size(), static_cast<std::size_t>(kCount - written));
        for (const PictureFailure& failure : runner->failures())
          EXPECT_EQ(failure.reason, FailureReason::stopped);
        for (int i = 0; i < written; ++i) EXPECT_EQ(readPicture(output(i))->width, width);
        expectOnlyNames(allowedNames("prefix_"));
      }
    }
  }
}

// Four workers, and two later pictures much larger files, taken ahead of
// those before them: Stop while any picture is read, once every picture
// before it is told, writes exactly the pictures before it; every picture
// is told once in list order, and no temporary file is left.
TEST_F(BatchStop, SeveralWorkersStopAfterExactlyTheFirstPictures) {
  for (const char* name : {"big5.jpg", "big7.jpg"})
    ASSERT_TRUE(writePicture(path(name), 800, 600, image::kJpegEncoder));
  for (std::size_t k = 0; k < kCount; ++k) {
    SCOPED_TRACE(k);
    view_.clear();
    removeOutputs();
    auto runner = makeRunner();
    RunOptions options;
    options.workers = 4;
    stopAt(*runner, options, Hold::read, k, relative(200, 150));
    const int written = writtenOutputs();
    EXPECT_EQ(written, static_cast<int>(k));
    EXPECT_EQ(view_.lastStatus(), kFrenchStop + std::to_string(written) + "/8" + kStopEnd);
    EXPECT_EQ(told_, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    expectOnlyNames(allowedNames("prefix_"));
  }
}

TEST_F(BatchStop, EnglishStopText) {
  auto runner = makeRunner("UK");
  RunOptions options;
  options.workers = 1;
  stopAt(*runner, options, Hold::told, 0, relative(200, 150));
  EXPECT_EQ(writtenOutputs(), 1);
  EXPECT_EQ(view_.lastStatus(), "Stop : 1/8" + kStopEnd);
}

// Without a prefix the outputs replace their sources: a Stop in the fourth
// picture's read, or just before its save, leaves every source either whole
// or replaced by its complete output, as many replaced as the text says.
TEST_F(BatchStop, StopWithEmptyPrefixKeepsEverySourceWhole) {
  for (const Hold hold : {Hold::read, Hold::save}) {
    SCOPED_TRACE(static_cast<int>(hold));
    view_.clear();
    sources_ = writeMany(kCount, 400, 300, "big");
    std::vector<std::string> originals;
    for (const auto& source : sources_) originals.push_back(readBytes(source));
    auto runner = makeRunner();
    RunOptions options;
    options.workers = 1;
    stopAt(*runner, options, hold, 3, relative(200, 150, ""));
    int replaced = 0;
    for (int i = 0; i < kCount; ++i) {
      if (readBytes(sources_[static_cast<std::size_t>(i)]) == originals[static_cast<std::size_t>(i)])
        continue;
      EXPECT_EQ(i, replaced) << "a later source was replaced before an earlier one";
      ++replaced;
      const auto facts = readPicture(sources_[static_cast<std::size_t>(i)]);
      ASSERT_TRUE(facts);
      EXPECT_EQ(facts->width, 200);
    }
    EXPECT_EQ(replaced, 3);
    expectOnlyNames(allowedNames(""));
    EXPECT_EQ(view_.lastStatus(), kFrenchStop + std::to_string(replaced) + "/8" + kStopEnd);
  }
}

TEST_F(BatchStop, DropDuringABatchIsIgnored) {
  auto runner = makeRunner();
  settings::Settings s = relative(200, 150);
  stuck_read::hangOn(sources_[0]);  // the batch is certainly running during the second drop
  ASSERT_EQ(runner->handleDrop(sources_, s), DropResult::started);
  ASSERT_TRUE(runner->running());
  // Should the second drop wait for the batch after all, the read is let go after 30 s.
  std::atomic<bool> dropped{false};
  std::thread watchdog([&dropped] {
    if (!waitUntil([&] { return dropped.load(); }, std::chrono::seconds(30))) stuck_read::release();
  });
  settings::Settings other = relative(10, 10, "0");
  EXPECT_EQ(runner->handleDrop({path("big0.jpg")}, other), DropResult::ignoredWhileRunning);
  dropped = true;
  watchdog.join();
  EXPECT_FALSE(stuck_read::isReleased()) << "the second drop waited for the batch";
  EXPECT_EQ(other.prefix, "0");  // an ignored drop changes nothing
  EXPECT_EQ(runner->job(), sources_);
  stuck_read::release();
  runner->waitUntilIdle();
  stuck_read::stopHanging();
  EXPECT_EQ(view_.lastStatus(), kFrenchDone + "8" + kFrenchDoneEnd);
  EXPECT_EQ(view_.count(Event::cue), 1);
  for (int i = 0; i < kCount; ++i) {
    const auto facts = readPicture(output(i));
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->width, 200);
  }
}

// The program ends (the runner is destroyed) while the second picture's save
// is about to begin: that save is abandoned, nothing partial is left, and
// neither a completion nor a stop text is shown.
TEST_F(BatchStop, EndingWhileRunningLeavesNoPartialFile) {
  auto runner = makeRunner();
  Gate save;
  RunOptions options;
  options.workers = 1;
  options.beforeSave = [&save](std::size_t index) {
    if (index == 1) save.pass();
  };
  runner->setRunOptions(options);
  settings::Settings s = relative(200, 150);
  ASSERT_EQ(runner->handleDrop(sources_, s), DropResult::started);
  ASSERT_TRUE(save.waitUntilArrived());
  // The destructor raises Stop, then waits for the worker, which the gate
  // holds until Stop has been raised.
  std::thread ending([&runner] { runner.reset(); });
  EXPECT_TRUE(waitUntil([this] { return busy_.load() == 0; }));
  save.open();
  ending.join();
  EXPECT_EQ(busy_.load(), 0);
  expectOnlyNames(allowedNames("prefix_"));
  EXPECT_TRUE(readPicture(output(0)));
  for (int i = 1; i < kCount; ++i) EXPECT_FALSE(std::filesystem::exists(output(i))) << output(i);
  for (const std::string& text : view_.statuses()) {
    EXPECT_EQ(text.find(kFrenchDone), std::string::npos) << text;
    EXPECT_EQ(text.find(kFrenchStop), std::string::npos) << text;
  }
}

// A change made while a picture is read applies from the next picture taken
// on, never to the one in progress (here its read is held while the change
// comes); and wherever changes land, no picture mixes two states of the
// settings (a ".jpg" name with PNG content, or the other state's size).
TEST_F(BatchWorker, SettingsChangesNeverMixWithinAPicture) {
  {
    const auto held = writeMany(4, 200, 150, "held");
    stuck_read::hangOn(held[1]);
    auto runner = makeRunner();
    RunOptions options;
    options.workers = 1;
    runner->setRunOptions(options);
    settings::Settings s = relative(100, 100);
    ASSERT_EQ(runner->handleDrop(held, s), DropResult::started);
    ASSERT_TRUE(readHeld());
    settings::Settings changed = s;
    changed.format = settings::OutputFormat::png;
    changed.landscapeWidth = 50;
    shared_.publish(changed);
    stuck_read::release();
    runner->waitUntilIdle();
    stuck_read::stopHanging();
    for (int i = 0; i < 4; ++i) {
      const std::string output = path("prefix_held" + std::to_string(i) + (i < 2 ? ".jpg" : ".png"));
      EXPECT_EQ(magicOf(output), i < 2 ? "jpeg" : "png") << output;
      const auto facts = readPicture(output);
      ASSERT_TRUE(facts) << output;
      EXPECT_EQ(facts->width, i < 2 ? 100 : 50) << output;
    }
  }

  const auto sources = writeMany(12, 200, 150);
  auto runner = makeRunner();
  settings::Settings s = relative(100, 100);
  std::atomic<bool> flipping{true};
  // Its own copy: the drop below rewrites the prefix of `s`.
  std::thread flipper([&, local = s]() mutable {
    bool png = false;
    while (flipping.load()) {
      png = !png;
      local.format = png ? settings::OutputFormat::png : settings::OutputFormat::jpeg;
      local.landscapeWidth = png ? 50 : 100;
      shared_.publish(local);
      std::this_thread::yield();  // changes at any moment, as often as the machine allows
    }
  });
  ASSERT_EQ(runner->handleDrop(sources, s), DropResult::started);
  runner->waitUntilIdle();
  flipping.store(false);
  flipper.join();

  for (int i = 0; i < 12; ++i) {
    const std::string stem = path("prefix_p" + std::to_string(i));
    const bool jpg = std::filesystem::exists(stem + ".jpg");
    const bool png = std::filesystem::exists(stem + ".png");
    ASSERT_TRUE(jpg != png) << stem;
    const std::string output = stem + (jpg ? ".jpg" : ".png");
    EXPECT_EQ(magicOf(output), jpg ? "jpeg" : "png");
    const auto facts = readPicture(output);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->width, jpg ? 100 : 50);
  }
}

}  // namespace
}  // namespace pixmoor::batch

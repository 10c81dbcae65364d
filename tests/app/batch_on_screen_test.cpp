// A batch as the window shows it: a folder dropped on the real window is
// resized into new pictures, the status line counts down and ends with the
// completion text, Stop ends it in the middle.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "gui_test_support.h"
#include "support/stuck_read.h"

namespace pixmoor::app {
namespace {

using testing::HarnessOptions;
using testing::ProgramHarness;

// Writes `count` JPEG pictures of width x height into `folder`.
void makePictures(const std::filesystem::path& folder, int count, int width, int height) {
  std::filesystem::create_directories(folder);
  image::ImageStore store;
  ASSERT_NE(store.create(1, width, height, 24), 0u);
  image::Raster* raster = store.raster(1);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = raster->pictureRow(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 7);
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 5);
      row[3 * x + 2] = static_cast<std::uint8_t>((x + y) * 3);
    }
  }
  for (int i = 0; i < count; ++i) {
    const std::string path = (folder / ("pic" + std::to_string(i) + ".jpg")).string();
    ASSERT_EQ(store.save(1, path, image::kJpegEncoder, 8, -1), image::SaveStatus::saved);
  }
}

void dropOnWindow(app::MainWindow& window, const std::vector<std::filesystem::path>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const auto& path : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path.string())));
  data.setUrls(urls);
  // As a real drag does: the window is entered first, then dropped on.
  QDragEnterEvent enter(QPoint(250, 150), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
  QCoreApplication::sendEvent(&window, &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDropEvent event(QPointF(250, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&window, &event);
  EXPECT_TRUE(event.isAccepted());
  EXPECT_EQ(event.dropAction(), Qt::CopyAction);
}

TEST(BatchOnScreen, DroppedFolderIsResizedAndCompleted) {
  HarnessOptions options;
  ProgramHarness harness(options);
  harness.settings.landscapeWidth = 32;
  const auto folder = harness.folder.path() / "photos";
  makePictures(folder, 3, 64, 48);
  dropOnWindow(harness.window(), {folder});
  harness.program->runner().waitUntilIdle();
  ProgramHarness::settle();

  EXPECT_EQ(harness.window().text(control::statusLine), "Terminé ! 3 images traitées.");
  EXPECT_TRUE(harness.window().control(control::stopButton)->isHidden());
  EXPECT_FALSE(harness.window().control(control::infoArea)->isHidden());
  ASSERT_FALSE(harness.cues.empty());
  EXPECT_EQ(harness.cues.back(), 600);
  for (int i = 0; i < 3; ++i) {
    image::ImageStore check;
    const std::string out = (folder / ("prefix_pic" + std::to_string(i) + ".jpg")).string();
    ASSERT_NE(check.loadFromFile(1, out), 0u) << out;
    EXPECT_EQ(check.imageWidth(1), 32);
    EXPECT_EQ(check.imageHeight(1), 24);
  }
  EXPECT_EQ(testing::entryCount(folder), 6);
}

// The status line of a second batch starts with its own first picture, or
// no name yet, never the last name of the batch before.
TEST(BatchOnScreen, SecondBatchNeverShowsThePreviousName) {
  ProgramHarness harness;
  harness.settings.landscapeWidth = 16;
  const auto folder = harness.folder.path() / "photos";
  makePictures(folder, 2, 40, 20);
  std::filesystem::rename(folder / "pic0.jpg", folder / "new.jpg");
  std::filesystem::rename(folder / "pic1.jpg", folder / "old.jpg");
  dropOnWindow(harness.window(), {folder / "old.jpg"});
  harness.program->runner().waitUntilIdle();
  ProgramHarness::settle();
  std::vector<QString> shown;
  QObject::connect(harness.control<QLineEdit>(control::statusLine), &QLineEdit::textChanged,
                   [&shown](const QString& text) { shown.push_back(text); });
  dropOnWindow(harness.window(), {folder / "new.jpg"});
  harness.program->runner().waitUntilIdle();
  ProgramHarness::settle();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_TRUE(shown.front() == "1/1 - " || shown.front() == "1/1 - fix_new.jpg")
      << shown.front().toStdString();
  EXPECT_EQ(shown.back(), "Terminé ! 1 images traitées.");
}

TEST(BatchOnScreen, EnglishCompletionText) {
  HarnessOptions options;
  options.language = "UK";
  options.format = "PNG";
  ProgramHarness harness(options);
  harness.settings.landscapeWidth = 16;
  const auto folder = harness.folder.path() / "photos";
  makePictures(folder, 2, 40, 20);
  dropOnWindow(harness.window(), {folder / "pic0.jpg", folder / "pic1.jpg"});
  harness.program->runner().waitUntilIdle();
  ProgramHarness::settle();
  EXPECT_EQ(harness.window().text(control::statusLine), "Finish ! 2 pictures were processed..");
  EXPECT_TRUE(std::filesystem::exists(folder / "prefix_pic1.png"));
}

TEST(BatchOnScreen, DropWithoutPicturesChangesNothing) {
  ProgramHarness harness;
  const auto folder = harness.folder.path() / "empty";
  std::filesystem::create_directories(folder);
  testing::writeBytes((folder / "notes.txt").string(), "text");
  dropOnWindow(harness.window(), {folder});
  ProgramHarness::settle();
  EXPECT_EQ(harness.window().text(control::statusLine), "http://www.pixmoor.example");
  EXPECT_TRUE(harness.window().control(control::stopButton)->isHidden());
  EXPECT_TRUE(harness.cues.empty());
}

// The batch is held where the test wants it: the read of the third picture
// hangs (as on a dead network mount) until the test lets it go, so exactly
// two pictures are finished when Stop is pressed, however fast the machine.
TEST(BatchOnScreen, StopInTheMiddle) {
  ProgramHarness harness;
  harness.settings.landscapeWidth = 30;
  const auto folder = harness.folder.path() / "many";
  const int total = 8;
  const int finished = 2;
  makePictures(folder, total, 60, 40);
  // A dropped folder's pictures come in the order the folder lists them.
  std::vector<std::filesystem::path> listed;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) listed.push_back(entry.path());
  ASSERT_EQ(listed.size(), static_cast<std::size_t>(total));
  stuck_read::hangOn(listed[finished].string());
  struct LetGo {  // also when the test fails: the batch must end with it
    ~LetGo() {
      stuck_read::release();
      stuck_read::stopHanging();
    }
  } letGo;
  dropOnWindow(harness.window(), {folder});
  ProgramHarness::settle();
  EXPECT_FALSE(harness.window().control(control::stopButton)->isHidden());
  EXPECT_TRUE(harness.window().control(control::infoArea)->isHidden());
  ASSERT_TRUE(stuck_read::waitUntilEntered());
  // The pictures before the held one are finished, each counted as it is,
  // while the window keeps handling events.
  for (int i = 0; i < 60000 && harness.program->runner().remaining() > total - finished; ++i) {
    ProgramHarness::settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(harness.program->runner().remaining(), total - finished);
  // Commands stay available during the batch: a setting changes and is stored.
  harness.window().raise(platform::UiEventKind::menuCommand, command::spanish);
  EXPECT_EQ(harness.window().text(control::statusLine), "Disponible pronto");
  harness.window().raise(platform::UiEventKind::control, control::qualitySlider);
  EXPECT_EQ(harness.userGroup().at("QUALITE"), "8");

  harness.control<QAbstractButton>(control::stopButton)->click();
  ProgramHarness::settle();
  const std::string status = harness.window().text(control::statusLine);
  EXPECT_EQ(status, "Arrêt : 2/8 images traitées !");
  EXPECT_TRUE(harness.window().control(control::stopButton)->isHidden());
  EXPECT_FALSE(harness.window().control(control::infoArea)->isHidden());
  EXPECT_EQ(harness.cues, std::vector<int>{600});
  // The held read ends; the picture it belongs to is abandoned.
  stuck_read::release();
  harness.program->runner().waitUntilIdle();
  stuck_read::stopHanging();
  ProgramHarness::settle();
  for (int i = 0; i < total; ++i) {
    const auto output = folder / ("prefix_" + listed[static_cast<std::size_t>(i)].filename().string());
    EXPECT_EQ(std::filesystem::exists(output), i < finished) << output;
  }
  // No partial or temporary file is left behind.
  EXPECT_EQ(testing::entryCount(folder), total + finished);
  // No completion text follows.
  EXPECT_EQ(harness.window().text(control::statusLine), status);
}

TEST(BatchOnScreen, NoPrefixDropKeepsZeroOnScreenAndSavesZero) {
  HarnessOptions options;
  options.prefix = "0";
  ProgramHarness harness(options);
  harness.settings.landscapeWidth = 20;
  const auto folder = harness.folder.path() / "replace";
  makePictures(folder, 1, 40, 30);
  dropOnWindow(harness.window(), {folder});
  harness.program->runner().waitUntilIdle();
  ProgramHarness::settle();
  EXPECT_EQ(harness.settings.prefix, "");
  EXPECT_EQ(harness.window().text(control::prefixValue), "0");
  image::ImageStore check;
  ASSERT_NE(check.loadFromFile(1, (folder / "pic0.jpg").string()), 0u);
  EXPECT_EQ(check.imageWidth(1), 20);  // the source was replaced
  harness.window().close();
  EXPECT_EQ(harness.userGroup().at("PREFIX"), "0");
}

}  // namespace
}  // namespace pixmoor::app

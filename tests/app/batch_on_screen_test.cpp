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

#include "app_core/settings_summary.h"
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

// Drops the mime data on the window as a real drag does: the window is
// entered first, then dropped on.
void dropOnWindow(app::MainWindow& window, const QMimeData& data) {
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

void dropOnWindow(app::MainWindow& window, const std::vector<std::filesystem::path>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const auto& path : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path.string())));
  data.setUrls(urls);
  dropOnWindow(window, data);
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
  // The first tick names the new picture or none; it may come before its
  // count fell or, on a busy machine, after it (0/1).
  EXPECT_TRUE(shown.front() == "1/1 - " || shown.front() == "1/1 - fix_new.jpg" ||
              shown.front() == "0/1 - fix_new.jpg")
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

// Linux names are bytes: a name that is not UTF-8 (Latin-1 from an old
// camera card) comes as percent-escapes in the drop's text/uri-list and is
// taken byte for byte, beside UTF-8 names and escaped spaces and marks, in
// the order given; a URL that names no local file is left out.
TEST(BatchOnScreen, DroppedNamesAreTakenByteForByte) {
  ProgramHarness harness;
  harness.settings.landscapeWidth = 16;
  const auto folder = harness.folder.path() / "card";
  makePictures(folder, 3, 40, 20);
  const std::string latin1 = "caf\xE9.jpg";
  const std::string utf8 = "caf\xC3\xA9.jpg";
  const std::string marks = "a #1?.jpg";
  std::filesystem::rename(folder / "pic0.jpg", folder / latin1);
  std::filesystem::rename(folder / "pic1.jpg", folder / utf8);
  std::filesystem::rename(folder / "pic2.jpg", folder / marks);
  const std::string base = "file://" + folder.string() + "/";
  QMimeData data;
  data.setData("text/uri-list",
               QByteArray::fromStdString("# dropped by a file manager\r\n" + base +
                                         "caf%E9.jpg\r\nhttp://example.org/x.jpg\r\n" + base +
                                         "caf%C3%A9.jpg\r\n" + base + "a%20%231%3F.jpg\r\n"));
  dropOnWindow(harness.window(), data);
  harness.program->runner().waitUntilIdle();
  ProgramHarness::settle();
  EXPECT_EQ(harness.window().text(control::statusLine), "Terminé ! 3 images traitées.");
  for (const std::string& name : {latin1, utf8, marks}) {
    image::ImageStore check;
    ASSERT_NE(check.loadFromFile(1, (folder / ("prefix_" + name)).string()), 0u) << name;
    EXPECT_EQ(check.imageWidth(1), 16);
  }
  EXPECT_EQ(testing::entryCount(folder), 6);
}

// A drop of pictures of which some produce no file: the status line keeps
// its completion text; the information area lists those pictures with the
// reason, in the interface's language, until the next action replaces it:
// a help text, a settings change (the summary comes back), the next batch.
struct FailureListRow {
  const char* language;
  const char* completion;
  const char* heading;  // follows the count
  const char* separator;
  const char* unknownFormat;
  const char* unsupported;
  const char* nameTooLong;
};

class BatchFailures : public ::testing::TestWithParam<FailureListRow> {};

TEST_P(BatchFailures, AreListedUntilTheNextAction) {
  const FailureListRow& row = GetParam();
  HarnessOptions options;
  options.language = row.language;
  ProgramHarness harness(options);
  harness.settings.landscapeWidth = 16;
  const auto folder = harness.folder.path() / "mixed";
  makePictures(folder, 2, 40, 20);
  testing::writeBytes((folder / "notes.jpg").string(), "plain text, not a picture");
  testing::writeBytes((folder / "empty.png").string(), "");
  // A BMP header whose width, 40000, passes the largest side there is.
  std::string huge = "BM" + std::string(12, '\0');
  huge[10] = 54;
  huge += std::string("\x28\0\0\0\x40\x9C\0\0\x01\0\0\0\x01\0\x18\0", 16) + std::string(24, '\0');
  testing::writeBytes((folder / "huge.bmp").string(), huge);
  const std::string longName = std::string(250, 'n') + ".jpg";  // its output's name passes 255 bytes
  std::filesystem::copy_file(folder / "pic0.jpg", folder / longName);
  const std::vector<std::filesystem::path> dropped = {folder / "pic0.jpg",  folder / "notes.jpg",
                                                      folder / "empty.png", folder / "huge.bmp",
                                                      folder / longName,    folder / "pic1.jpg"};
  const auto runBatch = [&](const std::vector<std::filesystem::path>& paths) {
    dropOnWindow(harness.window(), paths);
    harness.program->runner().waitUntilIdle();
    ProgramHarness::settle();
  };
  const auto summary = [&] {
    return settingsSummary(harness.settings, harness.state.desktopWidth, harness.state.desktopHeight,
                           harness.texts());
  };
  const std::string list = std::string("4") + row.heading + "\nnotes.jpg" + row.separator +
                           row.unknownFormat + "\nempty.png" + row.separator + row.unknownFormat +
                           "\nhuge.bmp" + row.separator + row.unsupported + "\n" + longName + row.separator +
                           row.nameTooLong;

  runBatch(dropped);
  EXPECT_EQ(harness.window().text(control::statusLine), row.completion);
  EXPECT_FALSE(harness.window().control(control::infoArea)->isHidden());
  EXPECT_EQ(harness.window().text(control::infoArea), list);
  EXPECT_TRUE(std::filesystem::exists(folder / "prefix_pic1.jpg"));

  // A command that shows nothing there leaves the list; a settings change
  // brings the summary back.
  harness.window().raise(platform::UiEventKind::menuCommand, command::spanish);
  EXPECT_EQ(harness.window().text(control::infoArea), list);
  harness.window().raise(platform::UiEventKind::control, control::qualitySlider);
  EXPECT_EQ(harness.window().text(control::infoArea), summary());

  // A help text replaces the list too, and stays through a batch without failures.
  runBatch(dropped);
  EXPECT_EQ(harness.window().text(control::infoArea), list);
  harness.window().raise(platform::UiEventKind::menuCommand, command::about);
  EXPECT_EQ(harness.window().text(control::infoArea), harness.texts().aboutText);
  runBatch({folder / "pic0.jpg"});
  EXPECT_EQ(harness.window().text(control::infoArea), harness.texts().aboutText);

  // The next batch replaces the list: without failures, the summary shows.
  runBatch(dropped);
  EXPECT_EQ(harness.window().text(control::infoArea), list);
  runBatch({folder / "pic0.jpg", folder / "pic1.jpg"});
  EXPECT_EQ(harness.window().text(control::infoArea), summary());
  EXPECT_EQ(harness.window().text(control::statusLine),
            harness.texts().finishedPrefix + "2" + harness.texts().finishedSuffix);

  // A prefix change is a settings change as well.
  runBatch(dropped);
  harness.requesters.inputAnswers = {"other_"};
  harness.window().raise(platform::UiEventKind::control, control::changePrefixButton);
  EXPECT_EQ(harness.window().text(control::infoArea), summary());
}

INSTANTIATE_TEST_SUITE_P(
    Languages, BatchFailures,
    ::testing::Values(FailureListRow{"FR", "Terminé ! 6 images traitées.",
                                     " images n'ont produit aucun fichier :", " : ", "format inconnu",
                                     "image non prise en charge (trop grande ou inutilisable)",
                                     "nom trop long"},
                      FailureListRow{"UK", "Finish ! 6 pictures were processed..",
                                     " pictures produced no file:", ": ", "unknown format",
                                     "unsupported picture (too large or unusable)", "name too long"}));

// One picture is named in the singular, and a Stop's leftovers are not
// listed: the stop text counts them already. The read of the third picture
// is held, so Stop lands with pictures left however fast the machine.
TEST(BatchOnScreen, StopListsOnlyWhatFailedBeforeIt) {
  ProgramHarness harness;
  harness.settings.landscapeWidth = 30;
  const auto folder = harness.folder.path() / "many";
  const int total = 8;
  makePictures(folder, total, 60, 40);
  testing::writeBytes((folder / "pic0.jpg").string(), "not a picture");
  std::vector<std::filesystem::path> paths;
  for (int i = 0; i < total; ++i) paths.push_back(folder / ("pic" + std::to_string(i) + ".jpg"));
  stuck_read::hangOn(paths[2].string());
  struct LetGo {  // also when the test fails: the batch must end with it
    ~LetGo() {
      stuck_read::release();
      stuck_read::stopHanging();
    }
  } letGo;
  dropOnWindow(harness.window(), paths);
  ASSERT_TRUE(stuck_read::waitUntilEntered());
  for (int i = 0; i < 60000 && harness.program->runner().remaining() > total - 2; ++i) {
    ProgramHarness::settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(harness.program->runner().remaining(), total - 2);
  harness.control<QAbstractButton>(control::stopButton)->click();
  stuck_read::release();
  harness.program->runner().waitUntilIdle();
  ProgramHarness::settle();
  EXPECT_EQ(harness.window().text(control::statusLine), "Arrêt : 2/8 images traitées !");
  EXPECT_EQ(harness.window().text(control::infoArea),
            "1 image n'a produit aucun fichier :\npic0.jpg : format inconnu");
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
  // Nothing failed: the pictures the Stop left make no list.
  EXPECT_EQ(harness.window().text(control::infoArea),
            settingsSummary(harness.settings, harness.state.desktopWidth, harness.state.desktopHeight,
                            harness.texts()));
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

// The end of a "Resize with Pixmoor" run as the notification tells it: the
// companion's report read back, hostile lines and names included.
#include "file_actions/resize_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "texts/program_version.h"

namespace pixmoor::file_actions {
namespace {

texts::UiTexts textsOf(std::string_view language) {
  return texts::BuildUiTexts(language, texts::kTitleBase, texts::kVersionText, "\n", 1920, 1080, "");
}

TEST(ResizeReport, ReadsTheCompanionsReportAndIgnoresWhatIsNotIt) {
  const ResizeReport report = readResizeReport(
      "{\"type\":\"skipped\",\"source\":\"/p/gone\",\"reason\":\"not-found\"}\n"
      "{\"type\":\"picture\",\"source\":\"/p/a.jpg\",\"outcome\":\"written\",\"reason\":null}\n"
      "not json at all\n"
      "[1,2]\n"
      "{\"type\":7,\"outcome\":5,\"reason\":[]}\n"
      "{\"type\":\"picture\",\"outcome\":5,\"reason\":{}}\n"
      "{\"type\":\"picture\",\"source\":\"/p/"
      "caf\\\\xE9\\nx.jpg\",\"outcome\":\"failed\",\"reason\":\"disk-full\"}\n"
      "{\"type\":\"picture\",\"source\":\"/p/b.jpg\",\"outcome\":\"failed\",\"reason\":\"stopped\"}\n"
      "{\"type\":\"picture\",\"source\":42,\"outcome\":\"failed\",\"reason\":\"no-such-code\"}\n"
      "{\"type\":\"summary\",\"written\":1}");
  EXPECT_EQ(report.written, 1);
  EXPECT_EQ(report.stopped, 1);
  ASSERT_EQ(report.failures.size(), 2u);
  EXPECT_EQ(report.failures[0].sourcePath, "/p/caf\xEF\xBF\xBD\\nx.jpg");  // U+FFFD, the line feed escaped
  EXPECT_EQ(report.failures[0].reason, batch::FailureReason::diskFull);
  EXPECT_EQ(report.failures[1].sourcePath, "");
  EXPECT_EQ(report.failures[1].reason, batch::FailureReason::unreadable);
  EXPECT_EQ(report.skipped, (std::vector<std::string>{"/p/gone: does not exist"}));
  EXPECT_TRUE(report.summarised);
  EXPECT_FALSE(readResizeReport("{\"type\":\"picture\",\"outcome\":\"written\"").summarised);  // cut short
}

TEST(ResizeReport, TheEndInBothLanguages) {
  ResizeReport report;
  report.written = 1;
  report.failures = {{"/p/notes.jpg", batch::FailureReason::unknownFormat}};
  report.skipped = {"/p/gone: does not exist"};
  const NotificationText english = finalNotification(report, textsOf("UK"), "UK", false, "", {});
  EXPECT_EQ(english.summary, "1 picture written");
  EXPECT_EQ(english.body, "1 picture produced no file:\nnotes.jpg: unknown format\n/p/gone: does not exist");
  report.written = 2;
  const NotificationText french = finalNotification(report, textsOf("FR"), "FR", true, "", {});
  EXPECT_EQ(french.summary, "Arrêt : 2 images écrites");
  EXPECT_EQ(french.body.substr(0, french.body.find('\n')), "1 image n'a produit aucun fichier :");
  // The companion could not run: its own words instead of a list.
  EXPECT_EQ(finalNotification({}, textsOf("UK"), "UK", false, "pixmoor-batch: no PATH given", {}).body,
            "pixmoor-batch: no PATH given");
}

// A source cut short is written with the missing part filled in: the end
// names its output and the warning, not only a count.
TEST(ResizeReport, OutputsWrittenWithAWarningAreListed) {
  const ResizeReport report = readResizeReport(
      "{\"type\":\"picture\",\"source\":\"/p/cut.jpg\",\"output\":\"/p/menu_cut.jpg\","
      "\"outcome\":\"written\",\"reason\":null,\"warnings\":[\"truncated\",\"exif-damaged\",\"nonsense\",3]}"
      "\n"
      "{\"type\":\"picture\",\"source\":\"/p/ok.jpg\",\"output\":\"/p/menu_ok.jpg\","
      "\"outcome\":\"written\",\"reason\":null,\"warnings\":[]}\n"
      "{\"type\":\"summary\"}");
  EXPECT_EQ(
      finalNotification(report, textsOf("UK"), "UK", false, "", {}).body,
      "1 picture written with a warning:\nmenu_cut.jpg: truncated (its data ended or broke off early; the "
      "missing part is filled in); EXIF block damaged (left out of the output)");
  EXPECT_THAT(finalNotification(report, textsOf("FR"), "FR", false, "", {}).body,
              ::testing::StartsWith("1 image écrite avec un avertissement :\nmenu_cut.jpg : tronquée"));
}

// Nothing to do: each chosen path says why it gave no picture.
TEST(ResizeReport, AChosenPathThatGaveNoPictureSaysWhy) {
  const ResizeReport empty = readResizeReport("{\"type\":\"summary\",\"pictures\":0}");
  const std::vector<ChosenPath> chosen = {{"/p/notes.txt", false}, {"/p/empty", true}};
  const NotificationText english = finalNotification(empty, textsOf("UK"), "UK", false, "", chosen);
  EXPECT_EQ(english.summary, "0 pictures written");
  EXPECT_EQ(english.body,
            "/p/notes.txt: not a picture (its name is not one of a picture format)\n"
            "/p/empty: no picture found (its subfolders are not entered)");
  EXPECT_EQ(finalNotification(empty, textsOf("FR"), "FR", false, "", chosen).summary, "0 image écrite");
  // A folder whose pictures ran, and a picture the report names, need no word.
  const ResizeReport ran = readResizeReport(
      "{\"type\":\"picture\",\"source\":\"/p/empty/a.jpg\",\"outcome\":\"written\",\"reason\":null}\n"
      "{\"type\":\"picture\",\"source\":\"/p/"
      "caf\\\\xE9.jpg\",\"outcome\":\"failed\",\"reason\":\"stopped\"}\n"
      "{\"type\":\"summary\"}");
  EXPECT_EQ(
      finalNotification(ran, textsOf("UK"), "UK", false, "", {{"/p/empty", true}, {"/p/caf\xE9.jpg", false}})
          .body,
      "");
}

// The count while it runs, and after a Stop what was done of the whole.
TEST(ResizeReport, CountsWhileItRunsAndTotalsAfterAStop) {
  ResizeReport report;
  EXPECT_EQ(runningNotification(textsOf("UK"), "UK", report.done).body, "Resizing the pictures you chose...");
  readReportLine(report, "{\"type\":\"picture\",\"source\":\"/p/a.jpg\",\"outcome\":\"written\"}");
  EXPECT_EQ(runningNotification(textsOf("UK"), "UK", report.done).body,
            "Resizing the pictures you chose...\n1 picture done");
  readReportLine(
      report,
      "{\"type\":\"picture\",\"source\":\"/p/b.jpg\",\"outcome\":\"failed\",\"reason\":\"disk-full\"}");
  EXPECT_EQ(runningNotification(textsOf("FR"), "FR", report.done).body,
            "Redimensionnement des images choisies...\n2 images traitées");
  for (const char* name : {"c", "d", "e"}) {
    readReportLine(report, std::string("{\"type\":\"picture\",\"source\":\"/p/") + name +
                               ".jpg\",\"outcome\":\"failed\",\"reason\":\"stopped\"}");
  }
  readReportLine(report, "{\"type\":\"summary\"}");
  const NotificationText stopped = finalNotification(report, textsOf("UK"), "UK", true, "", {});
  EXPECT_EQ(stopped.summary, "Stopped: 1 picture written");
  EXPECT_THAT(stopped.body,
              ::testing::StartsWith("Done before the Stop: 2 of 5\n1 picture produced no file:"));
  EXPECT_THAT(finalNotification(report, textsOf("FR"), "FR", true, "", {}).body,
              ::testing::StartsWith("Traitées avant l'arrêt : 2 sur 5\n"));
}

}  // namespace
}  // namespace pixmoor::file_actions

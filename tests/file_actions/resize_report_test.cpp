// The end of a "Resize with Pixmoor" run as the notification tells it: the
// companion's report read back, hostile lines and names included.
#include "file_actions/resize_report.h"

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
  const NotificationText english = finalNotification(report, textsOf("UK"), "UK", false, "");
  EXPECT_EQ(english.summary, "1 picture written");
  EXPECT_EQ(english.body, "1 picture produced no file:\nnotes.jpg: unknown format\n/p/gone: does not exist");
  report.written = 2;
  const NotificationText french = finalNotification(report, textsOf("FR"), "FR", true, "");
  EXPECT_EQ(french.summary, "Arrêt : 2 images écrites");
  EXPECT_EQ(french.body.substr(0, french.body.find('\n')), "1 image n'a produit aucun fichier :");
  // The companion could not run: its own words instead of a list.
  EXPECT_EQ(finalNotification({}, textsOf("UK"), "UK", false, "pixmoor-batch: no PATH given").body,
            "pixmoor-batch: no PATH given");
}

}  // namespace
}  // namespace pixmoor::file_actions

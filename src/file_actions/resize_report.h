// What the file managers' "Resize with Pixmoor" tells the user of a run: the
// companion's JSON report read back, line by line as it comes, into counts,
// the pictures that produced no file and the outputs written with a
// warning, and the notifications' texts made from them.
//
// Pure functions of their arguments: any thread. A report line that is no
// JSON object of the companion's is ignored, never an exception.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "batch/picture_outcome.h"
#include "texts/ui_texts.h"

namespace pixmoor::file_actions {

struct WarnedOutput {
  std::string output;  // the output's name as the user reads it
  std::vector<batch::PictureWarning> warnings;
};

struct ResizeReport {
  int written = 0;
  int done = 0;  // every picture the run finished, written or not (not those a Stop left)
  int stopped = 0;
  std::vector<batch::PictureFailure> failures;  // in the run's order, names as the user reads them
  std::vector<WarnedOutput> warned;             // in the run's order
  std::vector<std::string> skipped;             // "name: why", for the paths left out before the run
  std::vector<std::string> named;               // every source the report names, as bytes
  bool summarised = false;                      // the report reached its summary
};

// One line of the companion's --json output, added to `report`.
void readReportLine(ResizeReport& report, std::string_view line);
// The whole output, one object per line.
ResizeReport readResizeReport(std::string_view jsonLines);

// A file name as a notification can show it: valid UTF-8 (a byte that is not
// becomes U+FFFD), its controls escaped as the companion escapes them.
std::string displayName(std::string_view bytes);

struct NotificationText {
  std::string summary;
  std::string body;
};

// A path the user chose, as given to the companion.
struct ChosenPath {
  std::string path;  // bytes
  bool folder = false;
};

// The final notification: how many pictures were written ("Stopped: ..."
// and how many of all were done, when the user stopped the run), then the
// window's list of those that produced no file with their reasons, the
// outputs written with a warning, the paths left out, and the chosen paths
// that gave no picture (a file whose name is no picture's, a folder without
// pictures). `problem`, the companion's own words when it could not run at
// all, replaces the lists. `language` is the interface's: "FR" or "UK".
NotificationText finalNotification(const ResizeReport& report, const texts::UiTexts& texts,
                                   std::string_view language, bool stoppedByUser, std::string_view problem,
                                   const std::vector<ChosenPath>& chosen);

// The notification shown while the run goes on (with its Stop button,
// texts.actionStop): the count of the pictures done so far.
NotificationText runningNotification(const texts::UiTexts& texts, std::string_view language, int done);

}  // namespace pixmoor::file_actions

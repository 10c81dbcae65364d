// What the file managers' "Resize with Pixmoor" tells the user at the end of
// a run: the companion's JSON report read back into counts and the pictures
// that produced no file, and the notification's texts made from them.
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

struct ResizeReport {
  int written = 0;
  int stopped = 0;
  std::vector<batch::PictureFailure> failures;  // in the run's order, names as the user reads them
  std::vector<std::string> skipped;             // "name: why", for the paths left out before the run
  bool summarised = false;                      // the report reached its summary
};

// The companion's --json output, one object per line.
ResizeReport readResizeReport(std::string_view jsonLines);

// A file name as a notification can show it: valid UTF-8 (a byte that is not
// becomes U+FFFD), its controls escaped as the companion escapes them.
std::string displayName(std::string_view bytes);

struct NotificationText {
  std::string summary;
  std::string body;
};

// The final notification: how many pictures were written ("Stopped: ..."
// when the user stopped the run), then the window's list of those that
// produced no file with their reasons and the paths left out. `problem`, the
// companion's own words when it could not run at all, replaces the list.
// `language` is the interface's: "FR" or "UK", as in the settings.
NotificationText finalNotification(const ResizeReport& report, const texts::UiTexts& texts,
                                   std::string_view language, bool stoppedByUser, std::string_view problem);

// The notification shown while the run goes on, and its Stop button.
NotificationText runningNotification(std::string_view language);
std::string stopActionLabel(std::string_view language);

}  // namespace pixmoor::file_actions

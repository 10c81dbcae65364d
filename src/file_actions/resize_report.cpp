#include "file_actions/resize_report.h"

#include <glib.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app_core/failure_list.h"
#include "batch/intake.h"
#include "companion/json_report.h"
#include "companion/printable.h"

namespace pixmoor::file_actions {
namespace {

using Json = nlohmann::json;

// The report names reasons by code; the list words them as the window does.
std::optional<batch::FailureReason> failureOfCode(std::string_view code) {
  for (int value = 0; value <= static_cast<int>(batch::FailureReason::tooManyOpenFiles); ++value) {
    const auto reason = static_cast<batch::FailureReason>(value);
    if (companion::reasonCode(reason) == code) return reason;
  }
  return std::nullopt;
}

std::optional<batch::PictureWarning> warningOfCode(std::string_view code) {
  for (int value = 0; value <= static_cast<int>(batch::PictureWarning::exifTooLarge); ++value) {
    const auto warning = static_cast<batch::PictureWarning>(value);
    if (companion::warningCode(warning) == code) return warning;
  }
  return std::nullopt;
}

std::string skipText(std::string_view code) {
  for (int value = 0; value <= static_cast<int>(batch::SkipReason::outputFolder); ++value) {
    const auto reason = static_cast<batch::SkipReason>(value);
    if (companion::skipReasonCode(reason) == code) return std::string(batch::skipReasonText(reason));
  }
  return std::string(code);
}

const std::string& warningText(const texts::UiTexts& texts, batch::PictureWarning warning) {
  switch (warning) {
    case batch::PictureWarning::truncated:
      return texts.warningTruncated;
    case batch::PictureWarning::changedWhileRead:
      return texts.warningChangedWhileRead;
    case batch::PictureWarning::exifDamaged:
      return texts.warningExifDamaged;
    case batch::PictureWarning::exifTooLarge:
      break;
  }
  return texts.warningExifTooLarge;
}

// A field's text; empty when it is missing or not a string (never a throw).
std::string textOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<std::string> bytesOf(const Json& object, const char* key) {
  return companion::pathBytes(textOf(object, key));
}

std::string fileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// French counts nought in the singular ("0 image écrite"), English in the plural.
std::string counted(int count, const std::string& one, const std::string& many, std::string_view language) {
  const bool singular = count == 1 || (count == 0 && language != "UK");
  return std::to_string(count) + (singular ? one : many);
}

void addLine(std::string& body, const std::string& line) {
  if (line.empty()) return;
  if (!body.empty()) body += '\n';
  body += line;
}

std::string warnedListText(const std::vector<WarnedOutput>& warned, const texts::UiTexts& texts) {
  if (warned.empty()) return {};
  const int count = static_cast<int>(warned.size());
  std::string text =
      std::to_string(count) + (count == 1 ? texts.actionWarningsHeadingOne : texts.actionWarningsHeadingMany);
  for (const WarnedOutput& output : warned) {
    text += "\n" + output.output + texts.failureSeparator;
    for (std::size_t i = 0; i < output.warnings.size(); ++i)
      text += (i > 0 ? "; " : "") + warningText(texts, output.warnings[i]);
  }
  return text;
}

// The chosen paths that gave the run no picture and no reason of its own:
// the companion passes over a file whose name is no picture's, and a folder
// without pictures gives it nothing to do.
std::string passedOverText(const ResizeReport& report, const texts::UiTexts& texts,
                           const std::vector<ChosenPath>& chosen) {
  std::string text;
  const bool noPicture = report.done == 0 && report.stopped == 0;
  for (const ChosenPath& path : chosen) {
    if (std::find(report.named.begin(), report.named.end(), path.path) != report.named.end()) continue;
    if (path.folder && !noPicture) continue;  // its pictures are the run's
    addLine(text, displayName(path.path) + texts.failureSeparator +
                      (path.folder ? texts.actionNoPictureFound : texts.actionNotAPicture));
  }
  return text;
}

}  // namespace

std::string displayName(std::string_view bytes) {
  const std::string escaped = companion::printable(std::string(bytes));
  gchar* valid = g_utf8_make_valid(escaped.data(), static_cast<gssize>(escaped.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

void readReportLine(ResizeReport& report, std::string_view line) {
  const Json object = Json::parse(line, nullptr, false);
  if (!object.is_object()) return;
  const std::string type = textOf(object, "type");
  const auto source = bytesOf(object, "source");
  const std::string name = source ? displayName(*source) : std::string();
  if (type == "picture") {
    if (source) report.named.push_back(*source);
    const std::string reason = textOf(object, "reason");
    if (textOf(object, "outcome") == "written") {
      ++report.written;
      ++report.done;
      const auto found = object.find("warnings");
      WarnedOutput warned;
      if (found != object.end() && found->is_array()) {
        for (const Json& code : *found) {
          const auto warning = code.is_string() ? warningOfCode(code.get<std::string>()) : std::nullopt;
          if (warning) warned.warnings.push_back(*warning);
        }
      }
      if (!warned.warnings.empty()) {
        const auto output = bytesOf(object, "output");
        warned.output = displayName(fileName(output.value_or(source.value_or(""))));
        report.warned.push_back(std::move(warned));
      }
    } else if (reason == "stopped") {
      ++report.stopped;
    } else if (!reason.empty()) {
      ++report.done;
      const auto failure = failureOfCode(reason);
      report.failures.push_back({name, failure.value_or(batch::FailureReason::unreadable)});
    }
  } else if (type == "skipped") {
    if (source) report.named.push_back(*source);
    report.skipped.push_back(name + ": " + skipText(textOf(object, "reason")));
  } else if (type == "summary") {
    report.summarised = true;
  }
}

ResizeReport readResizeReport(std::string_view jsonLines) {
  ResizeReport report;
  std::size_t start = 0;
  while (start < jsonLines.size()) {
    std::size_t end = jsonLines.find('\n', start);
    if (end == std::string_view::npos) end = jsonLines.size();
    readReportLine(report, jsonLines.substr(start, end - start));
    start = end + 1;
  }
  return report;
}

NotificationText finalNotification(const ResizeReport& report, const texts::UiTexts& texts,
                                   std::string_view language, bool stoppedByUser, std::string_view problem,
                                   const std::vector<ChosenPath>& chosen) {
  NotificationText text;
  text.summary = counted(report.written, texts.actionWrittenOne, texts.actionWrittenMany, language);
  if (stoppedByUser) text.summary = texts.actionStoppedPrefix + text.summary;
  if (!problem.empty()) {
    text.body = std::string(problem);
    return text;
  }
  // The whole is known once the report is: a picture a Stop left has its line too.
  if (stoppedByUser && report.summarised) {
    addLine(text.body, texts.actionStoppedTotalPrefix + std::to_string(report.done) +
                           texts.actionStoppedTotalOf + std::to_string(report.done + report.stopped));
  }
  addLine(text.body, app::failureListText(report.failures, texts));
  addLine(text.body, warnedListText(report.warned, texts));
  for (const std::string& line : report.skipped) addLine(text.body, line);
  if (report.summarised) addLine(text.body, passedOverText(report, texts, chosen));
  return text;
}

NotificationText runningNotification(const texts::UiTexts& texts, std::string_view language, int done) {
  NotificationText text{"Pixmoor", texts.actionRunning};
  if (done > 0) text.body += "\n" + counted(done, texts.actionDoneOne, texts.actionDoneMany, language);
  return text;
}

}  // namespace pixmoor::file_actions

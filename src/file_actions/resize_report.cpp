#include "file_actions/resize_report.h"

#include <glib.h>

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
  for (int value = 0; value <= static_cast<int>(batch::FailureReason::timedOut); ++value) {
    const auto reason = static_cast<batch::FailureReason>(value);
    if (companion::reasonCode(reason) == code) return reason;
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

// A field's text; empty when it is missing or not a string (never a throw).
std::string textOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string nameIn(const Json& object) {
  const auto bytes = companion::pathBytes(textOf(object, "source"));
  return bytes ? displayName(*bytes) : std::string();
}

bool french(std::string_view language) {
  return language != "UK";
}

std::string countText(int count, std::string_view language) {
  if (french(language)) return std::to_string(count) + (count > 1 ? " images écrites" : " image écrite");
  return std::to_string(count) + (count == 1 ? " picture written" : " pictures written");
}

}  // namespace

std::string displayName(std::string_view bytes) {
  const std::string escaped = companion::printable(std::string(bytes));
  gchar* valid = g_utf8_make_valid(escaped.data(), static_cast<gssize>(escaped.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

ResizeReport readResizeReport(std::string_view jsonLines) {
  ResizeReport report;
  std::size_t start = 0;
  while (start < jsonLines.size()) {
    std::size_t end = jsonLines.find('\n', start);
    if (end == std::string_view::npos) end = jsonLines.size();
    const Json object = Json::parse(jsonLines.substr(start, end - start), nullptr, false);
    start = end + 1;
    if (!object.is_object()) continue;
    const std::string type = textOf(object, "type");
    if (type == "picture") {
      const std::string reason = textOf(object, "reason");
      if (textOf(object, "outcome") == "written") {
        ++report.written;
      } else if (reason == "stopped") {
        ++report.stopped;
      } else if (!reason.empty()) {
        const auto failure = failureOfCode(reason);
        report.failures.push_back({nameIn(object), failure.value_or(batch::FailureReason::unreadable)});
      }
    } else if (type == "skipped") {
      report.skipped.push_back(nameIn(object) + ": " + skipText(textOf(object, "reason")));
    } else if (type == "summary") {
      report.summarised = true;
    }
  }
  return report;
}

NotificationText finalNotification(const ResizeReport& report, const texts::UiTexts& texts,
                                   std::string_view language, bool stoppedByUser, std::string_view problem) {
  NotificationText text;
  text.summary = countText(report.written, language);
  if (stoppedByUser) text.summary = (french(language) ? "Arrêt : " : "Stopped: ") + text.summary;
  if (!problem.empty()) {
    text.body = std::string(problem);
    return text;
  }
  text.body = app::failureListText(report.failures, texts);
  for (const std::string& line : report.skipped) {
    if (!text.body.empty() && text.body.back() != '\n') text.body += '\n';
    text.body += line;
  }
  while (!text.body.empty() && text.body.back() == '\n') text.body.pop_back();
  return text;
}

NotificationText runningNotification(std::string_view language) {
  if (french(language)) return {"Pixmoor", "Redimensionnement des images choisies..."};
  return {"Pixmoor", "Resizing the pictures you chose..."};
}

std::string stopActionLabel(std::string_view language) {
  return french(language) ? "Arrêter" : "Stop";
}

}  // namespace pixmoor::file_actions

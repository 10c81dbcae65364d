// pixmoor-batch in a terminal and under signals: names never forge a line
// nor reach the terminal as control sequences; a closed pipe never kills a
// plan; a signal, even one that arrives before the program has read
// anything, stops a run or a plan with its report and summary, never kills it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_test_support.h"
#include "companion/console_view.h"
#include "companion/printable.h"
#include "encoders/encode.h"
#include "support/batch_program.h"

namespace pixmoor::testing {
namespace {

using batch::testing::writePicture;

// A name that would end the line and forge the completion text, set the
// terminal's title and clear its screen, were it printed raw.
const std::string kHostileName =
    "a\nFinish ! 9 pictures were processed..\n\x1B]0;owned\x07\x1B[2J\xC2\x9B"
    "31m.jpg";

TEST(Printable, EscapesEveryControlOfAName) {
  EXPECT_EQ(companion::printable(kHostileName),
            "a\\nFinish ! 9 pictures were processed..\\n\\x1B]0;owned\\x07\\x1B[2J\\xC2\\x9B"
            "31m.jpg");
  // Letters of any script and bytes of other encodings are names, not controls.
  EXPECT_EQ(companion::printable("caf\xC3\xA9 \xE6\x97\xA5 \xE9t\xE9.jpg"),
            "caf\xC3\xA9 \xE6\x97\xA5 \xE9t\xE9.jpg");
  EXPECT_EQ(companion::printable("raw\x9B"
                                 "c"),
            "raw\\x9Bc");
}

// What a ConsoleView writing into `stream` shows of one progress tick for
// the output `outputPath`.
std::string progressShown(std::FILE* stream, int readEnd, const std::string& outputPath) {
  {
    companion::ConsoleView view(stream, false);
    view.showProgress(1, 1, outputPath);
    view.finishLine();
  }
  std::fclose(stream);
  std::string shown;
  char buffer[512];
  for (ssize_t got; (got = ::read(readEnd, buffer, sizeof buffer)) > 0;)
    shown.append(buffer, static_cast<std::size_t>(got));
  return shown;
}

TEST(ConsoleView, ProgressLinesEscapeTheNames) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  const std::string shown = progressShown(::fdopen(pipe[1], "w"), pipe[0], "/p/prefix_" + kHostileName);
  ::close(pipe[0]);
  EXPECT_EQ(shown, "1/1 - prefix_" + companion::printable(kHostileName) + "\n");
}

TEST(ConsoleView, OnATerminalTheNameSendsNoControlSequence) {
  int controller = -1;
  int terminal = -1;
  ASSERT_EQ(::openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
  const std::string shown = progressShown(::fdopen(terminal, "w"), controller, "/p/prefix_" + kHostileName);
  ::close(controller);
  EXPECT_NE(shown.find("1/1 - prefix_a\\nFinish"), std::string::npos) << shown;
  // The view's own sequence (clear to the end of the line) and nothing else.
  EXPECT_EQ(std::regex_replace(shown, std::regex("\x1B\\[K"), "").find('\x1B'), std::string::npos) << shown;
  EXPECT_EQ(shown.find("\xC2\x9B"), std::string::npos);
  EXPECT_EQ(shown.find('\x07'), std::string::npos);
}

class TerminalAndSignals : public BatchProgramTest {};

// A plan printed into a pipe whose reader has gone ends its printing, not itself.
TEST_F(TerminalAndSignals, APlanIntoAClosedPipeIsNotKilled) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  for (const char* plan : {"--dry-run", "--dry-run=exact"}) {
    for (const bool json : {false, true}) {
      int pipe[2];
      ASSERT_EQ(::pipe(pipe), 0);
      ::close(pipe[0]);
      std::vector<std::string> arguments = {plan, "a.jpg"};
      if (json) arguments.insert(arguments.begin(), "--json");
      const pid_t pid = startProgram(arguments, pipe[1]);
      ::close(pipe[1]);
      EXPECT_EQ(exitWithin(pid, 60), 0) << plan << json;
    }
  }
}

// A name the program names in its own words (a settings file it cannot
// use, a usage error quoting a value) is escaped like the pictures' names.
TEST_F(TerminalAndSignals, NamesInUsageErrorsAndWarningsAreEscaped) {
  ASSERT_TRUE(writePicture(path("a.jpg"), 40, 20, image::kJpegEncoder));
  const ProgramRun refused = run({"--settings", kHostileName, "a.jpg"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find(companion::printable(kHostileName)), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find('\x1B'), std::string::npos) << refused.err;
  EXPECT_EQ(linesOf(refused.err).size(), 1u) << refused.err;
}

// The summary of a report that ended early: the JSON line of type "summary".
nlohmann::json summaryOf(const std::string& out) {
  const auto objects = jsonLinesOf(out);
  if (objects.empty() || objects.back()["type"] != "summary") return nullptr;
  return objects.back();
}

// SIGTERM while an exact plan is held on its output (a pipe no one reads,
// far smaller than the report): the plan stops, lists every picture and
// ends with its summary.
TEST_F(TerminalAndSignals, TerminatingAnExactPlanStopsItWithItsSummary) {
  std::vector<std::string> arguments = {"--dry-run=exact", "--json", "--landscape-width", "20"};
  constexpr int kPictures = 40;
  for (int i = 0; i < kPictures; ++i) {
    arguments.push_back("p" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(writePicture(path(arguments.back()), 40, 20, image::kJpegEncoder));
  }
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ASSERT_GT(::fcntl(pipe[0], F_SETPIPE_SZ, 4096), 0);
  const pid_t pid = startProgram(arguments, pipe[1]);
  ::close(pipe[1]);
  // Once its first line is out the program is planning, and the rest of its
  // report cannot fit the pipe: it is held there until the pipe is read.
  int waiting = 0;
  for (int i = 0; i < 60000 && waiting == 0; ++i) {
    ASSERT_EQ(::ioctl(pipe[0], FIONREAD, &waiting), 0);
    if (waiting == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(waiting, 0);
  ::kill(pid, SIGTERM);
  std::string out;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<std::size_t>(got));
  ::close(pipe[0]);
  EXPECT_EQ(exitWithin(pid, 60), 1);
  const auto objects = jsonLinesOf(out);
  ASSERT_EQ(objects.size(), static_cast<std::size_t>(kPictures + 1)) << out;
  const nlohmann::json summary = objects.back();
  EXPECT_EQ(summary["type"], "summary");
  EXPECT_GT(summary["stopped"].get<int>(), 0);
  EXPECT_EQ(summary["planned"].get<int>() + summary["stopped"].get<int>(), kPictures);
  EXPECT_EQ(summary["exit_status"], 1);
  EXPECT_EQ(objects[kPictures - 1]["reason"], "stopped");
}

// A signal that comes before the program has read anything (raised while
// blocked, so that it is there the moment the program lets it in): the run
// or plan stops, with every picture listed and its summary, and is not killed.
TEST_F(TerminalAndSignals, ASignalAtTheStartStopsWithTheSummary) {
  std::vector<std::string> pictures;
  for (int i = 0; i < 4; ++i) {
    pictures.push_back("p" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(writePicture(path(pictures.back()), 3000, 2000, image::kJpegEncoder));
  }
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    for (const char* mode : {"", "--dry-run", "--dry-run=exact"}) {
      SCOPED_TRACE(std::to_string(signal) + " " + mode);
      std::vector<std::string> arguments = {"--json", "--landscape-width", "6000"};
      if (*mode != '\0') arguments.push_back(mode);
      arguments.insert(arguments.end(), pictures.begin(), pictures.end());
      const pid_t pid = startProgram(arguments, -1, {signal});
      EXPECT_EQ(exitWithin(pid, 120), 1);
      const nlohmann::json summary = summaryOf(keptOutput());
      ASSERT_FALSE(summary.is_null()) << keptOutput();
      EXPECT_EQ(summary["pictures"], 4);
      EXPECT_GT(summary["stopped"].get<int>(), 0);
      EXPECT_EQ(summary["exit_status"], 1);
    }
  }
}

}  // namespace
}  // namespace pixmoor::testing

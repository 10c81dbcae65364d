// Running the built pixmoor-batch as a user runs it, for the companion's
// tests: in a scratch folder, with a scratch home (so that no Trash but the
// test's is touched) and French messages unless a test says otherwise, its
// exit status, standard output and standard error back. A test program that
// includes this defines PIXMOOR_BATCH_PROGRAM, the program's path.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/other_user.h"
#include "support/temp_folder.h"

namespace pixmoor::testing {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// `text` as one word of the shell.
inline std::string shellWord(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// Every line of a text parsed as JSON (a line that is not JSON throws).
inline std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> objects;
  for (const std::string& line : lines(text)) objects.push_back(nlohmann::json::parse(line));
  return objects;
}

// A test of the program: its scratch folders and environment are open to
// the rows of a test table, which set up a case on them.
class BatchProgramTest : public ::testing::Test {
 public:
  ProgramRun run(const std::vector<std::string>& arguments) {
    std::string command =
        "cd " + shellWord(work_.path().string()) + " && " + shellPrefix_ +
        " env -u LC_ALL -u LC_MESSAGES LANG=fr_FR.UTF-8 HOME=" + shellWord(home_.path().string()) +
        " XDG_DATA_HOME=" + shellWord(dataHome_) + " " + environment_ + " " +
        shellWord(PIXMOOR_BATCH_PROGRAM);
    for (const std::string& argument : arguments) command += " " + shellWord(argument);
    command += " >" + shellWord(logs_.file("out")) + " 2>" + shellWord(logs_.file("err")) + " </dev/null";
    const int raw = std::system(command.c_str());
    ProgramRun result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readBytes(logs_.file("out"));
    result.err = readBytes(logs_.file("err"));
    return result;
  }
  // run() as an ordinary user, so that permissions hold even for the superuser.
  ProgramRun runAsAnotherUser(const std::vector<std::string>& arguments) {
    for (const TempFolder* folder : {&work_, &logs_, &home_})
      std::filesystem::permissions(folder->path(), std::filesystem::perms::all);
    std::filesystem::remove(logs_.file("out"));
    std::filesystem::remove(logs_.file("err"));
    ProgramRun result;
    result.status = runAsOrdinaryUser([&] { return run(arguments).status; });
    result.out = readBytes(logs_.file("out"));
    result.err = readBytes(logs_.file("err"));
    return result;
  }
  std::string path(const std::string& name) const { return work_.file(name); }

  TempFolder work_;  // current folder of the program, and where pictures go
  TempFolder logs_;
  TempFolder home_;
  std::string dataHome_ = home_.file("data");  // where the Trash goes
  std::string environment_;                    // more NAME=value words for env
  std::string shellPrefix_ = "true;";          // shell commands before the program
};

// The program started in `work` with standard output into `out` (the file
// "out" of `logs` when -1), standard error into the file "err" of `logs`,
// and the signals of `blocked` blocked, so that one raised before the start
// waits for the program to unblock it.
inline pid_t startProgram(const TempFolder& work, const TempFolder& logs,
                          const std::vector<std::string>& arguments, int out = -1,
                          const std::vector<int>& blocked = {}) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (out < 0) out = ::open(logs.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open(logs.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int nothing = ::open("/dev/null", O_RDONLY);
  ::dup2(nothing, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  if (::chdir(work.path().c_str()) != 0) ::_exit(127);
  sigset_t mask;
  sigemptyset(&mask);
  for (const int signal : blocked) sigaddset(&mask, signal);
  ::sigprocmask(SIG_SETMASK, &mask, nullptr);
  for (const int signal : blocked) ::raise(signal);  // pending until the program unblocks it
  std::vector<char*> argv{const_cast<char*>(PIXMOOR_BATCH_PROGRAM)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execv(PIXMOOR_BATCH_PROGRAM, argv.data());
  ::_exit(127);
}

// The exit status once the program ended within `seconds`; -1 when it had to
// be killed then, 128 + the signal when a signal ended it.
inline int exitWithin(pid_t pid, int seconds) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace pixmoor::testing

// Running pixmoor-batch as a user runs it, for the tests of the companion:
// in a scratch folder of its own, with a scratch home and Trash, French
// messages, its standard output and error kept, and JSON lines read back;
// or started by hand (startProgram) for a test that must hold or signal it.
//
// The including test defines PIXMOOR_BATCH_PROGRAM, the program's path.
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

#include "companion/json_report.h"
#include "support/other_user.h"
#include "support/temp_folder.h"

#ifndef PIXMOOR_BATCH_PROGRAM
#error "PIXMOOR_BATCH_PROGRAM must name the program under test"
#endif

namespace pixmoor::testing {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// A text as one word for the shell.
inline std::string shellQuoted(const std::string& text) {
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

inline std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// Every line of a text parsed as JSON (a line that is not JSON throws).
inline std::vector<nlohmann::json> jsonLinesOf(const std::string& text) {
  std::vector<nlohmann::json> objects;
  for (const std::string& line : linesOf(text)) objects.push_back(nlohmann::json::parse(line));
  return objects;
}

// A file name of the report as its bytes.
inline std::string nameIn(const nlohmann::json& object, const char* key) {
  return companion::pathBytes(object[key].get<std::string>()).value_or("(not undone)");
}

class BatchProgramFolder {
 public:
  // Runs in a known environment: French messages, and a scratch home whose
  // data folder holds the only Trash the program may use.
  ProgramRun run(const std::vector<std::string>& arguments) {
    std::string command =
        "cd " + shellQuoted(work_.path().string()) + " && " + shellPrefix_ +
        " env -u LC_ALL -u LC_MESSAGES LANG=fr_FR.UTF-8 HOME=" + shellQuoted(home_.path().string()) +
        " XDG_DATA_HOME=" + shellQuoted(dataHome_) + " " + shellQuoted(PIXMOOR_BATCH_PROGRAM);
    for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
    command += " >" + shellQuoted(logs_.file("out")) + " 2>" + shellQuoted(logs_.file("err")) + " </dev/null";
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
  const std::filesystem::path& work() const { return work_.path(); }
  const std::filesystem::path& home() const { return home_.path(); }
  std::string homeFile(const std::string& name) const { return home_.file(name); }
  const std::string& dataHome() const { return dataHome_; }
  void setDataHome(std::string folder) { dataHome_ = std::move(folder); }
  // Shell commands run before the program (a ulimit), ending with ";".
  void setShellPrefix(std::string commands) { shellPrefix_ = std::move(commands); }

  // The program started by hand in the scratch folder with standard output
  // into `out` (the kept output when -1), standard error kept, and the
  // signals of `blocked` blocked and raised, so that they are pending until
  // the program lets them in. The caller waits for it (exitWithin).
  pid_t startProgram(const std::vector<std::string>& arguments, int out = -1,
                     const std::vector<int>& blocked = {}) const {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (out < 0) out = ::open(logs_.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(logs_.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int nothing = ::open("/dev/null", O_RDONLY);
    ::dup2(nothing, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(work_.path().c_str()) != 0) ::_exit(127);
    sigset_t mask;
    sigemptyset(&mask);
    for (const int signal : blocked) sigaddset(&mask, signal);
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    for (const int signal : blocked) ::raise(signal);
    std::vector<char*> argv{const_cast<char*>(PIXMOOR_BATCH_PROGRAM)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(PIXMOOR_BATCH_PROGRAM, argv.data());
    ::_exit(127);
  }
  // What a program started by hand wrote to standard output.
  std::string keptOutput() const { return readBytes(logs_.file("out")); }

 private:
  TempFolder work_;  // current folder of the program, and where pictures go
  TempFolder logs_;
  TempFolder home_;
  std::string dataHome_ = home_.file("data");  // where the home Trash is
  std::string shellPrefix_ = "true;";
};

// A test of the program whose scratch folders the rows of a test table set up.
class BatchProgramTest : public ::testing::Test, public BatchProgramFolder {};

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

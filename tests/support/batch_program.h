// Running pixmoor-batch as a user runs it, for the tests of the companion:
// in a scratch folder of its own, with a scratch home and Trash, its
// standard output and error kept, and JSON lines read back.
//
// The including test defines PIXMOOR_BATCH_PROGRAM, the program's path.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
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
        "cd " + shellQuoted(work_.path().string()) +
        " && env -u LC_ALL -u LC_MESSAGES LANG=fr_FR.UTF-8 HOME=" + shellQuoted(home_.path().string()) +
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
  const std::string& dataHome() const { return dataHome_; }
  void setDataHome(std::string folder) { dataHome_ = std::move(folder); }

 private:
  TempFolder work_;  // current folder of the program, and where pictures go
  TempFolder logs_;
  TempFolder home_;
  std::string dataHome_ = home_.file("data");  // where the home Trash is
};

}  // namespace pixmoor::testing

// Which file an output may replace, beyond the policy of files/replace_file.h.
//
// Without a prefix an output replaces its own source and nothing else,
// judged on where the output's name leads: through a link, only a file
// whose own name is this output's (a link a.jpg leading to a.png would put
// JPEG bytes under a.png's name, and is refused as another picture).
//
// RunFiles is the companion's rule for a whole run: an output never
// replaces a file that is itself a source of the run, other than its own
// source, nor a file that an earlier picture of the run wrote (so the first
// of several sources giving one output name writes it, and pa.jpg given
// beside a.jpg with the prefix "p" is read as it was). The window keeps its
// design: a later picture writes last.
//
// Queries of the file system; any thread. One RunFiles serves the threads
// of one batch (under its own lock).
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "files/same_file.h"
#include "settings/settings.h"

namespace pixmoor::batch {

// The one file the output of `source` may replace when the settings give no
// prefix (a default identity, which matches no file, when there is none).
files::FileIdentity replaceableWithoutPrefix(const std::string& source, const std::string& output,
                                             const settings::Settings& settings);

class RunFiles {
 public:
  // Looks up the identity of every source (those that name nothing have none).
  explicit RunFiles(const std::vector<std::string>& sources);

  // True when the output of `source` must not replace `file`: a file an
  // earlier picture of the run wrote, or another source of the run.
  bool keeps(const std::string& source, const files::FileIdentity& file) const;
  // keeps() for the output of `source`, as a replace rule's mustKeep; the
  // RunFiles must outlive it.
  std::function<bool(const files::FileIdentity&)> keeperFor(std::string source) const;

  // Called once the output at `output` is written (links followed).
  void written(const std::string& output);

 private:
  using Identity = std::pair<dev_t, ino_t>;
  std::set<Identity> sources_;
  mutable std::mutex mutex_;
  std::set<Identity> written_;  // under mutex_
};

}  // namespace pixmoor::batch

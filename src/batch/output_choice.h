// What pixmoor-batch chooses for its outputs beyond the settings: their size
// rule, the folder they go to, what happens to a file already under an
// output's name, and a limit to their bytes. The window never sets any of
// it: the defaults are its behaviour.
//
// Plain values; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "batch/size_rules.h"

namespace pixmoor::batch {

// What an output does when its name already holds a file.
enum class IfExists {
  replace,  // the settings' rule: replaced (without a prefix only its own source)
  skip,     // left as it is; the picture is reported as `exists`, no failure
  rename,   // written as "name (1).jpg", "name (2).jpg", ...: the first name that is free
};

struct OutputChoice {
  SizeChoice size{};
  // Empty: each output beside its source. Otherwise the folder of every
  // output; a source inside `tree` (the folder the run walks) keeps its
  // place relative to it, so that the tree is mirrored, folders made as needed.
  std::string folder{};
  std::string tree{};
  IfExists ifExists = IfExists::replace;
  // 0: no limit. Otherwise each output's bytes at most this: the highest
  // quality up to the chosen one whose encoding fits, else the picture made
  // smaller at the lowest quality (formats without a quality scale: smaller only).
  std::uint64_t maxBytes = 0;

  bool operator==(const OutputChoice&) const = default;
};

// With shrinkOnly a source already within its target, whose output would be
// the source itself, is left as it is: unless a byte limit asks for fewer
// bytes than the file has, which only a new encoding can give.
inline bool leftAlreadySmall(const OutputChoice& choice, bool withinTarget, bool outputIsSource,
                             std::uint64_t sourceBytes) {
  return choice.size.shrinkOnly && withinTarget && outputIsSource &&
         (choice.maxBytes == 0 || sourceBytes <= choice.maxBytes);
}

}  // namespace pixmoor::batch

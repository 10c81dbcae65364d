// A dry run: what a run with the same settings would do to each picture of
// the job, without writing anything, not even a temporary file.
//
// The headers plan reads each picture's header only (image/header_probe.h),
// with the reader, the checks and the memory budget of the run's load, so
// that it refuses what the run refuses, short of faults in the pixel data;
// the exact plan decodes, resizes and encodes in memory, with the very code
// and bytes of a run (and sees those faults too). Both judge the output's
// name as the run would: free, holding another file (replaced, or without a
// prefix refused), or the source itself, counting the outputs planned before
// it in the same run. With keepSourcesOf, as the companion's run does, an
// output is refused where it would replace another source of the run or an
// output planned before it (batch/output_rules.h).
// Every source is read as it is before the run: a source that an earlier
// output of the same run would replace is planned from its old content.
//
// One Planner belongs to one thread; plan the pictures in job order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch/output_rules.h"
#include "batch/picture_outcome.h"
#include "companion/json_report.h"
#include "image/decoded_picture.h"
#include "image/memory_budget.h"
#include "settings/settings.h"

namespace pixmoor::companion {

struct PlannedPicture {
  std::string source;
  batch::PictureOutcome outcome;  // reason none: the output would be written
  OutputState state = OutputState::unknown;
  std::optional<std::uint64_t> sourceBytes;
  std::optional<std::uint64_t> outputBytes;  // the exact plan's encoded size
};

class Planner {
 public:
  // `settings` as the run would take them; `exact` for the exact plan.
  Planner(const settings::Settings& settings, bool exact);
  // The run's sources, which no output may replace but its own source's.
  void keepSourcesOf(const std::vector<std::string>& job);
  PlannedPicture plan(const std::string& source);

 private:
  void planFromHeader(PlannedPicture& planned);
  void planExactly(PlannedPicture& planned);
  void judgeOutputName(PlannedPicture& planned);

  const settings::Settings settings_;
  const std::string prefix_;  // "0" means none
  const bool exact_;
  const image::ReduceTo reduce_;      // the run's reduction
  const image::DecodeLimits limits_;  // the memory budget a run would take now
  std::set<std::string> planned_;     // outputs an earlier picture would write
  std::unique_ptr<batch::RunFiles> runFiles_;
  std::vector<std::uint8_t> bytes_;
};

// One line for a person: "src: 4000x3000 -> 1920x1440, out (new)", with the
// bytes before and after in an exact plan and the picture's warnings after
// it, or "src: no file: reason".
// Names are escaped as the failure lines escape them.
std::string planLine(const PlannedPicture& planned, bool trashOriginals);

// A path as one printable line: control bytes (a line feed in a name) escaped.
std::string printable(const std::string& path);

}  // namespace pixmoor::companion

// A dry run: what a run with the same settings would do to each picture of
// the job, without writing anything, not even a temporary file.
//
// The headers plan reads each picture's header only (codecs/header_probe.h),
// with the reader, the checks and the memory budget of the run's load, so
// that it refuses what the run refuses, short of faults in the pixel data;
// the exact plan decodes, resizes and encodes in memory, with the very code
// and bytes of a run (and sees those faults too). Both judge the output's
// name as the run would: free, holding another file (replaced, or without a
// prefix refused), or the source itself, counting the outputs planned before
// it in the same run wherever their paths are spelt. With keepSourcesOf, as
// the companion's run does, an output is refused where it would replace
// another source of the run or an output planned before it
// (batch/output_rules.h). Then they make every check the write makes before
// it writes a byte (batch::checkOutput: what the name holds, links, bits,
// the folder, the name's length), whether the picture fits the memory
// budget of its resampling, and with the Trash whether it can take the
// original (trash_folder.h).
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

#include "batch/output_choice.h"
#include "batch/output_metadata.h"
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
  std::optional<std::uint64_t> outputBytes;  // the exact plan's encoded size; none for no file
  std::string trashRefusal;                  // why the Trash would refuse the original (notTrashed)
};

class Planner {
 public:
  // `settings` as the run would take them; `exact` for the exact plan;
  // `trashOriginals` when the originals replaced go to the Trash. Once
  // `cancel` is raised an exact plan's decode or encode stops, and the
  // picture is planned as stopped.
  Planner(const settings::Settings& settings, bool exact, bool trashOriginals = false,
          const image::CancelFlag* cancel = nullptr);
  // The run's sources, which no output may replace but its own source's.
  void keepSourcesOf(const std::vector<std::string>& job);
  // What the run's outputs keep of their sources (EXIF, dates).
  void keepMetadata(const batch::MetadataChoice& metadata) { metadata_ = metadata; }
  // The run's size rule, output folder, rule for an existing output and
  // byte limit: under skip a name that holds a file (or an output planned
  // before) is planned as exists, under rename the first free numbered name
  // is planned; a missing output folder is planned as made when the nearest
  // folder above it lets us make one. The headers plan cannot know the
  // quality a byte limit chooses, nor a smaller size; the exact plan shows both.
  void chooseOutputs(const batch::OutputChoice& choice);
  PlannedPicture plan(const std::string& source);

 private:
  void planFromHeader(PlannedPicture& planned);
  void planExactly(PlannedPicture& planned);
  void judgeOutputName(PlannedPicture& planned);
  // Whether `path` holds, or will hold, one of the run's own files for the
  // output of `source`: an output planned before, or another source.
  bool runKeeps(const std::string& source, const std::string& path) const;

  const settings::Settings settings_;
  const std::string prefix_;  // "0" means none
  const bool exact_;
  const bool trashOriginals_;
  const image::CancelFlag* const cancel_;
  image::ReduceTo reduce_;            // the run's reduction
  const image::DecodeLimits limits_;  // the memory budget a run would take now
  std::set<std::string> planned_;     // where the outputs of earlier pictures land
  std::unique_ptr<batch::RunFiles> runFiles_;
  std::vector<std::uint8_t> bytes_;
  batch::MetadataChoice metadata_;
  batch::OutputChoice choice_;
};

// One line for a person: "src: 4000x3000 -> 1920x1440, out (new)", with the
// bytes before and after in an exact plan (and the quality a byte limit
// chose), "src: left: already small" for a picture left as asked, the metadata it keeps when the
// run keeps any ("metadata: EXIF without GPS", "dates kept") and the
// picture's warnings after it, or "src: no file: reason".
// Names are escaped as the failure lines escape them (printable.h).
std::string planLine(const PlannedPicture& planned, bool trashOriginals,
                     const batch::MetadataChoice& metadata = {});

}  // namespace pixmoor::companion

#include "batch/output_rules.h"

#include "batch/output_path.h"
#include "files/link_target.h"

namespace pixmoor::batch {

files::FileIdentity replaceableWithoutPrefix(const std::string& source, const std::string& output,
                                             const settings::Settings& settings) {
  const files::LinkTarget target = files::followLinks(output);
  // The file the link leads to, taken as a source itself, would give
  // another name: replacing it would change its format under its name.
  if (target.throughLink && outputPath(target.path, settings) != target.path) return {};
  return files::identityOf(source).value_or(files::FileIdentity{});
}

RunFiles::RunFiles(const std::vector<std::string>& sources) {
  for (const std::string& source : sources) {
    if (const auto identity = files::identityOf(source)) sources_.insert({identity->device, identity->inode});
  }
}

bool RunFiles::keeps(const std::string& source, const files::FileIdentity& file) const {
  const Identity held{file.device, file.inode};
  {
    const std::lock_guard lock(mutex_);
    if (written_.count(held) != 0) return true;
  }
  if (sources_.count(held) == 0) return false;
  // A source of the run: only its own output may replace it.
  return !(files::identityOf(source) == std::optional(file));
}

std::function<bool(const files::FileIdentity&)> RunFiles::keeperFor(std::string source) const {
  return [this, source = std::move(source)](const files::FileIdentity& file) { return keeps(source, file); };
}

void RunFiles::written(const std::string& output) {
  const auto identity = files::identityOf(output);
  if (!identity) return;
  const std::lock_guard lock(mutex_);
  written_.insert({identity->device, identity->inode});
}

}  // namespace pixmoor::batch

#include "companion/intake_rules.h"

namespace pixmoor::companion {

std::vector<std::string> homeTrashFolders(const char* xdgDataHome, const char* home) {
  std::vector<std::string> folders;
  if (xdgDataHome != nullptr && *xdgDataHome != '\0') folders.push_back(std::string(xdgDataHome) + "/Trash");
  if (home != nullptr && *home != '\0') folders.push_back(std::string(home) + "/.local/share/Trash");
  return folders;
}

batch::IntakeRules companionIntakeRules(const Options& options, const char* xdgDataHome, const char* home) {
  batch::IntakeRules rules;
  rules.depth = options.recursive ? batch::FolderDepth::withSubfolders : batch::FolderDepth::ownPictures;
  rules.formats = image::FormatSet::companion;
  rules.lookAtEachPath = true;
  rules.hiddenFolders = options.hidden;
  rules.trashFolders = homeTrashFolders(xdgDataHome, home);
  if (options.outputDir) rules.foldersNotEntered.push_back(*options.outputDir);
  return rules;
}

}  // namespace pixmoor::companion

#include "batch/output_path.h"

#include "batch/output_formats.h"

namespace pixmoor::batch {

std::string outputExtension(const settings::Settings& settings) {
  if (const OutputFormatRow* row = outputFormatRow(settings.format)) return std::string(row->extension);
  std::string lowered = settings.unknownFormatText;
  for (char& c : lowered) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return lowered;
}

std::string outputPath(const std::string& source, const std::string& prefix, std::string_view extension) {
  const std::size_t slash = source.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;

  std::string candidate = source.substr(0, nameStart);
  candidate += prefix;
  candidate += source.substr(nameStart);

  // The extension is cut from the whole candidate: a prefix holding a "/"
  // moves the name into a subfolder, and a dot before that "/" is no
  // extension. Without any extension nothing is cut.
  const std::size_t dot = candidate.rfind('.');
  if (dot != std::string::npos && candidate.find('/', dot) == std::string::npos) candidate.resize(dot);

  candidate.push_back('.');
  candidate += extension;
  return candidate;
}

std::string outputPath(const std::string& source, const settings::Settings& settings) {
  return outputPath(source, settings::outputPrefix(settings.prefix), outputExtension(settings));
}

std::string outputPath(const std::string& source, const settings::Settings& settings,
                       const OutputChoice& choice) {
  if (choice.folder.empty()) return outputPath(source, settings);
  std::string folder = choice.folder;
  if (folder.back() != '/') folder.push_back('/');
  // The source's place under the tree walked; "" for a source outside it.
  std::string tree = choice.tree;
  while (tree.size() > 1 && tree.back() == '/') tree.pop_back();
  if (!tree.empty() && tree != "/") tree.push_back('/');
  const std::size_t slash = source.rfind('/');
  const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
  if (!tree.empty() && slash != std::string::npos && source.size() > tree.size() &&
      source.compare(0, tree.size(), tree) == 0 && slash >= tree.size())
    folder += source.substr(tree.size(), slash + 1 - tree.size());
  return outputPath(folder + name, settings::outputPrefix(settings.prefix), outputExtension(settings));
}

std::string numberedPath(const std::string& path, int n) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.rfind('.');
  // A leading dot names a hidden file, no extension.
  if (dot == std::string::npos || dot <= nameStart) dot = path.size();
  return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

}  // namespace pixmoor::batch

#include "batch/status_texts.h"

namespace pixmoor::batch {

BatchTexts batchTextsFrom(const texts::UiTexts& texts) {
  BatchTexts batch;
  batch.finishedPrefix = texts.finishedPrefix;
  batch.finishedSuffix = texts.finishedSuffix;
  batch.stopCountPrefix = texts.stopCountPrefix;
  return batch;
}

std::string progressText(std::int32_t remaining, std::int32_t total, const std::string& outputPath,
                         ProgressName shown) {
  std::string text = std::to_string(remaining);
  text += '/';
  text += std::to_string(total);
  text += " - ";
  const std::size_t slash = outputPath.rfind('/');
  const std::string_view name = slash == std::string::npos ? std::string_view(outputPath)
                                                           : std::string_view(outputPath).substr(slash + 1);
  // The first three characters of the name are not shown (with the default
  // prefix "prefix_" the line reads "fix_IMG_0001.jpg"). Characters, not
  // bytes: a UTF-8 sequence is never cut in two (continuation bytes are
  // 10xxxxxx and belong to the character before them).
  std::size_t at = 0;
  for (int skipped = 0; shown == ProgressName::cutAsTheWindowShowsIt && skipped < 3 && at < name.size();
       ++skipped) {
    ++at;
    while (at < name.size() && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) ++at;
  }
  text += name.substr(at);
  return text;
}

std::string completionText(const BatchTexts& texts, std::int32_t total) {
  return texts.finishedPrefix + std::to_string(total) + texts.finishedSuffix;
}

std::string stopText(const BatchTexts& texts, std::int32_t done, std::int32_t total) {
  return texts.stopCountPrefix + std::to_string(done) + texts.stopCountSeparator + std::to_string(total) +
         texts.stopCountSuffix;
}

}  // namespace pixmoor::batch

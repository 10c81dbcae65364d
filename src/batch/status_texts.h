// The status-line texts of a batch: progress, completion and stop.
//
// Pure functions of their arguments; any thread may call them. The language
// comes in through BatchTexts, built from the interface texts.
#pragma once

#include <cstdint>
#include <string>

#include "texts/ui_texts.h"

namespace pixmoor::batch {

struct BatchTexts {
  std::string finishedPrefix;   // "Terminé ! " / "Finish ! "
  std::string finishedSuffix;   // " images traitées." / " pictures were processed.."
  std::string stopCountPrefix;  // "Arrêt : " / "Stop : "
  std::string stopCountSeparator{texts::FixedTexts::stopCountSeparator};
  std::string stopCountSuffix{texts::FixedTexts::stopCountSuffix};
};

BatchTexts batchTextsFrom(const texts::UiTexts& texts);

// "12/12 - fix_IMG_0001.jpg": remaining, "/", total, " - ", then the file
// name of outputPath (after its last "/") without its first three
// characters (UTF-8 sequences are kept whole); a name of three characters or
// fewer shows nothing. That is the window's line; the command-line
// companion shows the name whole.
enum class ProgressName { cutAsTheWindowShowsIt, whole };
std::string progressText(std::int32_t remaining, std::int32_t total, const std::string& outputPath,
                         ProgressName shown = ProgressName::cutAsTheWindowShowsIt);

// "Terminé ! 12 images traitées."
std::string completionText(const BatchTexts& texts, std::int32_t total);

// "Arrêt : 4/10 images traitées !"
std::string stopText(const BatchTexts& texts, std::int32_t done, std::int32_t total);

}  // namespace pixmoor::batch

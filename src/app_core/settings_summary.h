// The information area's text describing the current choices.
//
// A pure function: any thread may call it; the window shows its result.
#pragma once

#include <string>

#include "settings/settings.h"
#include "texts/ui_texts.h"

namespace pixmoor::app {

// The text of the information area describing the current choices, in the
// language of `texts`. Every line but the closing hint ends with "\n". Any
// mode other than relative is described as free mode.
std::string settingsSummary(const settings::Settings& settings, int desktopWidth, int desktopHeight,
                            const texts::UiTexts& texts);

}  // namespace pixmoor::app

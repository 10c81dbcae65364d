// The information area's list of the pictures of a batch that produced no
// file, in the interface's language.
//
// Pure functions of their arguments: any thread may call them; the window
// shows the result.
#pragma once

#include <string>
#include <vector>

#include "batch/picture_outcome.h"
#include "texts/ui_texts.h"

namespace pixmoor::app {

// Why a picture produced no file, as the interface's language words it (in
// English the companion's words). Empty for FailureReason::none.
const std::string& reasonText(const texts::UiTexts& texts, batch::FailureReason reason);

// The heading ("4 images n'ont produit aucun fichier :"), then one line per
// picture in the order given: its file name, the separator and the reason.
// Pictures a Stop left are not listed: the stop text already counts them,
// and they are the end of the list. Empty when nothing is left to list.
std::string failureListText(const std::vector<batch::PictureFailure>& failures, const texts::UiTexts& texts);

}  // namespace pixmoor::app

// The game's pictures: the bat label, the score and the ball, drawn into
// Images of the store, and the font they are written in.
//
// Each drawing replaces the whole picture. The label and score pictures are
// 128 x 24, the ball 8 x 8; a picture of another size, or a number without
// a raster, is refused with false and left as it was. Interface thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <string_view>

#include "image_store/image_store.h"

namespace pixmoor::game {

// "Verdana", 10 points at `dotsPerInch` (the screen's logical resolution),
// as a pixel size rounded as the desktop does; smooth text.
QFont makeGameFont(double dotsPerInch);

// White, a black 1-pixel frame, `text` in `colour` centred by its advance
// width and line height (integer halves, truncated).
bool drawFramedText(image::ImageStore& store, image::ImageId number, const QFont& font, std::string_view text,
                    QColor colour);

// A bat label: the word in black.
bool drawLabelPicture(image::ImageStore& store, image::ImageId number, const QFont& font,
                      std::string_view word);

// The score: "left / right" in red 218, green 61, blue 211.
bool drawScorePicture(image::ImageStore& store, image::ImageId number, const QFont& font, int leftScore,
                      int rightScore);

// The ball: yellow with a black 1-pixel frame.
bool drawBallPicture(image::ImageStore& store, image::ImageId number);

inline const QColor kScoreColour{218, 61, 211};
inline const QColor kBallColour{255, 255, 0};

}  // namespace pixmoor::game

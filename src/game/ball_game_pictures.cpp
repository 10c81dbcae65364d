// Drawing the label, score and ball pictures.
#include "game/ball_game_pictures.h"

#include <QFontMetrics>
#include <QString>
#include <algorithm>
#include <cmath>
#include <string>

#include "game/qt_drawing.h"
#include "game_rules/ball_game_rules.h"
#include "game_rules/label_turn.h"

namespace pixmoor::game {
namespace {

bool hasSize(const image::ImageStore& store, image::ImageId number, int width, int height) {
  return store.imageWidth(number) == width && store.imageHeight(number) == height;
}

// Fills the whole picture with `inside` and leaves a black border of one
// pixel: filled rectangles, so that the frame is exact at any scale.
void fillFramed(QPainter& painter, int width, int height, QColor inside) {
  painter.fillRect(0, 0, width, height, Qt::black);
  if (width > 2 && height > 2) {
    painter.fillRect(1, 1, width - 2, height - 2, inside);
  }
}

}  // namespace

QFont makeGameFont(double dotsPerInch) {
  QFont font(QStringLiteral("Verdana"));
  // 10 points to pixels, rounded to the nearest pixel as the desktop scales
  // a point size (96 dots per inch give 13 pixels).
  const double dpi = dotsPerInch > 0 ? dotsPerInch : 96.0;
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(10.0 * dpi / 72.0))));
  font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::PreferQuality));
  return font;
}

bool drawFramedText(image::ImageStore& store, image::ImageId number, const QFont& font, std::string_view text,
                    QColor colour) {
  if (!hasSize(store, number, kLabelWidth, kLabelHeight)) {
    return false;
  }
  ImageDrawing drawing(store, number);
  if (!drawing.valid()) {
    return false;
  }
  QPainter& painter = drawing.painter();
  fillFramed(painter, kLabelWidth, kLabelHeight, Qt::white);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setFont(font);
  painter.setPen(colour);
  const QString words = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetrics metrics(font, drawing.painter().device());
  const int x = (kLabelWidth - metrics.horizontalAdvance(words)) / 2;
  const int y = (kLabelHeight - metrics.height()) / 2;
  painter.drawText(x, y + metrics.ascent(), words);
  return drawing.end();
}

bool drawLabelPicture(image::ImageStore& store, image::ImageId number, const QFont& font,
                      std::string_view word) {
  return drawFramedText(store, number, font, word, Qt::black);
}

bool drawScorePicture(image::ImageStore& store, image::ImageId number, const QFont& font, int leftScore,
                      int rightScore) {
  const std::string text = std::to_string(leftScore) + " / " + std::to_string(rightScore);
  return drawFramedText(store, number, font, text, kScoreColour);
}

bool drawBallPicture(image::ImageStore& store, image::ImageId number) {
  if (!hasSize(store, number, kBallSize, kBallSize)) {
    return false;
  }
  ImageDrawing drawing(store, number);
  if (!drawing.valid()) {
    return false;
  }
  fillFramed(drawing.painter(), kBallSize, kBallSize, kBallColour);
  return drawing.end();
}

}  // namespace pixmoor::game

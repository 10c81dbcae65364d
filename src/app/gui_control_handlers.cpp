// The handlers of the main window's controls. Each runs in full on every
// notification of its control, whoever raised it.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "app/gui_numbers.h"
#include "app/gui_program.h"
#include "app/gui_text.h"

namespace pixmoor::app {

using texts::FixedTexts;
using texts::PresetEntry;

std::string Program::fieldText(int number) const {
  auto* edit = window_->as<QLineEdit>(number);
  return edit == nullptr ? std::string() : edit->text().toStdString();
}

void Program::setFieldText(int number, int value) {
  auto* edit = window_->as<QLineEdit>(number);
  if (edit == nullptr) return;
  const QString text = QString::number(value);
  if (edit->text() == text) {
    // The same text raises no change notification here; run the handler as
    // if it had.
    onControl(number);
    shared_.publish(settings_);
  } else {
    edit->setText(text);
  }
}

void Program::onControl(int number) {
  switch (number) {
    case control::presetList:
      presetChosen();
      break;
    case control::stopButton:
      runner_->stopBatch();
      break;
    case control::relativeButton:
    case control::freeButton:
      settings_.mode =
          number == control::relativeButton ? settings::SizeMode::relative : settings::SizeMode::free;
      playCue(kClickCueMilliseconds);
      window_->applyModeLayout();
      window_->showSummary();
      storeText(settings::kKeyMode, settings::sizeModeText(settings_));
      break;
    case control::freeWidthField:
      settings_.freeWidth = settings::low16(decimalValue(fieldText(number)));
      window_->showSummary();
      storeNumber(settings::kKeyFreeWidth, settings_.freeWidth);
      break;
    case control::freeHeightField:
      settings_.freeHeight = settings::low16(decimalValue(fieldText(number)));
      window_->showSummary();
      storeNumber(settings::kKeyFreeHeight, settings_.freeHeight);
      break;
    case control::landscapeField:
      settings_.landscapeWidth = decimalValue(fieldText(number));
      window_->showSummary();
      storeNumber(settings::kKeyLandscapeWidth, settings_.landscapeWidth);
      break;
    case control::portraitField:
      settings_.portraitHeight = decimalValue(fieldText(number));
      window_->showSummary();
      storeNumber(settings::kKeyPortraitHeight, settings_.portraitHeight);
      break;
    case control::qualitySlider: {
      settings_.quality = window_->as<QSlider>(control::qualitySlider)->value();
      window_->as<QLineEdit>(control::qualityValue)->setText(QString::number(settings_.quality));
      window_->setControlColours(control::qualityValue, colour::black, QualityColour(settings_.quality));
      window_->showSummary();
      storeNumber(settings::kKeyQuality, settings_.quality);
      break;
    }
    case control::pngOption:
      settings_.format = settings::OutputFormat::png;
      playCue(kClickCueMilliseconds);
      window_->as<QRadioButton>(control::jpegOption)->setChecked(false);
      for (int n : {control::qualitySlider, control::qualityValue, control::qualityLabelText}) {
        window_->control(n)->hide();
      }
      window_->showSummary();
      storeText(settings::kKeyFormat, settings::outputFormatText(settings_));
      break;
    case control::jpegOption:
      settings_.format = settings::OutputFormat::jpeg;
      playCue(kClickCueMilliseconds);
      window_->as<QRadioButton>(control::pngOption)->setChecked(false);
      for (int n : {control::qualitySlider, control::qualityLabelText, control::qualityValue}) {
        window_->control(n)->show();
      }
      window_->showSummary();
      storeText(settings::kKeyFormat, settings::outputFormatText(settings_));
      break;
    case control::changePrefixButton:
      prefixCommand();
      break;
    case control::onTopCheck:
      settings_.alwaysOnTop = window_->as<QCheckBox>(control::onTopCheck)->isChecked() ? 1 : 0;
      playCue(kClickCueMilliseconds);
      window_->setTopmost(settings_.alwaysOnTop != 0);
      window_->showSummary();
      storeNumber(settings::kKeyAlwaysOnTop, settings_.alwaysOnTop);
      break;
    default:
      break;  // static texts, read-only fields, the logo, the frame
  }
}

void Program::presetChosen() {
  auto* list = window_->as<QComboBox>(control::presetList);
  const int index = list->currentIndex();
  const auto& presets = FixedTexts::presets;
  if (index < 0 || static_cast<std::size_t>(index) >= presets.size() ||
      !presets[static_cast<std::size_t>(index)].choosable()) {
    list->setCurrentIndex(0);
    return;
  }
  const PresetEntry& entry = presets[static_cast<std::size_t>(index)];
  window_->setFreeSize(entry.width, entry.height);
  window_->showSummary();
  saveAll();
  window_->setStatus(texts_.resolutionChangedText);
  list->setCurrentIndex(0);
  playCue(kClickCueMilliseconds);
}

}  // namespace pixmoor::app

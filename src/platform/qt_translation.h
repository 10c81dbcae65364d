// Qt's own words in the interface language: the standard buttons of the
// message boxes ("Oui", "Non"), the edit fields' context menus.
//
// install() loads qtbase's catalogue for a language code of the settings
// ("FR") from Qt's translations folder (Debian's qt6-translations-l10n) and
// installs it in the application; English ("UK") and unknown codes need and
// get none. Answers whether a catalogue is installed; without the package
// Qt keeps its English words. The catalogue is removed when the object
// ends. Interface thread only, with a QCoreApplication alive.
#pragma once

#include <QTranslator>
#include <memory>
#include <string_view>

namespace pixmoor::platform {

class QtTranslation {
 public:
  QtTranslation() = default;
  ~QtTranslation();
  QtTranslation(const QtTranslation&) = delete;
  QtTranslation& operator=(const QtTranslation&) = delete;

  bool install(std::string_view languageCode);

 private:
  std::unique_ptr<QTranslator> translator_;
};

}  // namespace pixmoor::platform

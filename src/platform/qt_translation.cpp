#include "platform/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace pixmoor::platform {

QtTranslation::~QtTranslation() {
  if (translator_ && QCoreApplication::instance() != nullptr)
    QCoreApplication::removeTranslator(translator_.get());
}

bool QtTranslation::install(std::string_view languageCode) {
  if (languageCode != "FR") return false;  // Qt speaks English by itself
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  if (translator_) QCoreApplication::removeTranslator(translator_.get());
  translator_ = std::move(translator);
  return QCoreApplication::installTranslator(translator_.get());
}

}  // namespace pixmoor::platform

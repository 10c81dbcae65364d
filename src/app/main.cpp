// Pixmoor: the program's entry point. It reads no command-line arguments;
// everything it needs comes from the settings file in the current folder.
#include <QApplication>

#include "app/gui_startup.h"
#include "app_core/startup.h"

int main(int argc, char** argv) {
  // Qt needs argc/argv for its own platform options; the program reads none.
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  pixmoor::app::AppState state;
  pixmoor::settings::Settings settings;
  pixmoor::app::DesktopStartup steps(state, settings);
  return pixmoor::app::runStartup(state, settings, steps);
}

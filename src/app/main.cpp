// Pixmoor: the program's entry point. It reads no command-line arguments;
// everything it needs comes from the settings file in the current folder.
#include <QApplication>
#include <QScreen>

#include "app/startup.h"
#include "platform/single_instance.h"

namespace {

class DesktopStartup : public pixmoor::app::StartupSteps {
 public:
  pixmoor::app::InstanceOutcome checkSingleInstance(const std::string& instanceName) override {
    switch (lock_.acquire(instanceName)) {
      case pixmoor::platform::InstanceCheck::First: return pixmoor::app::InstanceOutcome::First;
      case pixmoor::platform::InstanceCheck::AlreadyRunning: return pixmoor::app::InstanceOutcome::AlreadyRunning;
      case pixmoor::platform::InstanceCheck::Unprotected: break;
    }
    return pixmoor::app::InstanceOutcome::Unprotected;
  }

  pixmoor::app::DesktopSize takeDesktopSize() override {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return {};
    const QSize size = screen->size() * screen->devicePixelRatio();
    return {size.width(), size.height()};
  }

 private:
  pixmoor::platform::InstanceLock lock_;  // held until the process ends
};

}  // namespace

int main(int argc, char** argv) {
  // Qt needs argc/argv for its own platform options; the program reads none.
  QApplication application(argc, argv);
  pixmoor::app::AppState state;
  pixmoor::settings::Settings settings;
  DesktopStartup steps;
  return pixmoor::app::runStartup(state, settings, steps);
}

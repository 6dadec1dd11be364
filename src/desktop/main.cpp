// Process entry of the desktop front: the version and help switches print
// and end without a display; otherwise the splash, the notification-area
// icon and the server until "&Exit".
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "desktop/desktop_front.h"

int main(int argc, char** argv) {
  using namespace voxhall;

  if (const auto output = desktop::PrintSwitchOutput({argv + 1, argv + argc})) {
    std::fputs(output->c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }

  QApplication app(argc, argv);  // takes out Qt's own options (-platform, -display, ...)
  QApplication::setApplicationName("Voxhall Server");
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return desktop::RunDesktopFront(app, arguments);
}

// The desktop front's process: shows the splash, runs the start-up sequence,
// keeps the notification-area icon (or the status window) until "&Exit", the
// end of the desktop session or a stop signal, then runs the shut-down
// sequence. A failed start-up is shown in a message box and logged as
// "critical error, shutdown initiated".
#pragma once

#include <QApplication>
#include <optional>
#include <string>
#include <vector>

namespace voxhall::desktop {

// The text to print when the command line asks for the version or the help
// text (checked before any window exists, so that it works without a
// display); nothing when the server is to run.
std::optional<std::string> PrintSwitchOutput(const std::vector<std::string>& arguments);

// Runs the front; answers the process's exit status: 0 after a normal
// shut-down, 1 after a failed start-up. `arguments` are the command-line
// arguments without the program name and without Qt's own options.
int RunDesktopFront(QApplication& app, const std::vector<std::string>& arguments);

}  // namespace voxhall::desktop

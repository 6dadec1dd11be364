#include "desktop/desktop_front.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSessionManager>
#include <QWindow>
#include <chrono>
#include <memory>
#include <thread>

#include "desktop/main_window.h"
#include "desktop/session_signals.h"
#include "desktop/snapshots.h"
#include "host/command_line.h"
#include "host/settings.h"
#include "log/log.h"
#include "shell/pid_file.h"
#include "shell/startup.h"

namespace voxhall::desktop {

namespace {

// The pause after the shut-down sequence before the process ends.
constexpr std::chrono::milliseconds kClosePause{500};
// The longest wait for the splash to be on the screen before the start-up.
constexpr qint64 kSplashPaintWaitMs = 300;

void ShowStartupError(const std::string& reason) {
  QMessageBox box(QMessageBox::Critical, "Voxhall Server", "Voxhall Server could not start.",
                  QMessageBox::Ok);
  box.setInformativeText(QString::fromStdString(reason) + "\n\nThe log has the details: " +
                         QString::fromStdString(host::ProcessSettings().LogPath));
  ScheduleDialogSnapshot(box, "error");
  box.exec();
}

}  // namespace

std::optional<std::string> PrintSwitchOutput(const std::vector<std::string>& arguments) {
  host::Settings scratch;
  if (host::ParseCommandLine(arguments, scratch).action == host::CommandLineAction::Run) {
    return std::nullopt;
  }
  return shell::StartVoxhallServer(arguments).output;
}

int RunDesktopFront(QApplication& app, const std::vector<std::string>& arguments) {
  // The window may be hidden for good (the icon stays); only the shut-down
  // sequence ends the program.
  app.setQuitOnLastWindowClosed(false);

  MainWindowOptions options;
  options.tray_available = QSystemTrayIcon::isSystemTrayAvailable();
  options.open_url = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  options.shutdown = [] {
    shell::ShutdownServer();
    std::this_thread::sleep_for(kClosePause);
  };
  auto window = std::make_unique<MainWindow>(std::move(options));
  window->ShowSplash();
  // Let the splash appear and paint before the start-up blocks the loop.
  QElapsedTimer waited;
  waited.start();
  while (!(window->windowHandle() && window->windowHandle()->isExposed()) &&
         waited.elapsed() < kSplashPaintWaitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  QCoreApplication::processEvents();

  const shell::StartOutcome outcome = shell::StartVoxhallServer(arguments);
  if (outcome.result != shell::StartResult::Started) {
    log::Log(log::lmtError, log::lmdAll, "GENERAL", "critical error, shutdown initiated");
    window.reset();
    ShowStartupError(outcome.error);
    log::ServerLog.reset();
    return 1;
  }
  window->ServerStarted(host::Config());
  const shell::PidFile pid_file(host::ProcessSettings().PidPath);

  SessionSignals process_signals;
  QObject::connect(&process_signals, &SessionSignals::StopRequested, window.get(),
                   &QWidget::close);
  QObject::connect(&process_signals, &SessionSignals::UpdateIpsRequested, window.get(),
                   &MainWindow::miUpdateIps);
  QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(),
                   &MainWindow::WMQueryEndSession);
  QObject::connect(window.get(), &MainWindow::ShutDownFinished, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  ScheduleWindowSnapshots(*window);

  app.exec();
  // Left without "&Exit" (the session manager quit the application): the
  // shut-down sequence still runs.
  if (!window->ShutDown()) window->close();
  return 0;
}

}  // namespace voxhall::desktop

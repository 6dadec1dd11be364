// The process's signals as Qt signals on the main thread: SIGTERM (the end
// of the desktop session, a service manager), SIGINT (Ctrl+C in the terminal
// that started the program) and SIGHUP (that terminal closed) ask to stop;
// SIGUSR1 asks for a new IP check, as with the console front. The signal
// handler only writes the signal's number to a socket pair; the event loop
// reads it. One instance at a time.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace voxhall::desktop {

class SessionSignals : public QObject {
  Q_OBJECT

 public:
  explicit SessionSignals(QObject* parent = nullptr);
  // Puts the default handlers back.
  ~SessionSignals() override;

 signals:
  void StopRequested();
  void UpdateIpsRequested();

 private:
  void OnReadable();

  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace voxhall::desktop

// The process's stop requests as a Qt signal: SIGTERM (the end of the
// desktop session, a service manager), SIGINT (Ctrl+C in the terminal that
// started the program) and SIGHUP (that terminal closed). The signal handler
// only writes a byte to a socket pair; the event loop reads it and emits
// StopRequested on the main thread. One instance at a time.
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

 private:
  void OnReadable();

  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace voxhall::desktop

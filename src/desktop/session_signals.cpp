#include "desktop/session_signals.h"

#include <QSocketNotifier>
#include <csignal>

#ifndef _WIN32
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace voxhall::desktop {

#ifndef _WIN32

namespace {

constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};
int signal_fds[2] = {-1, -1};  // [0] written by the handler, [1] read by the loop

void OnSignal(int number) {
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t written = ::write(signal_fds[0], &byte, 1);
}

}  // namespace

SessionSignals::SessionSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signal_fds) != 0) {
    return;  // no stop signals then; the menu still ends the server
  }
  notifier_ = std::make_unique<QSocketNotifier>(signal_fds[1], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &SessionSignals::OnReadable);

  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : kHandledSignals) sigaction(number, &action, nullptr);
}

SessionSignals::~SessionSignals() {
  if (!notifier_) return;
  for (int number : kHandledSignals) std::signal(number, SIG_DFL);
  notifier_.reset();
  ::close(signal_fds[0]);
  ::close(signal_fds[1]);
  signal_fds[0] = signal_fds[1] = -1;
}

void SessionSignals::OnReadable() {
  char bytes[16];
  bool stop = false;
  bool update = false;
  for (ssize_t count; (count = ::read(signal_fds[1], bytes, sizeof bytes)) > 0;) {
    for (ssize_t i = 0; i < count; ++i) (bytes[i] == SIGUSR1 ? update : stop) = true;
  }
  if (update && !stop) emit UpdateIpsRequested();
  if (stop) emit StopRequested();
}

#else

// On Windows the end of the session reaches the application as Qt's
// commitDataRequest; console control events are not used by a GUI program.
SessionSignals::SessionSignals(QObject* parent) : QObject(parent) {}
SessionSignals::~SessionSignals() = default;
void SessionSignals::OnReadable() {}

#endif

}  // namespace voxhall::desktop

#include "desktop/ip_check_thread.h"

#include <exception>
#include <utility>

#include "log/log.h"

namespace voxhall::desktop {

masterlist::AddressList CheckAddressesFromConfig() {
  return masterlist::RunIpCheck(masterlist::IpCheckRequestFromConfig());
}

IpCheckThread::IpCheckThread(AddressCheck check, QObject* parent)
    : QObject(parent), check_(std::move(check)) {}

IpCheckThread::~IpCheckThread() { Wait(); }

bool IpCheckThread::Start() {
  if (running_) return false;
  Wait();  // the previous check delivered its result and is ending
  running_ = true;
  thread_ = std::thread([this] {
    masterlist::AddressList list;
    try {
      list = check_();
    } catch (const std::exception& error) {  // the menu still gets its "Update IP's"
      log::LogException("frmMain", "IpCheck", error.what());
      list.failed = true;
    }
    // Queued: OnDelivered runs on the owner's thread, where the menu lives.
    QMetaObject::invokeMethod(
        this, [this, list] { OnDelivered(list); }, Qt::QueuedConnection);
  });
  return true;
}

void IpCheckThread::Wait() {
  if (thread_.joinable()) thread_.join();
}

void IpCheckThread::OnDelivered(const masterlist::AddressList& list) {
  running_ = false;
  emit Finished(list);
}

}  // namespace voxhall::desktop

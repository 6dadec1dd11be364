// Runs the host's address check (local addresses and the external IP
// service) on a thread of its own, one check at a time, and delivers each
// result on the thread that owns this object through a queued call, so
// that the menu it fills is only ever touched on the main thread.
#pragma once

#include <QObject>
#include <functional>
#include <thread>

#include "masterlist/ip_check.h"

namespace voxhall::desktop {

// The check itself; blocks for the length of one request.
using AddressCheck = std::function<masterlist::AddressList()>;

// The check as the configuration sets it up (address, detection flag, proxy).
masterlist::AddressList CheckAddressesFromConfig();

class IpCheckThread : public QObject {
  Q_OBJECT

 public:
  explicit IpCheckThread(AddressCheck check, QObject* parent = nullptr);
  // Waits for a running check.
  ~IpCheckThread() override;

  // Starts a check; answers false and does nothing while one is under way,
  // that is until its Finished signal has been delivered.
  bool Start();
  bool Running() const { return running_; }
  // Waits until a running check's thread has ended; its result is then
  // still delivered by the event loop, if one runs.
  void Wait();

 signals:
  // On the owner's thread, once per check.
  void Finished(const voxhall::masterlist::AddressList& list);

 private:
  void OnDelivered(const masterlist::AddressList& list);

  AddressCheck check_;
  std::thread thread_;
  bool running_ = false;  // owner's thread only
};

}  // namespace voxhall::desktop

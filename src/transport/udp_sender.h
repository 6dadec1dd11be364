// VHUDPSender: the thread that puts one virtual server's datagrams on the
// wire. It takes ready datagrams from the packet buffer, writes each through
// the server's socket (given as a send function, so replies leave from the
// server's own port) and frees it. It decides nothing about the protocol.
//
// Start and Join are called by the owning virtual server; the thread itself
// touches the buffer only through GetNextOutgoing and ThreadStopped.
#pragma once

#include <functional>
#include <thread>

#include "transport/packet.h"
#include "transport/packet_buffer.h"

namespace voxhall::transport {

class VHUDPSender {
 public:
  // Writes one datagram to its peer; throws on failure.
  using SendFunction = std::function<void(const Packet&)>;

  // `buffer` must outlive the thread (the owner joins it before freeing
  // the buffer).
  VHUDPSender(PacketBuffer& buffer, SendFunction send);
  ~VHUDPSender();
  VHUDPSender(const VHUDPSender&) = delete;
  VHUDPSender& operator=(const VHUDPSender&) = delete;

  void Start();
  // Asks the thread to end; it leaves once the buffer is stopping.
  void Terminate() { terminated_ = true; }
  // Waits for the thread to end (after the buffer's StopBuffer).
  void Join();

 private:
  void Execute();

  PacketBuffer& buffer_;
  SendFunction send_;
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace voxhall::transport

// VHUDPSender: puts one virtual server's datagrams on the wire. Its thread
// takes ready datagrams from the packet buffer in batches, writes them
// through the server's socket (given as a send function, so replies leave
// from the server's own port; the socket writes a batch with one system call
// where it can) and gives them back to the buffer's pool. It decides nothing
// about the protocol.
//
// Another thread may write too, through WriteReady: the thread that relays a
// voice frame writes its copies itself, while they are in its cache, so that
// a frame is received, relayed and written by one thread and the sender
// thread need not be woken for it. One thread writes at a time, taking and
// writing under one lock, so the datagrams of a connection keep their order.
//
// Start and Join are called by the owning virtual server; the thread itself
// touches the buffer only through PollOutgoing, WaitOutgoing, the pool and
// ThreadStopped.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "transport/packet.h"
#include "transport/packet_buffer.h"

namespace voxhall::transport {

class VHUDPSender {
 public:
  // Writes datagrams from the front of `packets`, in order, each to its
  // peer; answers how many went out (at least one), or throws for the first
  // one, which could not be sent.
  using SendFunction =
      std::function<std::size_t(std::span<const std::unique_ptr<Packet>> packets)>;
  // Most datagrams taken from the buffer and written at once.
  static constexpr std::size_t kBatch = 256;

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

  // Writes everything the buffer has ready on the calling thread, after the
  // thread that is writing at this moment, if any, has written its batch.
  void WriteReady();

 private:
  void Execute();
  // Writes batch_ and gives its packets back to the pool.
  void WriteBatch();  // REQUIRES: write_mu_ held

  PacketBuffer& buffer_;
  SendFunction send_;
  std::mutex write_mu_;  // held while taking from the buffer and writing
  std::vector<std::unique_ptr<Packet>> batch_;  // GUARDED_BY(write_mu_)
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace voxhall::transport

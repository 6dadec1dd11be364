// PacketPool: packets the sender has written, kept for the voice relay to
// fill again, so that relaying a frame to many players allocates nothing per
// copy. The relay takes packets on the listener thread and the sender gives
// them back after writing, each side a whole batch per lock.
//
// The pool is bounded: it keeps at most kMaxPooled packets, and only those
// whose byte buffer is at most kMaxPooledCapacity bytes (voice frames and
// most commands); others are freed. A pooled packet's buffer may be larger
// than its datagram, up to that bound.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/packet.h"

namespace voxhall::transport {

class PacketPool {
 public:
  static constexpr std::size_t kMaxPooled = 4096;
  static constexpr std::size_t kMaxPooledCapacity = 512;

  // Appends `count` packets to `out`, pooled ones first, new ones for the
  // rest. Their contents are left over from earlier use: the caller sets
  // the bytes (Packet::Assign) and the peer.
  void Take(std::size_t count, std::vector<std::unique_ptr<Packet>>& out);

  // Takes the packets of `packets` back and leaves it empty; null entries
  // are skipped, packets beyond the bounds freed.
  void Give(std::vector<std::unique_ptr<Packet>>& packets);

  std::size_t Size();

 private:
  std::mutex mu_;
  std::vector<std::unique_ptr<Packet>> free_;  // GUARDED_BY(mu_)
};

}  // namespace voxhall::transport

#include "transport/packet_pool.h"

#include <algorithm>

namespace voxhall::transport {

void PacketPool::Take(std::size_t count, std::vector<std::unique_ptr<Packet>>& out) {
  out.reserve(out.size() + count);
  {
    std::lock_guard lock(mu_);
    const std::size_t pooled = std::min(count, free_.size());
    for (std::size_t i = 0; i < pooled; ++i) {
      out.push_back(std::move(free_.back()));
      free_.pop_back();
    }
    count -= pooled;
  }
  for (; count > 0; --count) out.push_back(std::make_unique<Packet>());
}

void PacketPool::Give(std::vector<std::unique_ptr<Packet>>& packets) {
  {
    std::lock_guard lock(mu_);
    for (std::unique_ptr<Packet>& p : packets) {
      if (free_.size() >= kMaxPooled) break;
      if (p && p->Capacity() <= kMaxPooledCapacity) free_.push_back(std::move(p));
    }
  }
  packets.clear();  // what was not kept is freed here, outside the lock
}

std::size_t PacketPool::Size() {
  std::lock_guard lock(mu_);
  return free_.size();
}

}  // namespace voxhall::transport

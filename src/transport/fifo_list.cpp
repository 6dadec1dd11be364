#include "transport/fifo_list.h"

#include <algorithm>
#include <new>

namespace voxhall::transport {

namespace {

constexpr std::int32_t kMaxItemsLimit = 100000;
constexpr std::int32_t kGrowByLimit = 10000;
constexpr const char* kNoMemory = "Can't allocate needed memory";

}  // namespace

FIFOList::FIFOList(std::int32_t start_items, std::int32_t max_items, std::int32_t grow_by)
    : grow_by_(grow_by), max_items_(max_items) {
  if (max_items < start_items) throw FIFOListError("StartItems if more than MaxItems");
  if (max_items > kMaxItemsLimit) {
    throw FIFOListError(std::to_string(max_items) +
                        " Items is to much. A FifoList can contain 100.000 items");
  }
  if (grow_by > kGrowByLimit) {
    throw FIFOListError(std::to_string(grow_by) +
                        " Items is to much. A FifoList can grow with 10.000 items at a time max");
  }
  if (start_items < 0 || max_items < 0 || grow_by < 0) {
    throw FIFOListError("Negative parameter is not allowed");
  }
  try {
    items_.resize(static_cast<std::size_t>(start_items));
  } catch (const std::bad_alloc&) {
    throw FIFOListError(kNoMemory);
  }
}

bool FIFOList::Full() const {
  return count_ == Capacity() && (count_ >= max_items_ || grow_by_ == 0);
}

void FIFOList::Push(std::unique_ptr<Packet>&& packet) {
  if (!packet) return;
  if (count_ == Capacity()) Grow();
  bytes_ += packet->Size();
  items_[static_cast<std::size_t>(write_index_)] = std::move(packet);
  ++count_;
  write_index_ = (write_index_ + 1) % Capacity();
}

std::unique_ptr<Packet> FIFOList::Pop() {
  if (count_ == 0) return nullptr;
  auto packet = std::move(items_[static_cast<std::size_t>(read_index_)]);
  read_index_ = (read_index_ + 1) % Capacity();
  --count_;
  bytes_ -= packet->Size();
  return packet;
}

void FIFOList::Grow() {
  if (Full()) throw FIFOListError(kNoMemory);
  const std::int32_t old_capacity = Capacity();
  const std::int32_t new_capacity = std::min(old_capacity + grow_by_, max_items_);
  std::vector<std::unique_ptr<Packet>> grown;
  try {
    grown.resize(static_cast<std::size_t>(new_capacity));
  } catch (const std::bad_alloc&) {
    throw FIFOListError(kNoMemory);
  }
  // Oldest first into slot 0: the read index to the end, then 0 up to it.
  std::size_t slot = 0;
  for (std::int32_t i = read_index_; i < old_capacity; ++i) grown[slot++] = std::move(items_[i]);
  for (std::int32_t i = 0; i < read_index_; ++i) grown[slot++] = std::move(items_[i]);
  items_ = std::move(grown);
  read_index_ = 0;
  write_index_ = old_capacity;
}

}  // namespace voxhall::transport

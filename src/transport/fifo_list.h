// FIFOList: the first-in, first-out ring of packets that every transport
// queue is built from, with a starting size, a hard maximum and a growth
// step. The list owns the packets it holds. It does no locking: its users
// hold the packet buffer's lock while they touch it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "transport/packet.h"

namespace voxhall::transport {

class FIFOListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FIFOList {
 public:
  // Checks the parameters, in this order, and throws FIFOListError with the
  // first text that applies: "StartItems if more than MaxItems",
  // "<MaxItems> Items is to much. A FifoList can contain 100.000 items",
  // "<GrowBy> Items is to much. A FifoList can grow with 10.000 items at a
  // time max", "Negative parameter is not allowed", "Can't allocate needed
  // memory". Then allocates `start_items` slots.
  FIFOList(std::int32_t start_items, std::int32_t max_items, std::int32_t grow_by);
  FIFOList(const FIFOList&) = delete;
  FIFOList& operator=(const FIFOList&) = delete;
  ~FIFOList() = default;  // frees the packets still held

  // Appends a packet; a null packet is ignored. A full list grows by GrowBy
  // slots up to MaxItems. A list that may not grow any more (or has GrowBy 0)
  // throws FIFOListError "Can't allocate needed memory"; the packet then
  // stays with the caller, as it does whenever Push throws.
  void Push(std::unique_ptr<Packet>&& packet);

  // Removes and returns the oldest packet; null when the list is empty.
  std::unique_ptr<Packet> Pop();
  // The oldest packet, left in the list; null when the list is empty.
  const Packet* Front() const {
    return count_ == 0 ? nullptr : items_[static_cast<std::size_t>(read_index_)].get();
  }

  std::int32_t Count() const { return count_; }
  // The sum of the sizes of the packets held.
  std::size_t Bytes() const { return bytes_; }
  bool Empty() const { return count_ == 0; }
  std::int32_t Capacity() const { return static_cast<std::int32_t>(items_.size()); }
  // Whether the next Push would throw for want of room.
  bool Full() const;

 private:
  void Grow();

  std::vector<std::unique_ptr<Packet>> items_;  // the ring; its size is the capacity
  std::int32_t grow_by_;
  std::int32_t max_items_;
  std::int32_t count_ = 0;
  std::size_t bytes_ = 0;
  std::int32_t write_index_ = 0;
  std::int32_t read_index_ = 0;
};

}  // namespace voxhall::transport

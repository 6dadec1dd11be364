#include "transport/fifo_list.h"

#include <gtest/gtest.h>

#include <string>

namespace voxhall::transport {
namespace {

// Packets tagged with a number in their PlayerId field, so order is visible.
std::unique_ptr<Packet> Tagged(std::uint32_t n) {
  return MakePacket(PacketClass::AckPacket, 0, 0, n);
}

std::uint32_t PopTag(FIFOList& list) {
  auto p = list.Pop();
  return p ? p->PlayerId() : 0xFFFFFFFFu;
}

std::string CreateError(std::int32_t start, std::int32_t max, std::int32_t grow) {
  try {
    FIFOList list(start, max, grow);
  } catch (const FIFOListError& e) {
    return e.what();
  }
  return "";
}

TEST(FIFOListTest, CreateChecksParametersInOrder) {
  EXPECT_EQ(CreateError(20, 10, 5), "StartItems if more than MaxItems");
  EXPECT_EQ(CreateError(0, 200000, 5),
            "200000 Items is to much. A FifoList can contain 100.000 items");
  EXPECT_EQ(CreateError(0, 100, 20000),
            "20000 Items is to much. A FifoList can grow with 10.000 items at a time max");
  EXPECT_EQ(CreateError(-1, 10, 5), "Negative parameter is not allowed");
  EXPECT_EQ(CreateError(0, 10, -5), "Negative parameter is not allowed");
  // MaxItems below StartItems wins over the negative check.
  EXPECT_EQ(CreateError(0, -1, 5), "StartItems if more than MaxItems");
  EXPECT_EQ(CreateError(16, 1024, 16), "");
}

TEST(FIFOListTest, GrowsByStepAndKeepsPushOrder) {
  FIFOList list(16, 1024, 16);
  for (std::uint32_t i = 1; i <= 17; ++i) list.Push(Tagged(i));
  EXPECT_EQ(list.Capacity(), 32);
  EXPECT_EQ(list.Count(), 17);
  for (std::uint32_t i = 1; i <= 17; ++i) EXPECT_EQ(PopTag(list), i);
  EXPECT_TRUE(list.Empty());
}

TEST(FIFOListTest, WrappedRingKeepsOrderWhenItGrows) {
  FIFOList list(16, 1024, 16);
  std::uint32_t next_in = 1, next_out = 1;
  for (int i = 0; i < 12; ++i) list.Push(Tagged(next_in++));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(PopTag(list), next_out++);  // read index at 10
  while (list.Count() < 16) list.Push(Tagged(next_in++));           // writes wrap past slot 0
  EXPECT_EQ(list.Capacity(), 16);
  list.Push(Tagged(next_in++));  // grows from a wrapped ring
  EXPECT_EQ(list.Capacity(), 32);
  while (!list.Empty()) EXPECT_EQ(PopTag(list), next_out++);
  EXPECT_EQ(next_out, next_in);
}

TEST(FIFOListTest, StopsAtMaxItemsAndLeavesThePacketWithTheCaller) {
  FIFOList list(16, 20, 16);
  for (std::uint32_t i = 1; i <= 17; ++i) list.Push(Tagged(i));
  EXPECT_EQ(list.Capacity(), 20);
  for (std::uint32_t i = 18; i <= 20; ++i) list.Push(Tagged(i));
  EXPECT_TRUE(list.Full());
  auto extra = Tagged(21);
  try {
    list.Push(std::move(extra));
    FAIL() << "no exception";
  } catch (const FIFOListError& e) {
    EXPECT_STREQ(e.what(), "Can't allocate needed memory");
  }
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(extra->PlayerId(), 21u);
  EXPECT_EQ(list.Count(), 20);
  EXPECT_EQ(PopTag(list), 1u);
}

TEST(FIFOListTest, EmptyStartAndZeroGrowth) {
  FIFOList from_zero(0, 10, 5);
  from_zero.Push(Tagged(1));
  EXPECT_EQ(from_zero.Capacity(), 5);

  FIFOList no_growth(2, 10, 0);
  no_growth.Push(Tagged(1));
  no_growth.Push(Tagged(2));
  EXPECT_TRUE(no_growth.Full());
  EXPECT_THROW(no_growth.Push(Tagged(3)), FIFOListError);
  EXPECT_EQ(PopTag(no_growth), 1u);

  FIFOList nothing(0, 0, 0);
  EXPECT_THROW(nothing.Push(Tagged(1)), FIFOListError);
}

TEST(FIFOListTest, PopOnEmptyAndNullPush) {
  FIFOList list(4, 8, 4);
  EXPECT_EQ(list.Pop(), nullptr);
  list.Push(nullptr);
  EXPECT_EQ(list.Count(), 0);
  list.Push(Tagged(1));
  list.Push(Tagged(2));
  list.Push(Tagged(3));
  // Destroying a list with packets queued frees them (the sanitizer build
  // reports a leak otherwise).
}

}  // namespace
}  // namespace voxhall::transport

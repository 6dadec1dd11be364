#include "protocol/text_message.h"

#include <gtest/gtest.h>

#include <string>

namespace voxhall::protocol {
namespace {

TEST(NotifyTextMessage, LaysOutHeaderMessageKindAndSender) {
  ClientObject receiver;
  receiver.ConnectionId = 0x01020304;
  receiver.PlayerId = 7;
  auto packet = NewNotifyTextMessage(receiver, std::string(300, 'x'), kServerMessageKind,
                                     "a sender name longer than twenty-nine");
  ASSERT_EQ(packet->Size(), 314u);
  EXPECT_EQ(packet->Magic(), 0xBEF0);
  EXPECT_EQ(packet->PacketType(), 130);
  EXPECT_EQ(packet->ConnectionId(), 0x01020304u);
  EXPECT_EQ(packet->PlayerId(), 7u);
  const auto* d = packet->Data();
  EXPECT_EQ(d[24], 255);  // message cut to 255 characters
  EXPECT_EQ(d[24 + 255], 'x');
  EXPECT_EQ(packet->U32At(280), 255u);
  EXPECT_EQ(d[284], 29);  // sender cut to 29 characters
  EXPECT_EQ(std::string(d + 285, d + 314), "a sender name longer than twe");
}

}  // namespace
}  // namespace voxhall::protocol

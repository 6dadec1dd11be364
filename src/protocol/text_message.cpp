#include "protocol/text_message.h"

#include "protocol/command_packet.h"
#include "protocol/wire.h"

namespace voxhall::protocol {

std::unique_ptr<transport::Packet> NewNotifyTextMessage(const ClientObject& receiver,
                                                        std::string_view message,
                                                        std::int32_t kind,
                                                        std::string_view sender_name) {
  auto packet = NewCommandPacket(kNotifyTextMessage, kNotifyTextMessageSize, receiver);
  WireWriter(packet->Buffer(), transport::kCommandHeaderLength)
      .PutText(message, 255)
      .PutI32(kind)
      .PutText(sender_name, 29);
  return packet;
}

}  // namespace voxhall::protocol

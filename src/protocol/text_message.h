// The text-message notice (command type 130) that carries a chat line or a
// server message to one player. Written once here for the listener, which
// forwards players' messages, and the administration interfaces, which send
// messages in the server's name.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "protocol/client_object.h"
#include "transport/packet.h"

namespace voxhall::protocol {

inline constexpr std::uint16_t kNotifyTextMessage = 130;
inline constexpr std::size_t kNotifyTextMessageSize = 314;
// Message kind and sender name of messages the server itself sends.
inline constexpr std::int32_t kServerMessageKind = 255;
inline constexpr std::string_view kServerSenderName = "SERVER";

// A 314-byte notice to `receiver`: the message (cut to 255 characters) at 24,
// its kind at 280 and the sender's name (cut to 29) at 284.
std::unique_ptr<transport::Packet> NewNotifyTextMessage(const ClientObject& receiver,
                                                        std::string_view message,
                                                        std::int32_t kind,
                                                        std::string_view sender_name);

}  // namespace voxhall::protocol

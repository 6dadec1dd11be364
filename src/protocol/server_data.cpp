#include "protocol/server_data.h"

#include "protocol/channel_rec.h"

namespace voxhall::protocol {

std::uint16_t DefaultCodec(const ServerData& data) {
  std::uint16_t codec = kCodecCelp51;
  if (data.AllowCodecWindowsCELP52) codec = kCodecWindowsCelp52;
  if (data.AllowCodecCelp63) codec = kCodecCelp63;
  if (data.AllowCodecGSM148) codec = kCodecGsm148;
  if (data.AllowCodecGSM164) codec = kCodecGsm164;
  return codec;
}

bool CodecAllowed(const ServerData& data, std::uint16_t codec) {
  switch (codec) {
    case kCodecCelp51:
      return data.AllowCodecCelp51;
    case kCodecCelp63:
      return data.AllowCodecCelp63;
    case kCodecGsm148:
      return data.AllowCodecGSM148;
    case kCodecGsm164:
      return data.AllowCodecGSM164;
    case kCodecWindowsCelp52:
      return data.AllowCodecWindowsCELP52;
    default:
      return true;
  }
}

}  // namespace voxhall::protocol

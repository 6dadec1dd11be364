#include "protocol/channel_rec.h"

namespace voxhall::protocol {

void WriteChannelEntry(WireWriter& out, const ChannelRec& channel) {
  out.PutI32(channel.ID)
      .PutU16(channel.Flags)
      .PutU16(channel.Codec)
      .PutI32(channel.Parent)
      .PutText(channel.Name.str(), common::kNameCapacity)
      .PutText(channel.Topic.str(), common::kNameCapacity)
      .PutText(channel.Description.str(), common::kDescriptionCapacity)
      .PutI16(channel.Order)
      .PutU16(channel.MaxUsers);
}

std::optional<ChannelRec> ReadChannelEntry(WireReader& in) {
  ChannelRec channel;
  channel.ID = in.GetI32();
  channel.Flags = in.GetU16();
  channel.Codec = in.GetU16();
  channel.Parent = in.GetI32();
  channel.Name = in.GetText(common::kNameCapacity);
  channel.Topic = in.GetText(common::kNameCapacity);
  channel.Description = in.GetText(common::kDescriptionCapacity);
  channel.Order = in.GetI16();
  channel.MaxUsers = in.GetU16();
  if (!in.ok()) return std::nullopt;
  return channel;
}

}  // namespace voxhall::protocol

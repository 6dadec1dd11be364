#include "transport/packet.h"

#include <cassert>

#include "transport/crc.h"

namespace voxhall::transport {

std::size_t HeaderLength(PacketClass cls) {
  switch (cls) {
    case PacketClass::CommandPacket: return kCommandHeaderLength;
    case PacketClass::AckPacket: return kAckLength;
    case PacketClass::VoiceC2SPacket: return kVoiceC2SHeaderLength;
    case PacketClass::VoiceS2CPacket: return kVoiceS2CHeaderLength;
    case PacketClass::ConnectionPacket: return kConnectionHeaderLength;
    case PacketClass::None: break;
  }
  return 0;
}

std::uint16_t MagicOf(PacketClass cls) {
  switch (cls) {
    case PacketClass::CommandPacket: return kCommandMagic;
    case PacketClass::AckPacket: return kAckMagic;
    case PacketClass::VoiceC2SPacket: return kVoiceC2SMagic;
    case PacketClass::VoiceS2CPacket: return kVoiceS2CMagic;
    case PacketClass::ConnectionPacket: return kConnectionMagic;
    case PacketClass::None: break;
  }
  return 0;
}

Packet::Packet(std::span<const std::uint8_t> bytes) : data_(bytes.begin(), bytes.end()) {}

Packet::Packet(std::span<const std::uint8_t> bytes, std::string peer_address,
               std::uint16_t peer_port)
    : Packet(bytes) {
  SetPeer(std::move(peer_address), peer_port);
}

void Packet::Resize(std::size_t size) {
  if (size > data_.capacity()) data_.reserve(size);  // exactly, not doubled
  data_.resize(size);
  if (data_.capacity() > size) data_.shrink_to_fit();
}

std::uint16_t Packet::U16At(std::size_t offset) const {
  if (offset > data_.size() || data_.size() - offset < 2) return 0;
  return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
}

std::uint32_t Packet::U32At(std::size_t offset) const {
  if (offset > data_.size() || data_.size() - offset < 4) return 0;
  return static_cast<std::uint32_t>(data_[offset]) |
         (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
}

void Packet::SetU16At(std::size_t offset, std::uint16_t value) {
  if (data_.size() < offset + 2) Resize(offset + 2);
  data_[offset] = static_cast<std::uint8_t>(value);
  data_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Packet::SetU32At(std::size_t offset, std::uint32_t value) {
  if (data_.size() < offset + 4) Resize(offset + 4);
  for (int i = 0; i < 4; ++i) data_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

PacketClass Packet::Class() const {
  const std::size_t size = data_.size();
  if (size < kAckLength) return PacketClass::None;  // the shortest class
  switch (Magic()) {
    case kCommandMagic:
      return size >= kCommandHeaderLength ? PacketClass::CommandPacket : PacketClass::None;
    case kConnectionMagic:
      return size >= kConnectionHeaderLength ? PacketClass::ConnectionPacket : PacketClass::None;
    case kVoiceS2CMagic:
      return size >= kVoiceS2CHeaderLength ? PacketClass::VoiceS2CPacket : PacketClass::None;
    case kAckMagic: return PacketClass::AckPacket;
    case kVoiceC2SMagic: return PacketClass::VoiceC2SPacket;
    default: return PacketClass::None;
  }
}

std::size_t Packet::ChecksumOffset(PacketClass cls) {
  switch (cls) {
    case PacketClass::CommandPacket: return kCommandChecksumOffset;
    case PacketClass::ConnectionPacket: return kConnectionChecksumOffset;
    default: return 0;
  }
}

bool Packet::ChecksumMatches(PacketClass cls) const {
  const std::size_t offset = ChecksumOffset(cls);
  if (offset == 0) return true;
  return U32At(offset) == Crc32WithZeroedField(data_.data(), data_.size(), offset);
}

bool Packet::IsValidPacket() const {
  const PacketClass cls = Class();
  return cls != PacketClass::None && ChecksumMatches(cls);
}

void Packet::UpdateChecksum() {
  const PacketClass cls = Class();
  if (cls == PacketClass::None) throw PacketError();
  const std::size_t offset = ChecksumOffset(cls);
  if (offset == 0) return;
  SetU32At(offset, Crc32WithZeroedField(data_.data(), data_.size(), offset));
}

bool Packet::ChecksumValid() const {
  const PacketClass cls = Class();
  if (cls == PacketClass::None) throw PacketError();
  return ChecksumMatches(cls);
}

std::uint32_t Packet::GetPlayerId() const {
  if (Class() == PacketClass::None) throw PacketError();
  return PlayerId();
}

std::uint32_t Packet::GetConnectionId() const {
  if (Class() == PacketClass::None) throw PacketError();
  return ConnectionId();
}

std::unique_ptr<Packet> MakePacket(PacketClass cls, std::uint16_t packet_type,
                                   std::uint32_t connection_id, std::uint32_t player_id) {
  assert(cls != PacketClass::None);
  auto packet = std::make_unique<Packet>();
  packet->Resize(HeaderLength(cls));
  packet->SetU16At(kMagicOffset, MagicOf(cls));
  packet->SetPacketType(packet_type);
  packet->SetConnectionId(connection_id);
  packet->SetPlayerId(player_id);
  return packet;
}

}  // namespace voxhall::transport

// Datagrams as a client would send them, built for the transport tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/packet.h"

namespace voxhall::transport::testing {

inline constexpr const char* kPeer = "127.0.0.1";
inline constexpr std::uint16_t kPeerPort = 5000;

inline std::unique_ptr<Packet> Finish(std::unique_ptr<Packet> p, std::uint16_t port = kPeerPort) {
  p->UpdateChecksum();
  p->SetPeer(kPeer, port);
  return p;
}

inline std::unique_ptr<Packet> Command(std::uint32_t player, std::uint32_t conn,
                                       std::uint32_t seq, std::uint16_t resend = 0,
                                       std::uint16_t type = 5, std::size_t payload = 0) {
  auto p = MakePacket(PacketClass::CommandPacket, type, conn, player);
  p->SetSequence(seq);
  p->SetResendCount(resend);
  p->Resize(kCommandHeaderLength + payload);
  return Finish(std::move(p));
}

inline std::unique_ptr<Packet> Ack(std::uint32_t player, std::uint32_t conn, std::uint32_t seq,
                                   std::uint16_t resend = 0) {
  auto p = MakePacket(PacketClass::AckPacket, resend, conn, player);
  p->SetSequence(seq);
  return Finish(std::move(p));
}

inline std::unique_ptr<Packet> Voice(std::uint32_t player, std::uint32_t conn,
                                     std::uint16_t counter, std::uint16_t port = kPeerPort) {
  auto p = MakePacket(PacketClass::VoiceC2SPacket, 0, conn, player);
  p->SetVoiceCounter(counter);
  p->Resize(40);
  return Finish(std::move(p), port);
}

inline std::unique_ptr<Packet> Connection(std::uint32_t player, std::uint32_t conn,
                                          std::uint16_t type, std::uint32_t seq) {
  auto p = MakePacket(PacketClass::ConnectionPacket, type, conn, player);
  p->SetSequence(seq);
  return Finish(std::move(p));
}

// A packet the listener hands to Send: header without sequence or checksum.
inline std::unique_ptr<Packet> Outgoing(PacketClass cls, std::uint32_t player,
                                        std::uint16_t type = 100, std::uint32_t conn = 0) {
  auto p = MakePacket(cls, type, conn, player);
  p->Resize(HeaderLength(cls) + 8);
  return p;
}

}  // namespace voxhall::transport::testing

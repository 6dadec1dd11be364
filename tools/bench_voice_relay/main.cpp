// Measures the packet buffer's voice path as one virtual server uses it: a
// speaker's voice datagram is received and validated, taken by the listener,
// relayed as one server-to-client voice packet to every other player and
// handed out to the sender. No sockets: only the buffer's own cost.
//
//   voxhall-bench-voice-relay [players=32] [rounds=20000] [extra=0]
//
// `extra` adds that many idle connections (logged in, silent, each from an
// address of its own) under player ids after the players', to show what the
// number of connection records costs the voice path. Time stands still (a
// manual clock), so none of them times out during the run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "transport/connection.h"
#include "transport/packet_buffer.h"

using namespace voxhall::transport;

namespace {

constexpr const char* kPeer = "127.0.0.1";
constexpr std::size_t kVoicePayload = 34;  // a small compressed voice frame

std::uint32_t ConnOf(std::uint32_t player) { return 1000 + player; }
std::uint16_t PortOf(std::uint32_t player) { return static_cast<std::uint16_t>(20000 + player); }
// Players share the loopback address; the idle extra ones come from 10.x.y.z.
std::string PeerOf(std::uint32_t player, bool extra) {
  if (!extra) return kPeer;
  return "10." + std::to_string((player >> 16) & 255) + "." + std::to_string((player >> 8) & 255) +
         "." + std::to_string(player & 255);
}

void Connect(PacketBuffer& buffer, std::uint32_t player, bool extra = false) {
  const std::string peer = PeerOf(player, extra);
  buffer.AddConnection(player, ConnOf(player), peer, PortOf(player), 1);
  buffer.Send(MakePacket(PacketClass::CommandPacket, SingleConnection::kLoginStep6Type,
                         ConnOf(player), player),
              false);
  auto step6 = buffer.PollOutgoing();
  auto ack = MakePacket(PacketClass::AckPacket, 0, ConnOf(player), player);
  ack->SetSequence(step6->Sequence());
  ack->UpdateChecksum();
  ack->SetPeer(peer, PortOf(player));
  buffer.ReceivePacket(std::move(ack));
}

}  // namespace

int main(int argc, char** argv) {
  const int players = argc > 1 ? std::atoi(argv[1]) : 32;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 20000;
  const int extra = argc > 3 ? std::atoi(argv[3]) : 0;
  if (players < 2 || rounds < 1 || extra < 0) {
    std::fprintf(stderr, "usage: %s [players>=2] [rounds>=1] [extra>=0]\n", argv[0]);
    return 2;
  }

  ManualClock clock;
  PacketBuffer buffer(clock);
  for (int p = 1; p <= players; ++p) Connect(buffer, static_cast<std::uint32_t>(p));
  for (int e = 1; e <= extra; ++e) Connect(buffer, static_cast<std::uint32_t>(players + e), true);
  while (buffer.PollOutgoing()) {
  }

  std::size_t received = 0, relayed = 0, sent = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    const std::uint32_t speaker = 1 + static_cast<std::uint32_t>(r % players);
    auto voice = MakePacket(PacketClass::VoiceC2SPacket, 0, ConnOf(speaker), speaker);
    voice->SetVoiceCounter(static_cast<std::uint16_t>(r / players + 1));
    voice->Resize(kVoiceC2SHeaderLength + kVoicePayload);
    voice->SetPeer(kPeer, PortOf(speaker));
    buffer.ReceivePacket(std::move(voice));

    while (auto event = buffer.PollIncoming()) {
      if (event->kind != bePacket || !event->packet) continue;
      ++received;
      for (int p = 1; p <= players; ++p) {
        if (static_cast<std::uint32_t>(p) == speaker) continue;
        auto out = MakePacket(PacketClass::VoiceS2CPacket, 0, ConnOf(p), p);
        out->Resize(kVoiceS2CHeaderLength + kVoicePayload);
        buffer.Send(std::move(out), false);
        ++relayed;
      }
    }
    while (auto datagram = buffer.PollOutgoing()) ++sent;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("players %d, extra records %d, rounds %d: %zu received, %zu relayed, %zu sent in %.3f s\n", players,
              extra, rounds, received, relayed, sent, seconds);
  std::printf("%.0f datagrams out per second, %.2f us per received voice datagram\n",
              static_cast<double>(sent) / seconds, seconds * 1e6 / static_cast<double>(received));
  return sent == relayed ? 0 : 1;
}

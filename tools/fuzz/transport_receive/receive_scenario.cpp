#include "receive_scenario.h"

#include <array>
#include <map>
#include <memory>
#include <span>

#include "transport/clock.h"
#include "transport/packet.h"
#include "transport/packet_buffer.h"

namespace voxhall::transport::fuzz {

namespace {

constexpr std::size_t kMaxOperations = 4000;
constexpr std::uint32_t kConnectionIdBase = 0x100;
constexpr std::array<PacketClass, 5> kClasses = {
    PacketClass::CommandPacket, PacketClass::AckPacket, PacketClass::VoiceC2SPacket,
    PacketClass::VoiceS2CPacket, PacketClass::ConnectionPacket};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Done() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    const std::size_t take = std::min(n, size_ - pos_);
    std::span<const std::uint8_t> out(data_ + pos_, take);
    pos_ += take;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

class Scenario {
 public:
  Scenario() {
    for (std::uint32_t player = 1; player <= 3; ++player) {
      buffer_.AddConnection(player, kConnectionIdBase + player, "127.0.0.1", 5000, 1);
    }
    // Players 1 and 2 finish their login; player 3 stays connecting.
    for (std::uint32_t player = 1; player <= 2; ++player) {
      buffer_.Send(MakePacket(PacketClass::CommandPacket, SingleConnection::kLoginStep6Type,
                              kConnectionIdBase + player, player),
                   false);
    }
    while (auto p = Outgoing()) {
      Receive(Header(PacketClass::AckPacket, p->PlayerId(), p->ConnectionId(), p->ResendCount(),
                     p->Sequence()));
    }
  }

  std::string Run(Input& in) {
    for (std::size_t n = 0; n < kMaxOperations && failure_.empty() && !in.Done(); ++n) Step(in);
    // The workers empty what is left, as they would before a stop.
    for (int i = 0; i < 10000 && failure_.empty() && Outgoing(); ++i) {
    }
    for (int i = 0; i < 10000 && failure_.empty() && Incoming(); ++i) {
    }
    return failure_;
  }

 private:
  static std::uint32_t Player(std::uint8_t b) { return b % 5; }  // 0 to 4; 4 has no record yet

  std::unique_ptr<Packet> Header(PacketClass cls, std::uint32_t player, std::uint32_t conn,
                                 std::uint16_t type, std::uint32_t sequence) {
    auto p = MakePacket(cls, type, conn, player);
    if (cls == PacketClass::VoiceC2SPacket || cls == PacketClass::VoiceS2CPacket) {
      p->SetVoiceCounter(static_cast<std::uint16_t>(sequence));
    } else {
      p->SetSequence(sequence);
    }
    return p;
  }

  void Receive(std::unique_ptr<Packet> p) {
    p->UpdateChecksum();
    p->SetPeer("127.0.0.1", 5000);
    buffer_.ReceivePacket(std::move(p));
  }

  void Fail(const char* what) {
    if (failure_.empty()) failure_ = what;
  }

  // The sender's next datagram, checked.
  std::unique_ptr<Packet> Outgoing() {
    auto p = buffer_.PollOutgoing();
    if (!p) return nullptr;
    const PacketClass cls = p->Class();
    if (!p->IsValidPacket()) Fail("outgoing datagram is not valid");
    if (cls == PacketClass::VoiceC2SPacket) Fail("client-to-server voice sent");
    if (p->PeerAddress().empty()) Fail("outgoing datagram has no destination");
    if (cls == PacketClass::CommandPacket) {
      auto& last = last_command_[p->PlayerId()];
      last = {p->Sequence(), p->ResendCount()};
    }
    return p;
  }

  // The listener's next event, handled as the listener would.
  bool Incoming() {
    auto event = buffer_.PollIncoming();
    if (!event) return false;
    switch (event->kind) {
      case bePacket:
        if (!event->packet) {
          Fail("packet event without a packet");
        } else if (!event->packet->IsValidPacket()) {
          Fail("invalid packet delivered");
        } else if (event->packet->Class() == PacketClass::VoiceS2CPacket ||
                   event->packet->Class() == PacketClass::AckPacket) {
          Fail("acknowledgement or server voice delivered");
        } else if (event->player_id != event->packet->PlayerId()) {
          Fail("event player id differs from the packet's");
        }
        break;
      case beTimeout:
      case beClosed:
        if (event->packet) Fail("connection event with a packet");
        buffer_.RemoveConnection(event->player_id);
        break;
      default: Fail("stopping reported while running");
    }
    return true;
  }

  void Step(Input& in) {
    switch (in.Byte() % 10) {
      case 0: {  // a raw datagram, whatever it holds
        const std::size_t len = in.Byte();
        auto p = std::make_unique<Packet>(in.Bytes(len), "127.0.0.1", 5000);
        buffer_.ReceivePacket(std::move(p));
        break;
      }
      case 1: {  // a well-formed datagram of any class
        const PacketClass cls = kClasses[in.Byte() % kClasses.size()];
        const std::uint32_t player = Player(in.Byte());
        const std::uint8_t flags = in.Byte();
        const std::uint16_t type = in.Byte();
        const std::uint32_t sequence = in.Byte() % 8;
        const std::size_t payload = in.Byte() % 48;
        std::uint32_t conn = (flags & 1) ? kConnectionIdBase + 7 : kConnectionIdBase + player;
        if (player == 0) conn = 0;
        auto p = Header(cls, player, conn, type, sequence);
        if (cls == PacketClass::CommandPacket) p->SetResendCount(flags >> 6);
        p->Resize(p->Size() + payload);
        p->UpdateChecksum();
        if (flags & 2) p->Buffer()[in.Byte() % p->Size()] ^= std::uint8_t(1u << ((flags >> 5) & 7));
        p->SetPeer("127.0.0.1", static_cast<std::uint16_t>(5000 + ((flags >> 3) & 3)));
        buffer_.ReceivePacket(std::move(p));
        break;
      }
      case 2: {  // time passes, now and then far or backwards
        const std::uint8_t b = in.Byte();
        if (b == 255) {
          clock_.AdvanceMs(130000);
        } else if (b == 254) {
          clock_.AdvanceMs(-1000);
        } else {
          clock_.AdvanceMs(b * 20.0);
        }
        break;
      }
      case 3: Outgoing(); break;
      case 4: Incoming(); break;
      case 5: {  // the client acknowledges the last command it got
        const std::uint32_t player = Player(in.Byte());
        const std::uint8_t flags = in.Byte();
        auto it = last_command_.find(player);
        if (it == last_command_.end()) break;
        const std::uint16_t resend = (flags & 1) ? it->second.resend : 0;
        Receive(Header(PacketClass::AckPacket, player, kConnectionIdBase + player, resend,
                       it->second.sequence));
        break;
      }
      case 6: {  // the listener sends something
        const PacketClass cls = kClasses[in.Byte() % kClasses.size()];
        const std::uint32_t player = Player(in.Byte());
        const std::uint8_t flags = in.Byte();
        auto p = Header(cls, player, kConnectionIdBase + player, in.Byte(), 0);
        try {
          buffer_.Send(std::move(p), (flags & 1) != 0);
        } catch (const FIFOListError&) {
          // A full queue; the listener logs it and goes on.
        }
        break;
      }
      case 7: {
        const std::uint32_t player = Player(in.Byte());
        buffer_.AddConnection(player, kConnectionIdBase + player, "127.0.0.1", 5000, in.Byte());
        break;
      }
      case 8: buffer_.RemoveConnection(Player(in.Byte())); break;
      case 9: {
        if (auto stats = buffer_.GetConnectionStats(Player(in.Byte()))) {
          if (stats->loss > 10000) Fail("loss above 100 %");
        }
        break;
      }
    }
  }

  struct SentCommand {
    std::uint32_t sequence;
    std::uint16_t resend;
  };

  ManualClock clock_;
  PacketBuffer buffer_{clock_};
  std::map<std::uint32_t, SentCommand> last_command_;
  std::string failure_;
};

}  // namespace

std::string RunReceiveScenario(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Scenario scenario;
  return scenario.Run(in);
}

}  // namespace voxhall::transport::fuzz

// Packet: one datagram of the voice protocol in a growable byte buffer, with
// the peer it came from or goes to, and the five packet classes its first two
// bytes and its length put it in. Owned through std::unique_ptr by whoever
// holds it last; a Packet is used by one thread at a time.
//
// Header layout (all integers little-endian, unsigned unless stated):
//
//   offset 0       2            4              8          12
//          +-------+------------+--------------+----------+------------------
//          | Magic | PacketType | ConnectionId | PlayerId | class-specific ...
//          +-------+------------+--------------+----------+------------------
//
//   class             magic   min/header  class-specific fields
//   CommandPacket     0xBEF0  24          12 Sequence(4)  16 ResendCount(2)
//                                         18 reserved(2)  20 Checksum(4)  24 payload
//   AckPacket         0xBEF1  16          2 ResendCount acknowledged (in PacketType)
//                                         12 Sequence acknowledged(4)
//   VoiceC2SPacket    0xBEF2  16          12 VoiceCounter(2)  14.. voice layer
//   VoiceS2CPacket    0xBEF3  22          12 VoiceCounter(2)  14..21 voice layer  22 payload
//   ConnectionPacket  0xBEF4  20          12 Sequence(4)  16 Checksum(4)  20 payload
//                                         (pong: 20 Sequence of the ping answered(4))
//
// The checksum is the CRC-32 of the whole datagram with its own 4 bytes
// counted as 0. A buffer shorter than its class's minimum belongs to no class.
//
// The longest datagrams the protocol produces are a whispered voice packet
// (17 bytes of header and list, 5 bytes for each of up to 255 targets, then
// the voice frame: about 1.3 KiB plus a frame of a few hundred bytes) and the
// 556-byte channel list of the login. Received datagrams longer than
// kMaxDatagramLength (2 KiB) are dropped unread, so that no datagram can make
// the server hold more than that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace voxhall::transport {

enum class PacketClass : std::uint8_t {
  None,
  CommandPacket,
  AckPacket,
  VoiceC2SPacket,
  VoiceS2CPacket,
  ConnectionPacket,
};

inline constexpr std::uint16_t kCommandMagic = 0xBEF0;
inline constexpr std::uint16_t kAckMagic = 0xBEF1;
inline constexpr std::uint16_t kVoiceC2SMagic = 0xBEF2;
inline constexpr std::uint16_t kVoiceS2CMagic = 0xBEF3;
inline constexpr std::uint16_t kConnectionMagic = 0xBEF4;

// Field offsets.
inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kPacketTypeOffset = 2;
inline constexpr std::size_t kConnectionIdOffset = 4;
inline constexpr std::size_t kPlayerIdOffset = 8;
inline constexpr std::size_t kSequenceOffset = 12;      // command, ack, connection
inline constexpr std::size_t kVoiceCounterOffset = 12;  // both voice classes
inline constexpr std::size_t kResendCountOffset = 16;   // command
inline constexpr std::size_t kCommandChecksumOffset = 20;
inline constexpr std::size_t kConnectionChecksumOffset = 16;
inline constexpr std::size_t kPongSequenceOffset = 20;

// Header lengths, which are also the minimum lengths of the classes.
inline constexpr std::size_t kCommandHeaderLength = 24;
inline constexpr std::size_t kAckLength = 16;
inline constexpr std::size_t kVoiceC2SHeaderLength = 16;
inline constexpr std::size_t kVoiceS2CHeaderLength = 22;
inline constexpr std::size_t kConnectionHeaderLength = 20;
inline constexpr std::size_t kPongLength = 24;

// Longest datagram the server accepts (see the layout comment above).
inline constexpr std::size_t kMaxDatagramLength = 2048;

// Connection packet types the transport handles itself.
inline constexpr std::uint16_t kPingType = 1;
inline constexpr std::uint16_t kPongType = 2;
inline constexpr std::uint16_t kLoginRequestType = 3;
inline constexpr std::uint16_t kLoginReplyType = 4;

// Header length (= minimum length) and magic of a class; 0 for None.
std::size_t HeaderLength(PacketClass cls);
std::uint16_t MagicOf(PacketClass cls);

// Raised for a buffer that belongs to no class; the text is "Invalid Packet".
class PacketError : public std::runtime_error {
 public:
  PacketError() : std::runtime_error("Invalid Packet") {}
};

// The byte buffer holds exactly the datagram: a packet takes the memory of
// its size, whatever size it had before. The one exception is Assign of
// bytes, which keeps the buffer it has when the bytes fit (see PacketPool).
class Packet {
 public:
  Packet() = default;
  explicit Packet(std::span<const std::uint8_t> bytes);
  Packet(std::span<const std::uint8_t> bytes, std::string peer_address, std::uint16_t peer_port);
  Packet(const Packet&) = default;
  Packet& operator=(const Packet&) = default;
  Packet(Packet&&) noexcept = default;
  Packet& operator=(Packet&&) noexcept = default;

  std::size_t Size() const { return data_.size(); }
  const std::uint8_t* Data() const { return data_.data(); }
  std::span<const std::uint8_t> Bytes() const { return data_; }
  // The byte buffer itself, for encoders that write payloads into it.
  std::vector<std::uint8_t>& Buffer() { return data_; }
  // Sets the size; new bytes are 0. A smaller size gives the memory back.
  void Resize(std::size_t size);

  // Little-endian access at an offset. Reads beyond the end answer 0; writes
  // beyond the end extend the buffer with zeros first.
  std::uint16_t U16At(std::size_t offset) const;
  std::uint32_t U32At(std::size_t offset) const;
  void SetU16At(std::size_t offset, std::uint16_t value);
  void SetU32At(std::size_t offset, std::uint32_t value);

  // Header fields at their offsets. They do not check the class: callers
  // classify first (Class / IsValidPacket).
  std::uint16_t Magic() const { return U16At(kMagicOffset); }
  std::uint16_t PacketType() const { return U16At(kPacketTypeOffset); }
  std::uint32_t ConnectionId() const { return U32At(kConnectionIdOffset); }
  std::uint32_t PlayerId() const { return U32At(kPlayerIdOffset); }
  std::uint32_t Sequence() const { return U32At(kSequenceOffset); }
  std::uint16_t ResendCount() const { return U16At(kResendCountOffset); }
  std::uint16_t VoiceCounter() const { return U16At(kVoiceCounterOffset); }
  void SetPacketType(std::uint16_t v) { SetU16At(kPacketTypeOffset, v); }
  void SetConnectionId(std::uint32_t v) { SetU32At(kConnectionIdOffset, v); }
  void SetPlayerId(std::uint32_t v) { SetU32At(kPlayerIdOffset, v); }
  void SetSequence(std::uint32_t v) { SetU32At(kSequenceOffset, v); }
  void SetResendCount(std::uint16_t v) { SetU16At(kResendCountOffset, v); }
  void SetVoiceCounter(std::uint16_t v) { SetU16At(kVoiceCounterOffset, v); }

  // The class the buffer belongs to: at least the class's minimum length and
  // its magic in the first two bytes; None otherwise.
  PacketClass Class() const;

  // True for a command or connection packet whose checksum is right and for
  // the three unprotected classes; false otherwise. Never throws.
  bool IsValidPacket() const;

  // Computes and stores the checksum of a command or connection packet; does
  // nothing for the other classes; throws PacketError for no class.
  void UpdateChecksum();

  // Whether the stored checksum of a command or connection packet is right;
  // true for the other classes; throws PacketError for no class.
  bool ChecksumValid() const;

  // PlayerId and ConnectionId of a packet of any class; throw PacketError for
  // no class.
  std::uint32_t GetPlayerId() const;
  std::uint32_t GetConnectionId() const;

  const std::string& PeerAddress() const { return peer_address_; }
  std::uint16_t PeerPort() const { return peer_port_; }
  void SetPeer(std::string address, std::uint16_t port) {
    peer_address_ = std::move(address);
    peer_port_ = port;
  }

  // Copies the bytes and the peer of `other`.
  void Assign(const Packet& other) { *this = other; }
  // Replaces the bytes, reusing the buffer when they fit in it.
  void Assign(std::span<const std::uint8_t> bytes) { data_.assign(bytes.begin(), bytes.end()); }
  // Bytes the buffer holds without growing.
  std::size_t Capacity() const { return data_.capacity(); }

 private:
  // Offset of the checksum field of a protected class, or 0 for the others.
  static std::size_t ChecksumOffset(PacketClass cls);
  // Whether a packet of class `cls` (not None) carries the right checksum.
  bool ChecksumMatches(PacketClass cls) const;

  std::vector<std::uint8_t> data_;
  std::string peer_address_;  // dotted text
  std::uint16_t peer_port_ = 0;
};

// A new packet of class `cls` holding just its zeroed header with Magic,
// PacketType, ConnectionId and PlayerId filled in; the other header fields
// are written by the transport when it sends the packet. REQUIRES: cls is not
// None.
std::unique_ptr<Packet> MakePacket(PacketClass cls, std::uint16_t packet_type,
                                   std::uint32_t connection_id, std::uint32_t player_id);

}  // namespace voxhall::transport

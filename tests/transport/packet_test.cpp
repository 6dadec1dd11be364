#include "transport/packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "transport/crc.h"

namespace voxhall::transport {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t size, std::uint16_t magic, std::uint8_t fill = 0x5A) {
  std::vector<std::uint8_t> b(size, fill);
  if (size >= 2) {
    b[0] = static_cast<std::uint8_t>(magic);
    b[1] = static_cast<std::uint8_t>(magic >> 8);
  }
  return b;
}

TEST(Crc32Test, KnownValueAndLengthRules) {
  EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
  EXPECT_EQ(Crc32("abc", 0), 0u);
  std::vector<std::uint8_t> big(kCrc32MaxLength + 1, 0);
  EXPECT_EQ(Crc32(big.data(), big.size()), 0xFFFFFFFFu);
  EXPECT_NE(Crc32(big.data(), kCrc32MaxLength), 0xFFFFFFFFu);
}

TEST(Crc32Test, ZeroedFieldMatchesZeroingTheBytes) {
  std::vector<std::uint8_t> b = Bytes(40, 0xBEF0, 0xA7);
  const std::uint32_t skipped = Crc32WithZeroedField(b.data(), b.size(), 20);
  std::memset(b.data() + 20, 0, 4);
  EXPECT_EQ(skipped, Crc32(b.data(), b.size()));
}

struct ClassCase {
  std::size_t size;
  std::uint16_t magic;
  PacketClass expected;
};

TEST(PacketTest, ClassNeedsMagicAndMinimumLength) {
  const ClassCase cases[] = {
      {23, kCommandMagic, PacketClass::None},
      {24, kCommandMagic, PacketClass::CommandPacket},
      {15, kAckMagic, PacketClass::None},
      {16, kAckMagic, PacketClass::AckPacket},
      {15, kVoiceC2SMagic, PacketClass::None},
      {16, kVoiceC2SMagic, PacketClass::VoiceC2SPacket},
      {21, kVoiceS2CMagic, PacketClass::None},
      {22, kVoiceS2CMagic, PacketClass::VoiceS2CPacket},
      {19, kConnectionMagic, PacketClass::None},
      {20, kConnectionMagic, PacketClass::ConnectionPacket},
      {64, 0xBEF5, PacketClass::None},
      {1, 0, PacketClass::None},
      {0, 0, PacketClass::None},
  };
  for (const ClassCase& c : cases) {
    const Packet p(Bytes(c.size, c.magic));
    EXPECT_EQ(p.Class(), c.expected) << "size " << c.size << " magic " << std::hex << c.magic;
  }
}

TEST(PacketTest, UnprotectedClassesAreValidWhateverTheirBytes) {
  for (std::uint16_t magic : {kAckMagic, kVoiceC2SMagic}) {
    Packet p(Bytes(16, magic, 0xEE));
    EXPECT_TRUE(p.IsValidPacket());
    EXPECT_TRUE(p.ChecksumValid());
    const std::vector<std::uint8_t> before(p.Bytes().begin(), p.Bytes().end());
    p.UpdateChecksum();  // nothing to do for these classes
    EXPECT_EQ(std::vector<std::uint8_t>(p.Bytes().begin(), p.Bytes().end()), before);
  }
  EXPECT_TRUE(Packet(Bytes(22, kVoiceS2CMagic)).IsValidPacket());
}

TEST(PacketTest, ChecksumCoversEveryByteOfCommandPacket) {
  Packet p(Bytes(24 + 6, kCommandMagic, 0x11));
  EXPECT_FALSE(p.IsValidPacket());
  p.UpdateChecksum();
  ASSERT_TRUE(p.IsValidPacket());
  // The field holds the CRC of the datagram with the field zeroed.
  std::vector<std::uint8_t> zeroed(p.Bytes().begin(), p.Bytes().end());
  std::memset(zeroed.data() + kCommandChecksumOffset, 0, 4);
  EXPECT_EQ(p.U32At(kCommandChecksumOffset), Crc32(zeroed.data(), zeroed.size()));
  // All bits of a byte: a single bit flipped in the magic may make another,
  // unprotected class.
  for (std::size_t i = 0; i < p.Size(); ++i) {
    Packet flipped = p;
    flipped.Buffer()[i] ^= 0xFF;
    EXPECT_FALSE(flipped.IsValidPacket()) << "byte " << i;
  }
}

TEST(PacketTest, PingAndPongAreValidWithTheirChecksums) {
  for (std::size_t size : {kConnectionHeaderLength, kPongLength}) {
    Packet p(Bytes(size, kConnectionMagic, 0x33));
    EXPECT_FALSE(p.IsValidPacket());
    p.UpdateChecksum();
    EXPECT_TRUE(p.IsValidPacket()) << size;
    EXPECT_EQ(p.U32At(kConnectionChecksumOffset),
              Crc32WithZeroedField(p.Data(), p.Size(), kConnectionChecksumOffset));
  }
}

TEST(PacketTest, BufferOfNoClassRaisesInvalidPacket) {
  Packet p(Bytes(23, kCommandMagic));
  EXPECT_FALSE(p.IsValidPacket());
  EXPECT_THROW(p.UpdateChecksum(), PacketError);
  EXPECT_THROW(p.GetPlayerId(), PacketError);
  EXPECT_THROW(p.GetConnectionId(), PacketError);
  try {
    (void)p.ChecksumValid();
    FAIL() << "no exception";
  } catch (const PacketError& e) {
    EXPECT_STREQ(e.what(), "Invalid Packet");
  }
}

TEST(PacketTest, HeaderFieldsAreLittleEndianAtTheirOffsets) {
  auto p = MakePacket(PacketClass::CommandPacket, 0x1234, 0xA1B2C3D4, 0x01020304);
  p->SetSequence(0x0A0B0C0D);
  p->SetResendCount(0xBEEF);
  ASSERT_EQ(p->Size(), kCommandHeaderLength);
  const std::uint8_t expected[24] = {0xF0, 0xBE, 0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1,
                                     0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A,
                                     0xEF, 0xBE, 0,    0,    0,    0,    0,    0};
  EXPECT_EQ(std::memcmp(p->Data(), expected, 24), 0);
  EXPECT_EQ(p->GetPlayerId(), 0x01020304u);
  EXPECT_EQ(p->GetConnectionId(), 0xA1B2C3D4u);
  // Reads past the end answer 0; writes past the end extend the buffer.
  EXPECT_EQ(p->U32At(22), 0u);
  p->SetU32At(kPongSequenceOffset + 8, 7);
  EXPECT_EQ(p->Size(), 32u);
  EXPECT_EQ(p->U32At(28), 7u);
}

TEST(PacketTest, AssignCopiesBytesAndPeer) {
  Packet a(Bytes(30, kAckMagic), "127.0.0.2", 8767);
  Packet b;
  b.Assign(a);
  EXPECT_EQ(b.Size(), 30u);
  EXPECT_EQ(b.PeerAddress(), "127.0.0.2");
  EXPECT_EQ(b.PeerPort(), 8767);
  EXPECT_EQ(std::memcmp(a.Data(), b.Data(), 30), 0);
}

}  // namespace
}  // namespace voxhall::transport

#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/channel_rec.h"
#include "protocol/client_object.h"

namespace voxhall::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WireWriter, WritesLittleEndianAtOffsetsAndZeroFillsGaps) {
  Bytes buf;
  WireWriter w(buf, 2);
  w.PutU32(0x11223344).PutI16(-2).PutU16(0xABCD).PutI32(-1).PutU8(7);
  EXPECT_EQ(buf, (Bytes{0, 0, 0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xCD, 0xAB, 0xFF, 0xFF, 0xFF,
                        0xFF, 7}));
  // Overwriting inside the image keeps its size and the bytes around.
  w.Seek(0).PutU16(0x0102);
  EXPECT_EQ(buf.size(), 15u);
  EXPECT_EQ(buf[0], 0x02);
  EXPECT_EQ(buf[1], 0x01);
  EXPECT_EQ(buf[2], 0x44);
}

TEST(WireWriter, FixedTextTakesCapacityPlusOneBytesAndCutsLongText) {
  Bytes buf(40, 0xEE);  // stale bytes must not survive as padding
  WireWriter(buf).PutText("abc", 29);
  ASSERT_EQ(buf.size(), 40u);
  EXPECT_EQ(buf[0], 3);
  EXPECT_EQ(std::string(buf.begin() + 1, buf.begin() + 4), "abc");
  for (std::size_t i = 4; i < 30; ++i) EXPECT_EQ(buf[i], 0) << i;
  EXPECT_EQ(buf[30], 0xEE);

  Bytes cut;
  WireWriter(cut).PutText(std::string(35, 'x'), 29).PutU8(9);
  ASSERT_EQ(cut.size(), 31u);
  EXPECT_EQ(cut[0], 29);
  EXPECT_EQ(cut[29], 'x');
  EXPECT_EQ(cut[30], 9);
}

TEST(WireReader, RoundTripsEveryType) {
  Bytes buf;
  WireWriter(buf)
      .PutU8(200)
      .PutU16(65000)
      .PutI16(-32768)
      .PutU32(0xFFFFFFFEu)
      .PutI32(-123456)
      .PutF64(45000.75)
      .PutText("Lobby", 29)
      .PutText("", 99);
  WireReader r(buf);
  EXPECT_EQ(r.GetU8(), 200);
  EXPECT_EQ(r.GetU16(), 65000);
  EXPECT_EQ(r.GetI16(), -32768);
  EXPECT_EQ(r.GetU32(), 0xFFFFFFFEu);
  EXPECT_EQ(r.GetI32(), -123456);
  EXPECT_DOUBLE_EQ(r.GetF64(), 45000.75);
  EXPECT_EQ(r.GetText(29), "Lobby");
  EXPECT_EQ(r.GetText(99), "");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(WireReader, ShortInputFailsWithoutReadingPastTheEnd) {
  // Each read needs one byte more than is left; the reader answers 0, keeps
  // its position and stays failed for every later read.
  struct Case {
    const char* what;
    std::size_t available;
    std::function<void(WireReader&)> read;
  };
  const std::vector<Case> cases = {
      {"u8", 0, [](WireReader& r) { EXPECT_EQ(r.GetU8(), 0); }},
      {"u16", 1, [](WireReader& r) { EXPECT_EQ(r.GetU16(), 0); }},
      {"i16", 1, [](WireReader& r) { EXPECT_EQ(r.GetI16(), 0); }},
      {"u32", 3, [](WireReader& r) { EXPECT_EQ(r.GetU32(), 0u); }},
      {"i32", 3, [](WireReader& r) { EXPECT_EQ(r.GetI32(), 0); }},
      {"f64", 7, [](WireReader& r) { EXPECT_EQ(r.GetF64(), 0.0); }},
      {"text", 29, [](WireReader& r) { EXPECT_EQ(r.GetText(29), ""); }},
      {"skip", 4, [](WireReader& r) { EXPECT_FALSE(r.Skip(5)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A separate allocation of exactly the available size lets the address
    // sanitizer catch any read past it.
    Bytes buf(c.available + 1, 1);
    WireReader r(std::span<const std::uint8_t>(buf).subspan(1));
    c.read(r);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.position(), 0u);
  }

  Bytes four{1, 2, 3, 4};
  WireReader r(four);
  EXPECT_EQ(r.GetU32(), 0x04030201u);
  EXPECT_EQ(r.GetU8(), 0);
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(r.Seek(0));  // failure is sticky
  EXPECT_EQ(r.GetU8(), 0);

  WireReader past(four, 5);
  EXPECT_FALSE(past.ok());
  EXPECT_EQ(past.position(), 0u);
  WireReader empty(std::span<const std::uint8_t>{});
  EXPECT_EQ(empty.GetText(0), "");
  EXPECT_FALSE(empty.ok());
}

TEST(WireReader, LengthByteAboveCapacityIsCutToTheField) {
  Bytes buf(30, 'n');
  buf[0] = 200;
  WireReader r(buf);
  EXPECT_EQ(r.GetText(29), std::string(29, 'n'));
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.position(), 30u);
}

TEST(PlayerEntry, FieldsAtTheirOffsets) {
  ClientObject p;
  p.PlayerId = 0x01020304;
  p.ChannelId = -1;
  p.ChannelPrivileges = 0x0506;
  p.Privileges = 9;
  p.PlayerFlags = 0x80000004u;
  p.NickName = "Anna";
  Bytes buf;
  WireWriter w(buf);
  WritePlayerEntry(w, p);
  ASSERT_EQ(buf.size(), kPlayerEntrySize);
  EXPECT_EQ(buf[0], 0x04);
  EXPECT_EQ(buf[4], 0xFF);
  EXPECT_EQ(buf[8], 0x06);
  EXPECT_EQ(buf[10], 9);
  EXPECT_EQ(buf[15], 0x80);
  EXPECT_EQ(buf[16], 4);
  EXPECT_EQ(buf[17], 'A');

  WireReader r(buf);
  auto back = ReadPlayerEntry(r);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->PlayerId, p.PlayerId);
  EXPECT_EQ(back->ChannelId, -1);
  EXPECT_EQ(back->ChannelPrivileges, 0x0506);
  EXPECT_EQ(back->PlayerFlags, 0x80000004u);
  EXPECT_EQ(back->NickName, "Anna");

  buf.pop_back();
  WireReader short_reader(buf);
  EXPECT_FALSE(ReadPlayerEntry(short_reader));
}

TEST(ChannelEntry, FieldsAtTheirOffsetsWithoutThePassword) {
  ChannelRec c;
  c.ID = 7;
  c.Flags = kChannelFlagPassword | kChannelFlagSubChannels;
  c.Codec = kCodecGsm164;
  c.Parent = kNoParent;
  c.Name = "Lobby";
  c.Topic = "Talk";
  c.Description = std::string(120, 'd');
  c.Order = -3;
  c.MaxUsers = 32000;
  c.Password = "secret";
  Bytes buf;
  WireWriter w(buf);
  WriteChannelEntry(w, c);
  ASSERT_EQ(buf.size(), kChannelEntrySize);
  EXPECT_EQ(buf[0], 7);
  EXPECT_EQ(buf[4], 12);
  EXPECT_EQ(buf[6], 3);
  EXPECT_EQ(buf[8], 0xFF);
  EXPECT_EQ(buf[12], 5);
  EXPECT_EQ(buf[13], 'L');
  EXPECT_EQ(buf[42], 4);
  EXPECT_EQ(buf[72], 99);
  EXPECT_EQ(buf[172], 0xFD);
  EXPECT_EQ(buf[173], 0xFF);
  EXPECT_EQ(buf[174], 32000 & 0xFF);
  EXPECT_EQ(buf[175], 32000 >> 8);
  EXPECT_EQ(std::string(buf.begin(), buf.end()).find("secret"), std::string::npos);

  WireReader r(buf);
  auto back = ReadChannelEntry(r);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Parent, kNoParent);
  EXPECT_EQ(back->Name, "Lobby");
  EXPECT_EQ(back->Description, std::string(99, 'd'));
  EXPECT_EQ(back->Order, -3);
  EXPECT_EQ(back->MaxUsers, 32000);
  EXPECT_TRUE(back->Password.empty());

  WireReader short_reader(std::span<const std::uint8_t>(buf).first(175));
  EXPECT_FALSE(ReadChannelEntry(short_reader));
}

}  // namespace
}  // namespace voxhall::protocol

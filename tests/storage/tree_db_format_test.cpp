#include "storage/tree_db_format.h"

#include <gtest/gtest.h>

#include <bit>

#include "storage_test_util.h"

namespace voxhall::storage {
namespace {

using testing::Bytes;

constexpr double kCreated = 45306.25;    // 2024-01-15 06:00
constexpr double kLastWrite = 45307.75;  // 2024-01-16 18:00

std::uint64_t Bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// The node "Users" holding the integer "Logins" = 3, byte by byte.
// clang-format off
const std::string kUsersLogins = Bytes()
    .U8(0x01).I32(5).Text("Users").I32(0)          // node "Users", tag 0
    .U8(0x02).I32(6).Text("Logins").I32(0).I32(3)  // integer "Logins" = 3
    .U8(0x00)                                      // end of the node's list
    .str();
// clang-format on

TEST(TreeDbFormatTest, UsersLoginsExampleIsEncodedByteForByte) {
  FBRoot root("Voxhall db");
  auto* users = root.AddChild(EntryKind::kNode, "Users")->AsContainer();
  EntryCast<FBInteger>(users->AddChild(EntryKind::kInteger, "Logins"))->SetValue(3);

  // clang-format off
  const std::string expected = Bytes()
      .Header(Bits(kCreated), Bits(kLastWrite), "Voxhall db")
      .Text(kUsersLogins)
      .U8(0)   // end of the root's list
      .U8(0)   // the final zero byte
      .str();
  // clang-format on
  EXPECT_EQ(EncodeDatabase({kCreated, kLastWrite}, root), expected);
}

TEST(TreeDbFormatTest, UsersLoginsExampleDecodes) {
  const std::string file = Bytes()
                               .Header(Bits(kCreated), Bits(kLastWrite), "db", 77)
                               .Text(kUsersLogins)
                               .U8(0)
                               .U8(0)
                               .str();
  auto db = DecodeDatabase(file);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->header.created, kCreated);
  EXPECT_EQ(db->header.last_write, kLastWrite);
  EXPECT_EQ(db->root->Name(), "db");
  EXPECT_EQ(db->root->Tag(), 77);
  ASSERT_EQ(db->root->Children().size(), 1u);
  const FBEntry* users = db->root->FirstChild();
  EXPECT_EQ(users->Kind(), EntryKind::kNode);
  EXPECT_EQ(users->Name(), "Users");
  const auto* logins = EntryCast<FBInteger>(users->AsContainer()->FirstChild());
  ASSERT_NE(logins, nullptr);
  EXPECT_EQ(logins->Name(), "Logins");
  EXPECT_EQ(logins->Value(), 3);
  EXPECT_EQ(logins->Parent(), users);
}

TEST(TreeDbFormatTest, EmptyDatabaseIs66Bytes) {
  FBRoot root("Voxhall db");
  const std::string expected =
      Bytes().Header(Bits(kCreated), Bits(kLastWrite), "Voxhall db").U8(0).U8(0).str();
  ASSERT_EQ(expected.size(), 66u);
  const std::string encoded = EncodeDatabase({kCreated, kLastWrite}, root);
  EXPECT_EQ(encoded, expected);
  EXPECT_EQ(encoded.size(), kEmptyDatabaseSize);
  // The fixture below pins the same layout as a file.
  EXPECT_EQ(testing::ReadFile(VOXHALL_STORAGE_TEST_DATA "/valid/empty.db"), expected);
}

TEST(TreeDbFormatTest, NameIsCutTo31CharactersWithATerminatingZero) {
  FBRoot root(std::string(40, 'n'));
  const std::string encoded = EncodeDatabase({}, root);
  EXPECT_EQ(encoded.substr(26, 32), std::string(31, 'n') + '\0');
  auto db = DecodeDatabase(encoded);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->root->Name(), std::string(31, 'n'));
}

TEST(TreeDbFormatTest, HeaderFieldsAreWrittenAsFixed) {
  FBRoot root("x");
  root.SetTag(-2);
  const std::string encoded = EncodeDatabase({kCreated, kLastWrite}, root);
  EXPECT_EQ(encoded.substr(0, 10), Bytes().Text("RRFB").U16(64).U16(1).U16(0).str());
  EXPECT_EQ(encoded.substr(58, 6), Bytes().I32(-2).U16(0).str());
}

TEST(TreeDbFormatTest, EveryKindRoundTrips) {
  FBRoot root("all kinds");
  root.SetTag(5);
  auto* node = root.AddChild(EntryKind::kNode, "Node")->AsContainer();
  node->SetTag(-1);
  auto* i = EntryCast<FBInteger>(node->AddChild(EntryKind::kInteger, "Int"));
  i->SetValue(-123456);
  i->SetTag(9);
  EntryCast<FBString>(node->AddChild(EntryKind::kString, "Str"))->SetValue("text \x01\xff");
  EntryCast<FBString>(node->AddChild(EntryKind::kString, "Str"))->SetValue("duplicate");
  EntryCast<FBBinary>(root.AddChild(EntryKind::kBinary, "Bin"))->SetData({0, 1, 2, 255});
  EntryCast<FBFloat>(root.AddChild(EntryKind::kFloat, "Float"))->SetValue(45306.123456789);
  EntryCast<FBWideString>(root.AddChild(EntryKind::kWideString, "Wide"))
      ->SetValue(u"h\u00e9\u4e16");
  root.AddChild(EntryKind::kNode, "");  // an empty node with an empty name
  root.AddChild(EntryKind::kString, "Empty");

  const std::string encoded = EncodeDatabase({kCreated, kLastWrite}, root);
  auto db = DecodeDatabase(encoded);
  ASSERT_TRUE(db);
  EXPECT_EQ(EncodeDatabase(db->header, *db->root), encoded);

  const FBRoot& r = *db->root;
  EXPECT_EQ(r.Tag(), 5);
  ASSERT_EQ(r.Children().size(), 6u);
  const FBContainer* n = r.Children()[0]->AsContainer();
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->Tag(), -1);
  ASSERT_EQ(n->Children().size(), 3u);
  EXPECT_EQ(EntryCast<FBInteger>(n->Children()[0].get())->Value(), -123456);
  EXPECT_EQ(n->Children()[0]->Tag(), 9);
  EXPECT_EQ(EntryCast<FBString>(n->Children()[1].get())->Value(), "text \x01\xff");
  EXPECT_EQ(EntryCast<FBString>(n->Children()[2].get())->Value(), "duplicate");
  EXPECT_EQ(n->Children()[2]->Name(), "Str");
  EXPECT_EQ(EntryCast<FBBinary>(r.Children()[1].get())->Data(),
            (std::vector<std::uint8_t>{0, 1, 2, 255}));
  EXPECT_EQ(EntryCast<FBFloat>(r.Children()[2].get())->Value(), 45306.123456789);
  EXPECT_EQ(EntryCast<FBWideString>(r.Children()[3].get())->Value(), u"h\u00e9\u4e16");
  EXPECT_EQ(r.Children()[4]->Kind(), EntryKind::kNode);
  EXPECT_EQ(r.Children()[4]->Name(), "");
  EXPECT_EQ(EntryCast<FBString>(r.Children()[5].get())->Value(), "");
}

TEST(TreeDbFormatTest, FloatKeepsItsTenBytesExactly) {
  // More precision than a double holds: written back unchanged all the same.
  const Extended80 raw = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xC8, 0x0E, 0x40};
  const std::string file = Bytes()
                               .Header(0, 0, "")
                               .Record(5, "F")
                               .Text(std::string(raw.begin(), raw.end()))
                               .U8(0)
                               .U8(0)
                               .str();
  auto db = DecodeDatabase(file);
  ASSERT_TRUE(db);
  EXPECT_EQ(EntryCast<FBFloat>(db->root->FirstChild())->Raw(), raw);
  EXPECT_EQ(EncodeDatabase(db->header, *db->root), file);
}

TEST(TreeDbFormatTest, ZeroAndNegativeLengthsAreEmptyAndConsumeNothing) {
  // clang-format off
  const std::string file = Bytes()
      .Header(0, 0, "")
      .U8(3).I32(-5).I32(0).I32(-1)              // string, no name, length -1
      .U8(4).I32(1).Text("b").I32(0).I32(0)      // binary "b" of size 0
      .U8(6).I32(1).Text("w").I32(0).I32(INT32_MIN)  // wide string "w", count -2^31
      .U8(2).I32(1).Text("i").I32(0).I32(7)      // integer "i" = 7: nothing was skipped
      .U8(0).U8(0)
      .str();
  // clang-format on
  auto db = DecodeDatabase(file);
  ASSERT_TRUE(db);
  const auto& children = db->root->Children();
  ASSERT_EQ(children.size(), 4u);
  EXPECT_EQ(children[0]->Name(), "");
  EXPECT_EQ(EntryCast<FBString>(children[0].get())->Value(), "");
  EXPECT_TRUE(EntryCast<FBBinary>(children[1].get())->Data().empty());
  EXPECT_TRUE(EntryCast<FBWideString>(children[2].get())->Value().empty());
  EXPECT_EQ(EntryCast<FBInteger>(children[3].get())->Value(), 7);
}

TEST(TreeDbFormatTest, BytesAfterTheRootListAreNotRead) {
  const std::string base = Bytes().Header(0, 0, "x").U8(0).str();
  EXPECT_TRUE(DecodeDatabase(base));  // the final zero byte itself is not read
  EXPECT_TRUE(DecodeDatabase(base + "\x00garbage"));
}

TEST(TreeDbFormatTest, VersionZeroIsRead) {
  EXPECT_TRUE(DecodeDatabase(Bytes().Header(0, 0, "x", 0, 0).U8(0).U8(0).str()));
  EXPECT_FALSE(DecodeDatabase(Bytes().Header(0, 0, "x", 0, 2).U8(0).U8(0).str()));
}

TEST(TreeDbFormatTest, HeaderSizeFieldSaysWhereTheTreeStarts) {
  // A 12-byte header: only the reserved field and half the creation time.
  auto small = DecodeDatabase(
      Bytes().Text("RRFB").U16(12).U16(1).U16(0).U16(0).Record(2, "I").I32(1).U8(0).str());
  ASSERT_TRUE(small);
  EXPECT_EQ(small->root->Name(), "");
  EXPECT_EQ(EntryCast<FBInteger>(small->root->FirstChild())->Value(), 1);

  // A 70-byte header: the first 64 bytes count, six more are skipped.
  // clang-format off
  auto large = DecodeDatabase(Bytes()
      .Text("RRFB").U16(70).U16(1).U16(0).U64(Bits(kCreated)).U64(0)
      .Text("big").Zeros(29).I32(3).Zeros(2)
      .Zeros(6)                                   // bytes 64..69 of the header
      .Record(2, "I").I32(2).U8(0)
      .str());
  // clang-format on
  ASSERT_TRUE(large);
  EXPECT_EQ(large->root->Name(), "big");
  EXPECT_EQ(large->root->Tag(), 3);
  EXPECT_EQ(large->header.created, kCreated);
  EXPECT_EQ(EntryCast<FBInteger>(large->root->FirstChild())->Value(), 2);

  // Below 8 the header cannot even hold its own first fields.
  EXPECT_FALSE(DecodeDatabase(Bytes().Text("RRFB").U16(4).U16(1).U8(0).U8(0).str()));
}

TEST(TreeDbFormatTest, NameFieldWithoutZeroByteKeepsAll32Bytes) {
  std::string file = Bytes().Header(0, 0, "").U8(0).U8(0).str();
  file.replace(26, 32, std::string(32, 'z'));
  auto db = DecodeDatabase(file);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->root->Name(), std::string(32, 'z'));
  EXPECT_EQ(EncodeDatabase(db->header, *db->root).substr(26, 32), std::string(31, 'z') + '\0');
}

// Nesting costs heap, not stack, in decoding, encoding and destruction.
TEST(TreeDbFormatTest, VeryDeepNestingNeitherOverflowsNorRecurses) {
  constexpr int kDepth = 300000;
  std::string file = Bytes().Header(0, 0, "deep").str();
  const std::string node = Bytes().Record(1, "").str();
  file.reserve(file.size() + kDepth * (node.size() + 1) + 2);
  for (int i = 0; i < kDepth; ++i) file += node;
  file.append(kDepth + 2, '\0');
  auto db = DecodeDatabase(file);
  ASSERT_TRUE(db);
  EXPECT_EQ(EncodeDatabase(db->header, *db->root), file);
  // Cut before the lists close: rejected, and the partial tree freed.
  EXPECT_FALSE(DecodeDatabase(std::string_view(file).substr(0, file.size() - kDepth / 2)));
}

}  // namespace
}  // namespace voxhall::storage

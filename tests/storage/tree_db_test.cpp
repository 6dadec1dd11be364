#include "storage/tree_db.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "common/file_io.h"
#include "storage_test_util.h"

namespace voxhall::storage {

using common::TEST_SetWriteLimit;
namespace {

namespace fs = std::filesystem;

class TreeDbTest : public ::testing::Test {
 protected:
  // Opens `db` on server.db of the temporary folder.
  void Open(FreeBase& db, FBOpenFlag flag = FBOpenFlag::kCreateNotExists) {
    db.SetOpenFlag(flag);
    db.SetFileName(path_);
    db.SetActive(true);
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("server.db");
};

TEST_F(TreeDbTest, CreateNotExistsMakesAnEmptyFileThenA66ByteDatabase) {
  FreeBase db;
  Open(db);
  EXPECT_EQ(db.LastError(), kFBSuccess);
  EXPECT_TRUE(db.Active());
  ASSERT_TRUE(fs::exists(path_));
  EXPECT_EQ(fs::file_size(path_), 0u);
  EXPECT_EQ(db.CurrentFileSize(), 0);
  EXPECT_EQ(db.DatabaseName(), "unbenannt");
  db.SetDatabaseName("Voxhall db");
  EXPECT_TRUE(db.Flush());
  EXPECT_EQ(db.LastError(), kFBSuccess);
  EXPECT_EQ(fs::file_size(path_), 66u);
  EXPECT_EQ(db.CurrentFileSize(), 66);
  const std::string bytes = testing::ReadFile(path_);
  EXPECT_EQ(bytes.substr(0, 4), "RRFB");
  EXPECT_EQ(bytes.substr(26, 11), std::string("Voxhall db") + '\0');
}

TEST_F(TreeDbTest, ReadWriteCreatesTheFileOnlyAtTheFirstFlush) {
  FreeBase db;
  Open(db, FBOpenFlag::kReadWrite);
  EXPECT_TRUE(db.Active());
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_TRUE(db.Flush());
  EXPECT_TRUE(fs::exists(path_));
}

TEST_F(TreeDbTest, ReadOnlyNeverWrites) {
  FreeBase db;
  Open(db, FBOpenFlag::kReadOnly);
  EXPECT_TRUE(db.Active());
  EXPECT_TRUE(db.WriteInteger("a", 1));
  EXPECT_FALSE(db.Flush());
  EXPECT_EQ(db.LastError(), kFBWriteFailed);
  db.SetActive(false);
  EXPECT_EQ(db.LastError(), kFBWriteFailed);
  EXPECT_FALSE(db.Active());
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(TreeDbTest, ReadOnlyOnAnExistingFileLeavesItAlone) {
  {
    FreeBase db;
    Open(db);
    db.WriteString("k", "v");
    db.SetActive(false);
  }
  const std::string before = testing::ReadFile(path_);
  FreeBase db;
  Open(db, FBOpenFlag::kReadOnly);
  EXPECT_EQ(db.ReadString("k", ""), "v");
  db.WriteString("k", "changed");
  db.SetActive(false);
  EXPECT_EQ(db.LastError(), kFBWriteFailed);
  EXPECT_EQ(testing::ReadFile(path_), before);
}

TEST_F(TreeDbTest, LastErrorCodes) {
  std::vector<std::int32_t> reported;
  FreeBase db;
  db.SetOnError([&](FreeBase& sender, std::int32_t& code) {
    EXPECT_EQ(&sender, &db);
    reported.push_back(code);
  });

  EXPECT_FALSE(db.Flush());
  EXPECT_EQ(db.LastError(), kFBNotActive);
  db.SetActive(true);
  EXPECT_EQ(db.LastError(), kFBNoFileName);
  db.SetActive(false);
  EXPECT_EQ(db.LastError(), kFBAlreadyInState);

  db.SetFileName(dir_.File("no/such/folder/server.db"));
  db.SetOpenFlag(FBOpenFlag::kCreateNotExists);
  db.SetActive(true);
  EXPECT_EQ(db.LastError(), kFBCreateFailed);
  EXPECT_FALSE(db.Active());

  testing::WriteFile(path_, "not a database at all");
  db.SetFileName(path_);
  db.SetActive(true);
  EXPECT_EQ(db.LastError(), kFBNotADatabase);
  EXPECT_FALSE(db.Active());

  fs::remove(path_);
  db.SetActive(true);
  EXPECT_EQ(db.LastError(), kFBSuccess);
  db.SetActive(true);
  EXPECT_EQ(db.LastError(), kFBAlreadyInState);
  EXPECT_TRUE(db.Active());
  EXPECT_TRUE(db.Flush());
  db.SetActive(false);
  EXPECT_EQ(db.LastError(), kFBSuccess);

  EXPECT_EQ(reported, (std::vector<std::int32_t>{6, 2, 1, 3, 5, 1}));
}

TEST_F(TreeDbTest, ErrorHandlerMayChangeTheCode) {
  FreeBase db;
  db.SetOnError([](FreeBase&, std::int32_t& code) { code = 42; });
  db.Flush();
  EXPECT_EQ(db.LastError(), 42);
}

TEST_F(TreeDbTest, FileNameAndOpenFlagChangesWhileActiveAreIgnored) {
  FreeBase db;
  Open(db);
  db.SetFileName(dir_.File("other.db"));
  db.SetOpenFlag(FBOpenFlag::kReadOnly);
  EXPECT_EQ(db.FileName(), path_);
  EXPECT_EQ(db.OpenFlag(), FBOpenFlag::kCreateNotExists);
  EXPECT_TRUE(db.Flush());
  EXPECT_FALSE(fs::exists(dir_.File("other.db")));
}

TEST_F(TreeDbTest, ExistingEmptyFileIsANewDatabase) {
  testing::WriteFile(path_, "");
  for (FBOpenFlag flag : {FBOpenFlag::kCreateNotExists, FBOpenFlag::kReadWrite}) {
    FreeBase db;
    Open(db, flag);
    EXPECT_EQ(db.LastError(), kFBSuccess);
    EXPECT_TRUE(db.Active());
    EXPECT_EQ(db.DatabaseName(), "unbenannt");
    db.SetActive(false);
    EXPECT_EQ(fs::file_size(path_), 66u);
    testing::WriteFile(path_, "");
  }
}

TEST_F(TreeDbTest, InactiveDatabaseAnswersDefaults) {
  FreeBase db;
  EXPECT_EQ(db.GetEntry("a", EntryKind::kInteger), nullptr);
  EXPECT_EQ(db.GetEntry("", EntryKind::kRoot), nullptr);
  EXPECT_EQ(db.FindEntry("a", EntryKind::kInteger, true), nullptr);
  EXPECT_FALSE(db.WriteInteger("a", 1));
  EXPECT_FALSE(db.WriteString("a", "x"));
  EXPECT_FALSE(db.WriteFloat("a", 1));
  EXPECT_EQ(db.ReadInteger("a", 17), 17);
  EXPECT_EQ(db.ReadString("a", "def"), "def");
  EXPECT_EQ(db.ReadFloat("a", 2.5), 2.5);
  db.CreateNode("a");
  db.SetDatabaseName("x");
  EXPECT_EQ(db.DatabaseName(), "");
  EXPECT_EQ(db.CurrentFileSize(), 0);
}

TEST_F(TreeDbTest, PathsCreateIntermediateNodesAndIgnoreCase) {
  FreeBase db;
  Open(db);
  EXPECT_TRUE(db.WriteString("a\\b\\c", "first"));
  FBEntry* root = db.GetEntry("ignored", EntryKind::kRoot);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Kind(), EntryKind::kRoot);
  FBEntry* a = db.GetEntry("a", EntryKind::kNode);
  FBEntry* b = db.GetEntry("a\\b", EntryKind::kNode);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Parent(), a);
  EXPECT_TRUE(db.WriteString("A\\B\\C", "second"));
  ASSERT_EQ(b->AsContainer()->Children().size(), 1u);
  EXPECT_EQ(b->AsContainer()->FirstChild()->Name(), "c");
  EXPECT_EQ(db.ReadString("a\\b\\c", ""), "second");
}

TEST_F(TreeDbTest, LookupsMatchKindAsWellAsName) {
  FreeBase db;
  Open(db);
  db.WriteString("x", "text");
  EXPECT_EQ(db.ReadInteger("x", -7), -7);
  EXPECT_TRUE(db.WriteInteger("x", 5));
  const auto& children = db.GetEntry("", EntryKind::kRoot)->AsContainer()->Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(db.ReadString("x", ""), "text");
  EXPECT_EQ(db.ReadInteger("X", 0), 5);
  // An intermediate part must name a node: a string "x" does not lead anywhere.
  EXPECT_EQ(db.ReadString("x\\y", "none"), "none");
}

TEST_F(TreeDbTest, BackslashRules) {
  FreeBase db;
  Open(db);
  EXPECT_TRUE(db.WriteInteger("\\\\a\\\\b", 3));  // leading and doubled ones act as one
  EXPECT_EQ(db.ReadInteger("a\\b", 0), 3);
  EXPECT_EQ(db.ReadInteger("\\a\\\\\\b", 0), 3);
  // A trailing backslash finds and creates nothing.
  EXPECT_FALSE(db.WriteInteger("a\\b\\", 4));
  EXPECT_EQ(db.GetEntry("a\\", EntryKind::kNode), nullptr);
  EXPECT_FALSE(db.WriteInteger("new\\", 4));
  EXPECT_EQ(db.GetEntry("new", EntryKind::kNode), nullptr);
  EXPECT_FALSE(db.WriteInteger("", 4));
  EXPECT_FALSE(db.WriteInteger("\\\\\\", 4));
  EXPECT_EQ(db.GetEntry("a", EntryKind::kNode)->AsContainer()->Children().size(), 1u);
  EXPECT_EQ(db.GetEntry("", EntryKind::kRoot)->AsContainer()->Children().size(), 1u);
}

TEST_F(TreeDbTest, FirstOfDuplicateNamesIsFound) {
  FreeBase db;
  Open(db);
  auto* root = db.GetEntry("", EntryKind::kRoot)->AsContainer();
  EntryCast<FBInteger>(root->AddChild(EntryKind::kInteger, "dup"))->SetValue(1);
  EntryCast<FBInteger>(root->AddChild(EntryKind::kInteger, "DUP"))->SetValue(2);
  EXPECT_EQ(db.ReadInteger("dup", 0), 1);
  db.WriteInteger("Dup", 10);
  EXPECT_EQ(EntryCast<FBInteger>(root->Children()[1].get())->Value(), 2);
  EXPECT_EQ(db.ReadInteger("dUP", 0), 10);
}

TEST_F(TreeDbTest, AddChildRefusesRootAndUnknownKinds) {
  FBRoot root;
  EXPECT_EQ(root.AddChild(EntryKind::kRoot, "r"), nullptr);
  EXPECT_EQ(root.AddChild(static_cast<EntryKind>(7), "x"), nullptr);
  EXPECT_TRUE(root.Children().empty());
}

TEST_F(TreeDbTest, DeleteEntryRemovesTheSubtreeOnly) {
  FreeBase db;
  Open(db);
  db.WriteInteger("keep\\a", 1);
  db.WriteInteger("gone\\a", 2);
  db.WriteInteger("gone\\b\\c", 3);
  db.WriteInteger("last", 4);
  FBEntry* gone = db.GetEntry("gone", EntryKind::kNode);
  EXPECT_TRUE(db.DeleteEntry(gone));
  EXPECT_EQ(db.GetEntry("gone", EntryKind::kNode), nullptr);
  EXPECT_EQ(db.ReadInteger("gone\\b\\c", 0), 0);
  const auto& children = db.GetEntry("", EntryKind::kRoot)->AsContainer()->Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0]->Name(), "keep");
  EXPECT_EQ(children[1]->Name(), "last");
  EXPECT_FALSE(db.DeleteEntry(db.GetEntry("", EntryKind::kRoot)));
  EXPECT_FALSE(db.DeleteEntry(nullptr));
  // The first child can go too; the list goes on from the next one.
  EXPECT_TRUE(db.DeleteEntry(db.GetEntry("keep", EntryKind::kNode)));
  EXPECT_EQ(db.GetEntry("", EntryKind::kRoot)->AsContainer()->FirstChild()->Name(), "last");
}

TEST_F(TreeDbTest, WriteReadRoundTripKeepsEverythingButTheLastWriteTime) {
  double created = 0;
  {
    FreeBase db;
    Open(db);
    created = db.CreationTime();
    EXPECT_GT(created, 40000);
    db.SetDatabaseName("round trip");
    db.WriteInteger("n\\int", -5);
    db.WriteString("n\\str", "value");
    db.WriteString("n\\STR", "second write");
    db.WriteFloat("n\\float", 45306.5);
    auto* n = db.GetEntry("n", EntryKind::kNode)->AsContainer();
    EntryCast<FBString>(n->AddChild(EntryKind::kString, "str"))->SetValue("duplicate");
    EntryCast<FBBinary>(n->AddChild(EntryKind::kBinary, "bin"))->SetData({9, 8, 7});
    EntryCast<FBWideString>(n->AddChild(EntryKind::kWideString, "wide"))->SetValue(u"wide");
    n->AddChild(EntryKind::kInteger, "tagged")->SetTag(1234);
    db.SetActive(false);
    EXPECT_EQ(db.LastError(), kFBSuccess);
  }
  const std::string first = testing::ReadFile(path_);

  FreeBase db;
  Open(db);
  EXPECT_EQ(db.CurrentFileSize(), static_cast<std::int32_t>(first.size()));
  EXPECT_EQ(db.CreationTime(), created);
  EXPECT_EQ(db.DatabaseName(), "round trip");
  EXPECT_EQ(db.ReadInteger("n\\int", 0), -5);
  EXPECT_EQ(db.ReadString("n\\str", ""), "second write");
  EXPECT_EQ(db.ReadFloat("n\\float", 0), 45306.5);
  const auto& children = db.GetEntry("n", EntryKind::kNode)->AsContainer()->Children();
  ASSERT_EQ(children.size(), 7u);
  ASSERT_NE(EntryCast<FBString>(children[3].get()), nullptr);
  EXPECT_EQ(EntryCast<FBString>(children[3].get())->Value(), "duplicate");
  ASSERT_NE(EntryCast<FBBinary>(children[4].get()), nullptr);
  EXPECT_EQ(EntryCast<FBBinary>(children[4].get())->Data(), (std::vector<std::uint8_t>{9, 8, 7}));
  ASSERT_NE(EntryCast<FBWideString>(children[5].get()), nullptr);
  EXPECT_EQ(EntryCast<FBWideString>(children[5].get())->Value(), u"wide");
  EXPECT_EQ(children[6]->Tag(), 1234);
  db.SetActive(false);

  // Only the last-write time (offset 18, 8 bytes) differs.
  std::string second = testing::ReadFile(path_);
  ASSERT_EQ(second.size(), first.size());
  second.replace(18, 8, first.substr(18, 8));
  EXPECT_EQ(second, first);
}

TEST_F(TreeDbTest, LongDatabaseNameIsCutAtTheWrite) {
  FreeBase db;
  Open(db);
  db.SetDatabaseName(std::string(40, 'N'));
  EXPECT_EQ(db.DatabaseName().size(), 40u);
  db.Flush();
  EXPECT_EQ(db.DatabaseName(), std::string(31, 'N'));
  EXPECT_EQ(testing::ReadFile(path_).substr(26, 32), std::string(31, 'N') + '\0');
}

TEST_F(TreeDbTest, DeactivationWritesAndFreesWhateverTheOutcome) {
  FreeBase db;
  Open(db);
  db.WriteInteger("x", 1);
  TEST_SetWriteLimit(10);
  db.SetActive(false);
  TEST_SetWriteLimit(-1);
  EXPECT_EQ(db.LastError(), kFBWriteFailed);
  EXPECT_FALSE(db.Active());
  EXPECT_EQ(db.CurrentFileSize(), 0);
  EXPECT_EQ(fs::file_size(path_), 0u);  // the empty file made at activation
}

}  // namespace
}  // namespace voxhall::storage

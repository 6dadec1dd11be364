// Every file of the damaged corpus is rejected as a whole, by the decoder and
// by an activation, which leaves the file untouched; every valid fixture loads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "storage/tree_db.h"
#include "storage/tree_db_format.h"
#include "storage_test_util.h"

namespace voxhall::storage {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Corpus(const char* folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(VOXHALL_STORAGE_TEST_DATA) / folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

TEST(DamagedFilesTest, DecoderRejectsEveryDamagedFile) {
  const auto files = Corpus("damaged");
  ASSERT_GE(files.size(), 20u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    EXPECT_FALSE(DecodeDatabase(testing::ReadFile(file.string())));
  }
}

TEST(DamagedFilesTest, ActivationLeavesDatabaseInactiveAndFileUntouched) {
  for (const auto& file : Corpus("damaged")) {
    SCOPED_TRACE(file.filename().string());
    testing::TempDir dir;
    const std::string path = dir.File("server.db");
    const std::string original = testing::ReadFile(file.string());
    testing::WriteFile(path, original);

    FreeBase db;
    db.SetOpenFlag(FBOpenFlag::kCreateNotExists);
    db.SetFileName(path);
    db.SetActive(true);
    EXPECT_EQ(db.LastError(), kFBNotADatabase);
    EXPECT_FALSE(db.Active());
    EXPECT_EQ(db.GetEntry("", EntryKind::kRoot), nullptr);
    EXPECT_FALSE(db.Flush());
    EXPECT_EQ(db.LastError(), kFBNotActive);
    db.SetActive(false);
    EXPECT_EQ(db.LastError(), kFBAlreadyInState);
    EXPECT_EQ(testing::ReadFile(path), original);
    EXPECT_FALSE(fs::exists(path + ".new"));
  }
}

TEST(DamagedFilesTest, EveryValidFixtureLoadsAndReencodesItself) {
  const auto files = Corpus("valid");
  ASSERT_GE(files.size(), 4u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::string bytes = testing::ReadFile(file.string());
    auto db = DecodeDatabase(bytes);
    ASSERT_TRUE(db);
    const std::string again = EncodeDatabase(db->header, *db->root);
    auto reread = DecodeDatabase(again);
    ASSERT_TRUE(reread);
    EXPECT_EQ(EncodeDatabase(reread->header, *reread->root), again);
  }
}

TEST(DamagedFilesTest, EveryPrefixOfAValidFileIsRejected) {
  const std::string bytes = testing::ReadFile(VOXHALL_STORAGE_TEST_DATA "/valid/all_kinds.db");
  // Only the final zero byte may be missing.
  for (std::size_t size = 0; size + 1 < bytes.size(); ++size) {
    EXPECT_FALSE(DecodeDatabase(std::string_view(bytes).substr(0, size))) << size;
  }
  EXPECT_TRUE(DecodeDatabase(std::string_view(bytes).substr(0, bytes.size() - 1)));
}

}  // namespace
}  // namespace voxhall::storage

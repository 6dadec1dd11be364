// Crash safety of the flush: a write that fails half way, and a process killed
// in the middle of a large flush, both leave the previous file loadable with
// every entry.
#include "common/file_io.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "storage/tree_db.h"
#include "storage_test_util.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace voxhall::storage {

using common::ReadWholeFile;
using common::ReplaceFileContents;
using common::ReplacementPath;
using common::TEST_SetWriteLimit;
namespace {

namespace fs = std::filesystem;

constexpr int kEntries = 50000;

std::string EntryName(int i) { return "Entry" + std::to_string(i); }
std::string EntryValue(int i) { return "value of entry " + std::to_string(i); }

// Fills a database on `path` with kEntries strings below the node "Big" (about
// 2 MB on disk) and closes it. Children are appended directly: a path lookup
// per entry would scan all earlier siblings.
void WriteLargeDatabase(const std::string& path) {
  FreeBase db;
  db.SetOpenFlag(FBOpenFlag::kCreateNotExists);
  db.SetFileName(path);
  db.SetActive(true);
  ASSERT_TRUE(db.Active());
  db.CreateNode("Big");
  auto* big = db.GetEntry("Big", EntryKind::kNode)->AsContainer();
  for (int i = 0; i < kEntries; ++i) {
    EntryCast<FBString>(big->AddChild(EntryKind::kString, EntryName(i)))->SetValue(EntryValue(i));
  }
  db.SetActive(false);
  ASSERT_EQ(db.LastError(), kFBSuccess);
}

// Opens `path` and checks that every entry WriteLargeDatabase made is there,
// in order.
void ExpectLargeDatabase(const std::string& path) {
  FreeBase db;
  db.SetFileName(path);
  db.SetActive(true);
  ASSERT_EQ(db.LastError(), kFBSuccess);
  const FBEntry* big = db.GetEntry("Big", EntryKind::kNode);
  ASSERT_NE(big, nullptr);
  const auto& children = big->AsContainer()->Children();
  ASSERT_EQ(children.size(), static_cast<std::size_t>(kEntries));
  for (int i = 0; i < kEntries; ++i) {
    const auto* entry = EntryCast<FBString>(children[i].get());
    ASSERT_NE(entry, nullptr) << i;
    ASSERT_EQ(entry->Name(), EntryName(i));
    ASSERT_EQ(entry->Value(), EntryValue(i));
  }
}

TEST(FileIoTest, ReplaceWritesNewContentAndLeavesNoTemporaryFile) {
  testing::TempDir dir;
  const std::string path = dir.File("f");
  ASSERT_TRUE(ReplaceFileContents(path, "one"));
  ASSERT_TRUE(ReplaceFileContents(path, "two two"));
  EXPECT_EQ(testing::ReadFile(path), "two two");
  EXPECT_FALSE(fs::exists(ReplacementPath(path)));
}

TEST(FileIoTest, ReplaceIntoAMissingFolderFails) {
  testing::TempDir dir;
  EXPECT_FALSE(ReplaceFileContents(dir.File("missing/f"), "x"));
}

TEST(FileIoTest, ReadWholeFileOfAFolderFails) {
  testing::TempDir dir;
  EXPECT_FALSE(ReadWholeFile(dir.path().string()));
  EXPECT_FALSE(ReadWholeFile(dir.File("missing")));
}

TEST(FileIoTest, ShortWriteLeavesThePreviousFileIntact) {
  testing::TempDir dir;
  const std::string path = dir.File("server.db");
  WriteLargeDatabase(path);
  const std::string before = testing::ReadFile(path);

  FreeBase db;
  db.SetFileName(path);
  db.SetActive(true);
  db.WriteString("Another\\Entry", "x");
  TEST_SetWriteLimit(static_cast<std::int64_t>(before.size() / 2));  // the disk fills up
  EXPECT_FALSE(db.Flush());
  EXPECT_EQ(db.LastError(), kFBWriteFailed);
  db.SetActive(false);
  EXPECT_EQ(db.LastError(), kFBWriteFailed);
  TEST_SetWriteLimit(-1);

  EXPECT_EQ(testing::ReadFile(path), before);
  EXPECT_FALSE(fs::exists(ReplacementPath(path)));
  ExpectLargeDatabase(path);
}

TEST(FileIoTest, ProcessKilledInTheMiddleOfAFlushLeavesALoadableFile) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork";
#else
  testing::TempDir dir;
  const std::string path = dir.File("server.db");
  WriteLargeDatabase(path);
  const std::string temp = ReplacementPath(path);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Flushes over and over, each time a larger tree, until it is killed.
    FreeBase db;
    db.SetFileName(path);
    db.SetActive(true);
    for (int round = 0;; ++round) {
      const std::string node = "More" + std::to_string(round);
      for (int i = 0; i < 500; ++i) db.WriteString(node + "\\" + std::to_string(i), "x");
      db.Flush();
    }
  }

  // Kill it while a new file is being written beside the old one.
  ASSERT_TRUE(testing::KillWhileWriting(child, temp)) << "no flush was seen in progress";

  // The killed flush leaves its partial file behind (unless the kill came just
  // after a rename), and the database is whole either way.
  RecordProperty("partial_file_left", fs::exists(temp) ? "yes" : "no");
  ExpectLargeDatabase(path);
  // The next flush writes over the leftover and succeeds.
  FreeBase db;
  db.SetFileName(path);
  db.SetActive(true);
  EXPECT_TRUE(db.Flush());
  EXPECT_FALSE(fs::exists(temp));
#endif
}

}  // namespace
}  // namespace voxhall::storage

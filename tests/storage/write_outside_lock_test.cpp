// Writing the database file: the channel set goes to disk in one write, so a
// crash during a save leaves a whole set, and the file is written outside the
// data lock, so readers and writers of entries never wait for the disk.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/file_io.h"
#include "storage/channel_store.h"
#include "storage/tree_db.h"
#include "storage_test_util.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#endif

namespace voxhall::storage {
namespace {

namespace fs = std::filesystem;

constexpr char kServer[] = "server_cfg Default";
constexpr int kChannelCount = 50;

// A set of channels whose names all carry the set's mark.
std::vector<StoredChannel> ChannelSet(int mark) {
  std::vector<StoredChannel> set(kChannelCount);
  for (int i = 0; i < kChannelCount; ++i) {
    set[i].parent = -1;
    set[i].name = "set" + std::to_string(mark) + "-" + std::to_string(i);
  }
  return set;
}

// Opens `path` with some weight in it (as registered users give), for a save
// that takes a while.
void OpenWithUsers(FreeBase& db, const std::string& path) {
  db.SetOpenFlag(FBOpenFlag::kCreateNotExists);
  db.SetFileName(path);
  db.SetActive(true);
  ASSERT_TRUE(db.Active());
  db.CreateNode("Weight");
  auto* weight = db.GetEntry("Weight", EntryKind::kNode)->AsContainer();
  for (int i = 0; i < 100000; ++i) {
    EntryCast<FBString>(weight->AddChild(EntryKind::kString, "u" + std::to_string(i)))
        ->SetValue("registered user " + std::to_string(i));
  }
}

TEST(DatabaseWriteTest, KillDuringAChannelSaveLeavesAWholeSet) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork";
#else
  testing::TempDir dir;
  const std::string path = dir.File("server.db");
  {
    FreeBase db;
    OpenWithUsers(db, path);
    ASSERT_TRUE(ReplaceChannels(db, ChannelSet(0), kServer));
    db.SetActive(false);
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Saves one set after the other until it is killed.
    FreeBase db;
    db.SetFileName(path);
    db.SetActive(true);
    for (int mark = 1;; ++mark) ReplaceChannels(db, ChannelSet(mark), kServer);
  }
  // Kill it while a new file is being written.
  ASSERT_TRUE(testing::KillWhileWriting(child, common::ReplacementPath(path)))
      << "no save was seen in progress";

  FreeBase db;
  db.SetFileName(path);
  db.SetActive(true);
  ASSERT_EQ(db.LastError(), kFBSuccess);
  auto first = LoadChannel(db, 0, kServer);
  ASSERT_TRUE(first.has_value());
  const std::string mark = first->name.str().substr(0, first->name.str().find('-'));
  for (int i = 0; i < kChannelCount; ++i) {
    auto channel = LoadChannel(db, i, kServer);
    ASSERT_TRUE(channel.has_value()) << i;
    EXPECT_EQ(channel->name.str(), mark + "-" + std::to_string(i));
  }
  EXPECT_FALSE(LoadChannel(db, kChannelCount, kServer).has_value());
#endif
}

TEST(DatabaseWriteTest, EntriesStayUsableWhileTheFileIsBeingWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a named pipe";
#else
  testing::TempDir dir;
  const std::string path = dir.File("server.db");
  FreeBase db;
  OpenWithUsers(db, path);
  ASSERT_TRUE(db.Flush());
  // The new file is a pipe: the write blocks until the test reads it.
  const std::string temp = common::ReplacementPath(path);
  ASSERT_EQ(mkfifo(temp.c_str(), 0600), 0);
  db.WriteString("Marker", "before");
  auto flush = std::async(std::launch::async, [&db] { return db.Flush(); });
  // Opening the pipe's reading end returns once the flush has opened the new
  // file, that is once its image is encoded; the write then blocks while
  // nobody reads.
  const int pipe_fd = open(temp.c_str(), O_RDONLY);
  ASSERT_GE(pipe_fd, 0);

  // Meanwhile another thread reads and changes entries.
  auto other = std::async(std::launch::async, [&db] {
    db.WriteString("Marker", "during");
    return db.ReadString("Marker", "");
  });
  const bool in_time = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;

  std::string image;  // reading unblocks the write
  char chunk[4096];
  for (ssize_t n; (n = read(pipe_fd, chunk, sizeof chunk)) > 0;) image.append(chunk, n);
  close(pipe_fd);
  flush.get();
  ASSERT_TRUE(in_time) << "the data lock was held across the write";
  EXPECT_EQ(other.get(), "during");
  EXPECT_NE(image.find("before"), std::string::npos);  // the image as it was at the flush
#endif
}

}  // namespace
}  // namespace voxhall::storage

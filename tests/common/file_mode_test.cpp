// Modes of the files the process creates: new files are the owner's alone,
// replaced files keep the mode their owner gave them.
#include "common/file_io.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "support/temp_dir.h"

namespace voxhall::common {
namespace {

namespace fs = std::filesystem;

fs::perms ModeOf(const std::string& path) {
  return fs::status(path).permissions() & fs::perms::mask;
}

constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;

TEST(FileModeTest, NewFilesAreReadableByTheirOwnerOnly) {
#ifdef _WIN32
  GTEST_SKIP() << "no POSIX modes";
#endif
  testing::TempDir dir;
  ASSERT_TRUE(ReplaceFileContents(dir.File("replaced"), "x"));
  ASSERT_TRUE(CreateEmptyFile(dir.File("empty")));
  std::FILE* appended = OpenForAppend(dir.File("appended"));
  ASSERT_NE(appended, nullptr);
  std::fclose(appended);
  // A replacement file left behind by a crash, with a wide mode.
  testing::WriteFile(ReplacementPath(dir.File("stale")), "old");
  fs::permissions(ReplacementPath(dir.File("stale")), fs::perms::all);
  ASSERT_TRUE(ReplaceFileContents(dir.File("stale"), "new"));

  for (const char* name : {"replaced", "empty", "appended", "stale"}) {
    EXPECT_EQ(ModeOf(dir.File(name)), kOwnerOnly) << name;
  }
}

TEST(FileModeTest, ExistingFilesKeepTheirMode) {
#ifdef _WIN32
  GTEST_SKIP() << "no POSIX modes";
#endif
  testing::TempDir dir;
  const fs::perms shared = kOwnerOnly | fs::perms::group_read | fs::perms::others_read;
  for (const char* name : {"replaced", "empty", "appended"}) {
    testing::WriteFile(dir.File(name), "before");
    fs::permissions(dir.File(name), shared);
  }
  ASSERT_TRUE(ReplaceFileContents(dir.File("replaced"), "after"));
  ASSERT_TRUE(CreateEmptyFile(dir.File("empty")));
  std::FILE* appended = OpenForAppend(dir.File("appended"));
  ASSERT_NE(appended, nullptr);
  std::fclose(appended);

  for (const char* name : {"replaced", "empty", "appended"}) {
    EXPECT_EQ(ModeOf(dir.File(name)), shared) << name;
  }
  EXPECT_EQ(testing::ReadFile(dir.File("replaced")), "after");
  EXPECT_EQ(testing::ReadFile(dir.File("empty")), "before");
}

}  // namespace
}  // namespace voxhall::common

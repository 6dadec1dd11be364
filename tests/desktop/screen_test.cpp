// The real voxhall-desktop on a virtual X server (the test runs under
// xvfb-run): it shows the splash and, since a bare X server has no
// notification area, the status window; it saves screenshots of both under
// the build folder ("desktop-screenshots") and ends cleanly on SIGTERM, the
// signal a desktop session sends at its end. A failed start-up shows its
// message box and ends with status 1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "support/server_process.h"
#include "support/temp_dir.h"

namespace voxhall::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Width and height of a PNG file from its header; {0, 0} when it is none.
std::pair<int, int> PngSize(const std::string& path) {
  const std::string bytes = ReadFile(path);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto number = [&](std::size_t at) {
    int value = 0;
    for (std::size_t i = at; i < at + 4; ++i) value = value * 256 + static_cast<unsigned char>(bytes[i]);
    return value;
  };
  return {number(16), number(20)};
}

bool WaitForFile(const fs::path& path, std::chrono::milliseconds timeout = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  std::this_thread::sleep_for(200ms);  // let the writer finish the file
  return true;
}

class DesktopScreenTest : public ::testing::Test {
 protected:
  DesktopScreenTest() {
    // The snapshots stay in the build folder for people to look at.
    fs::create_directories(shots_);
    setenv("VOXHALL_DESKTOP_SNAPSHOTS", shots_.c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");  // the X server of xvfb-run
  }

  fs::path shots_ = VOXHALL_SCREENSHOT_DIR;
};

TEST_F(DesktopScreenTest, ShowsSplashThenStatusWindowAndShutsDownAtSessionEnd) {
  for (const char* name : {"splash.png", "status.png", "menu.png", "addresses.png"}) {
    fs::remove(shots_ / name);
  }
  TempDir dir;
  WriteFile(dir.File("server.ini"),
            "[Main Config]\nHTTPServer Port=" + std::to_string(FreeTcpPort()) +
                "\nTCPQueryPort=" + std::to_string(FreeTcpPort()) +
                "\nExternalIPDectection=0\n[WebPost]\nEnabled=0\n"
                "[Servers]\n0=server_cfg Default\n[server_cfg Default]\nServerUDPPort=" +
                std::to_string(FreeUdpPort()) + "\n");
  ServerProcess desktop(dir.path(), {"-pid=" + dir.File("desktop.pid")}, VOXHALL_DESKTOP_BINARY);

  ASSERT_TRUE(WaitForFile(shots_ / "splash.png")) << desktop.Stderr();
  EXPECT_EQ(PngSize((shots_ / "splash.png").string()), std::make_pair(250, 200));
  ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished"));
  ASSERT_TRUE(WaitForFile(shots_ / "status.png")) << desktop.Stderr();
  const auto [width, height] = PngSize((shots_ / "status.png").string());
  EXPECT_EQ(width, 250);
  EXPECT_GT(height, 200);  // the picture with the status bar below it
  ASSERT_TRUE(WaitForFile(shots_ / "addresses.png")) << desktop.Stderr();
  EXPECT_GT(PngSize((shots_ / "menu.png").string()).first, 0);
  EXPECT_EQ(ReadFile(dir.File("desktop.pid")), std::to_string(desktop.pid()) + "\n");

  desktop.Signal(SIGTERM);
  EXPECT_EQ(desktop.WaitExit(30s), 0) << desktop.Stderr();
  const std::string log = ReadFile(dir.File("server.log"));
  EXPECT_NE(log.find("Server shutdown finished"), std::string::npos) << log;
  EXPECT_NE(log.find("log ended at"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path() / "desktop.pid"));
}

TEST_F(DesktopScreenTest, FailedStartShowsTheReasonAndEndsWithStatusOne) {
  fs::remove(shots_ / "error.png");
  TempDir dir;
  fs::create_directory(dir.path() / "config-is-a-folder");
  ServerProcess desktop(dir.path(), {"-ini=" + dir.File("config-is-a-folder")},
                        VOXHALL_DESKTOP_BINARY);
  EXPECT_EQ(desktop.WaitExit(30s), 1) << desktop.Stderr();
  EXPECT_NE(ReadFile(dir.File("server.log")).find("GENERAL,\tcritical error, shutdown initiated"),
            std::string::npos);
  EXPECT_GT(PngSize((shots_ / "error.png").string()).first, 0);
}

TEST_F(DesktopScreenTest, VersionSwitchPrintsWithoutADisplay) {
  TempDir dir;
  unsetenv("DISPLAY");
  ServerProcess desktop(dir.path(), {"-ver"}, VOXHALL_DESKTOP_BINARY);
  EXPECT_EQ(desktop.WaitExit(), 0);
  EXPECT_EQ(desktop.Stdout(), "Version Voxhall2 v2.0.18.31 Linux\n");
  EXPECT_FALSE(fs::exists(dir.path() / "server.log"));
}

}  // namespace
}  // namespace voxhall::testing

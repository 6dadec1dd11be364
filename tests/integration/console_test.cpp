// The console front of the real binary: the block it prints at start, the
// host's address list after each IP check (SIGUSR1 asks for another), and
// the pid file.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/local_http_server.h"
#include "support/server_process.h"

namespace voxhall::testing {
namespace {

namespace fs = std::filesystem;

std::size_t Occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// A configuration on free ports with the given extra "Main Config" lines.
std::string Config(int web_port, const std::string& main_config_lines) {
  return "[Main Config]\nHTTPServer Port=" + std::to_string(web_port) +
         "\nTCPQueryPort=" + std::to_string(FreeTcpPort()) + "\n" + main_config_lines +
         "[server_cfg Default]\nServerUDPPort=" + std::to_string(FreeUdpPort()) + "\n";
}

TEST(ConsoleTest, PrintsItsBlockAndTheAddressListAgainOnSigusr1) {
  TempDir dir;
  LocalHttpServer service;
  service.Answer("/getip.php", "IP=203.0.113.7<BR>other");
  const int web_port = FreeTcpPort();
  WriteFile(dir.File("server.ini"),
            Config(web_port, "ExternalIPCheckURL=" + service.Url("/getip.php") + "\n"));
  const std::string pid_path = dir.File("voxhall.pid");

  ServerProcess server(dir.path(), {"-pid=" + pid_path});
  ASSERT_TRUE(WaitForText(dir.File("stdout.txt"), "External IP: 203.0.113.7\n"))
      << server.Stdout() << server.Stderr();
  const std::string first = server.Stdout();
  EXPECT_EQ(first.rfind("Voxhall Server\nv2.0.r18.b31 Linux\nAdministration: http://127.0.0.1:" +
                            std::to_string(web_port) + "/\nLog: " + dir.File("server.log") +
                            "\nYour Ip's:\nLocal IP: ",
                        0),
            0u)
      << first;
  EXPECT_EQ(ReadFile(pid_path), std::to_string(server.pid()) + "\n");

  // A check still finishing may ignore a signal; ask until a second list
  // has come.
  const std::string external = "External IP: 203.0.113.7\n";
  for (int attempt = 0; attempt < 5 && Occurrences(server.Stdout(), external) < 2; ++attempt) {
    server.Signal(SIGUSR1);
    for (int i = 0; i < 200 && Occurrences(server.Stdout(), external) < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  const std::string second = server.Stdout();
  EXPECT_EQ(Occurrences(second, "Your Ip's:\n"), 2u) << second;
  EXPECT_EQ(Occurrences(second, external), 2u) << second;
  EXPECT_EQ(service.Requests().size(), 2u);

  EXPECT_EQ(server.Stop(), 0);
  EXPECT_FALSE(fs::exists(pid_path));
}

TEST(ConsoleTest, APidFileThatCannotBeWrittenIsLoggedAndTheServerRunsOn) {
  TempDir dir;
  WriteFile(dir.File("server.ini"), Config(FreeTcpPort(), ""));
  const std::string pid_path = dir.File("missing/voxhall.pid");
  ServerProcess server(dir.path(), {"-pid=" + pid_path});
  ASSERT_TRUE(WaitForText(dir.File("server.log"), "unable to write pid file: " + pid_path))
      << server.Stderr();
  EXPECT_TRUE(WaitForText(dir.File("stdout.txt"), "Your Ip's:\n"));
  EXPECT_TRUE(server.Running());
  server.Signal(SIGKILL);
}

TEST(ConsoleTest, FailedOrDisabledDetectionShowsTheLocalAddressesOnly) {
  LocalHttpServer service;
  service.Answer("/getip.php", "IP=203.0.113.7");
  struct Case {
    std::string main_config;
    bool error_logged;
  };
  const Case cases[] = {
      {"ExternalIPCheckURL=" + RefusingUrl("/getip.php") + "\n", true},
      {"ExternalIPDectection=0\nHTTPServer Enabled=0\nExternalIPCheckURL=" +
           service.Url("/getip.php") + "\n",
       false},
      {"", false},  // detection on, but no service address
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir.File("server.ini"), Config(FreeTcpPort(), c.main_config));
    ServerProcess server(dir.path(), {});
    // The list is written in one piece, after the failure was logged.
    ASSERT_TRUE(WaitForText(dir.File("stdout.txt"), "Your Ip's:\n")) << server.Stderr();
    ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished"));
    const std::string out = server.Stdout();
    EXPECT_EQ(out.find("External IP"), std::string::npos) << out;
    EXPECT_NE(out.find("Local IP: "), std::string::npos) << out;
    const bool logged =
        ReadFile(dir.File("server.log")).find("unable to detect external ip") != std::string::npos;
    EXPECT_EQ(logged, c.error_logged) << c.main_config;
    if (c.main_config.find("HTTPServer Enabled=0") != std::string::npos) {
      EXPECT_NE(out.find("\nAdministration: off\n"), std::string::npos) << out;
    }
    server.Signal(SIGKILL);
  }
  EXPECT_TRUE(service.Requests().empty());
}

}  // namespace
}  // namespace voxhall::testing

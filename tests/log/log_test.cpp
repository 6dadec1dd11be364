#include "log/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "common/ini_file.h"
#include "support/temp_dir.h"

namespace voxhall::log {
namespace {


class LogTest : public ::testing::Test {
 protected:
  void TearDown() override { ServerLog.reset(); }
  void WriteIni(const std::string& text) { voxhall::testing::WriteFile(ini_, text); }
  std::string ReadLog() const { return voxhall::testing::ReadFile(log_); }

  voxhall::testing::TempDir dir_;
  std::string ini_ = dir_.File("server.ini");
  std::string log_ = dir_.File("server.log");
};

TEST_F(LogTest, FilterFromOptions) {
  struct Case {
    const char* types;
    const char* depths;
    LogMessageType type;
    LogMessageDepth depth;
    bool logged;
  };
  const Case cases[] = {
      {"LMTALL", "LMDALL", lmtDebug, lmdCommands, true},
      {"LMTERROR", "LMDALL", lmtError, lmdInfo, true},
      {"LMTERROR", "LMDALL", lmtAll, lmdInfo, false},  // ALL passes only with LMTALL
      {"lmtwarning;lmterror", "LMDALL", lmtWarning, lmdAll, true},
      {"lmtwarning;lmterror", "LMDALL", lmtDebug, lmdAll, false},
      {"LMTALL", "LMDINFO", lmtAll, lmdInfo, true},
      {"LMTALL", "LMDINFO", lmtAll, lmdAll, false},
      {"LMTALL", "", lmtError, lmdAll, false},  // selects nothing
      {"xxLMTDEBUGxx", "junk,LMDUSEFULL", lmtDebug, lmdUsefull, true},
  };
  for (const auto& c : cases) {
    WriteIni(std::string("[Debug]\nMessageTypes=") + c.types + "\nMessageDepths=" + c.depths + "\n");
    LogFile log(log_);
    log.LoadOptions(ini_, "debug");
    EXPECT_EQ(log.ShouldLog(c.type, c.depth), c.logged) << c.types << " / " << c.depths;
  }
}

TEST_F(LogTest, MissingTypesWriteBothDefaults) {
  WriteIni("[debug]\nMessageDepths=LMDINFO\n");
  LogFile log(log_);
  log.LoadOptions(ini_, "Debug");
  common::IniFile ini(ini_);
  EXPECT_EQ(ini.ReadString("debug", "MessageTypes", ""), "LMTALL");
  EXPECT_EQ(ini.ReadString("debug", "MessageDepths", ""), "LMDALL");
  EXPECT_TRUE(log.ShouldLog(lmtDebug, lmdImportant));
}

TEST_F(LogTest, LineFormatBannersAndCategoryCut) {
  CreateLog(ini_, "Debug", log_);
  Log(lmtError, lmdAll, "USERS", "stored user unreadable");
  LogFmt(lmtWarning, lmdInfo, std::string(120, 'c'), "File not found: %1", "");
  ServerLog.reset();

  const std::string text = ReadLog();
  const std::string rule(63, '-');
  const std::regex expected(
      rule + "\r\n-------------- log started at \\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d -------------\r\n" +
      rule +
      "\r\n"
      "\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,ERROR,All,USERS,\tstored user unreadable\r\n"
      "\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,WARNING,Info," +
      std::string(99, 'c') + ",\tFile not found: \r\n" + rule +
      "\r\n--------------- log ended at \\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d --------------\r\n" +
      rule + "\r\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LogTest, TwoRunsAppendAndUnwritablePathIsSilent) {
  for (int run = 0; run < 2; ++run) {
    CreateLog(ini_, "Debug", log_);
    Log(lmtAll, lmdInfo, "server", "run");
    ServerLog.reset();
  }
  const std::string text = ReadLog();
  auto count = [&text](const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("log started at"), 2u);
  EXPECT_EQ(count("log ended at"), 2u);

  LogFile broken((dir_.path() / "no" / "such" / "dir.log").string());
  broken.set_options(0xFF, 0xFF);
  broken.Log(lmtError, lmdAll, "X", "dropped");  // must neither throw nor crash
  EXPECT_FALSE(broken.OpenFile());
}

TEST_F(LogTest, ConcurrentLinesStayWhole) {
  CreateLog(ini_, "Debug", log_);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Log(lmtDebug, lmdAll, "T", std::string(50, static_cast<char>('a' + t)));
    });
  }
  for (auto& th : threads) th.join();
  ServerLog.reset();
  std::istringstream lines(ReadLog());
  std::string line;
  int entries = 0;
  const std::regex entry("\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,DEBUG,All,T,\t(a{50}|b{50}|c{50}|d{50})\r");
  while (std::getline(lines, line)) {
    if (line.find(",DEBUG,") == std::string::npos) continue;
    ++entries;
    EXPECT_TRUE(std::regex_match(line, entry)) << line;
  }
  EXPECT_EQ(entries, 800);
}

}  // namespace
}  // namespace voxhall::log

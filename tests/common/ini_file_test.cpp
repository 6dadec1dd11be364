#include "common/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

namespace voxhall::common {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { voxhall::testing::WriteFile(path_, text); }
  std::string Read() const { return voxhall::testing::ReadFile(path_); }

  voxhall::testing::TempDir dir_;
  std::string path_ = dir_.File("server.ini");
};

TEST_F(IniFileTest, MissingFileReadsDefaultsAndIsCreatedByFlush) {
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Main Config", "X", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("Main Config", "X", 7), 7);
  EXPECT_FALSE(fs::exists(path_));
  ini.WriteInteger("Main Config", "X", 8);
  ASSERT_TRUE(ini.Flush());
  EXPECT_EQ(Read(), "[Main Config]\r\nX=8\r\n");
}

TEST_F(IniFileTest, ReadsWithoutCaseAndWithTypeRules) {
  Write(
      "[main config]\n"
      "httpserver port = 80\n"
      "Hex1=$1F\n"
      "Hex2=0x10\n"
      "Bad=12abc\n"
      "BoolText=true\n"
      "BoolZero=0\n"
      "BoolOther=-3\n"
      "Quoted=\" a b \"\n"
      "Padded=   value  \n"
      "[Other]\n"
      "httpserver port=99\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("Main Config", "HTTPServer Port", 1), 80);
  EXPECT_EQ(ini.ReadInteger("MAIN CONFIG", "hex1", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Main Config", "Hex2", 0), 16);
  EXPECT_EQ(ini.ReadInteger("Main Config", "Bad", 5), 5);
  EXPECT_TRUE(ini.ReadBool("Main Config", "BoolText", true));
  EXPECT_FALSE(ini.ReadBool("Main Config", "BoolText", false));
  EXPECT_FALSE(ini.ReadBool("Main Config", "BoolZero", true));
  EXPECT_TRUE(ini.ReadBool("Main Config", "BoolOther", false));
  EXPECT_EQ(ini.ReadString("Main Config", "Quoted", ""), " a b ");
  EXPECT_EQ(ini.ReadString("Main Config", "Padded", ""), "value");
  EXPECT_EQ(ini.ReadInteger("other", "HTTPServer Port", 0), 99);
}

TEST_F(IniFileTest, WritesInPlaceAndLeavesOtherLinesAlone) {
  Write(
      "; a comment\r\n"
      "[A]\r\n"
      "one=1\r\n"
      "Two=2\r\n"
      "\r\n"
      "[B]\r\n"
      "x=y\r\n");
  IniFile ini(path_);
  ini.WriteString("a", "TWO", "22");       // replaced in place
  ini.WriteString("A", "three", "3");      // added at the end of its section
  ini.WriteString("C", "new", "n");        // section appended
  ASSERT_TRUE(ini.Flush());
  EXPECT_EQ(Read(),
            "; a comment\r\n"
            "[A]\r\n"
            "one=1\r\n"
            "TWO=22\r\n"
            "three=3\r\n"
            "\r\n"
            "[B]\r\n"
            "x=y\r\n"
            "\r\n"
            "[C]\r\n"
            "new=n\r\n");
  EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"one", "TWO", "three"}));
}

TEST_F(IniFileTest, LineBreaksInAValueCannotAddKeysOrSections) {
  {
    IniFile ini(path_);
    ini.WriteString("server_cfg A", "ServerName", "Nice\r\nServerPassword=\n[Main Config]\rX=1");
    ini.WriteString("server_cfg A\n[B]", "Key\r\nY", "v");
    ASSERT_TRUE(ini.Flush());
  }
  IniFile back(path_);
  EXPECT_EQ(back.ReadString("server_cfg A", "ServerName", ""), "NiceServerPassword=[Main Config]X=1");
  EXPECT_FALSE(back.ValueExists("server_cfg A", "ServerPassword"));
  EXPECT_FALSE(back.SectionExists("Main Config"));
  EXPECT_FALSE(back.SectionExists("B"));
}

TEST_F(IniFileTest, FailedFlushKeepsChangesAndReportsPath) {
  IniFile ini((dir_.path() / "missing-dir" / "server.ini").string());
  ini.WriteString("A", "k", "v");
  EXPECT_FALSE(ini.Flush());
  EXPECT_TRUE(ini.Dirty());
  EXPECT_NE(ini.LastError().find("missing-dir"), std::string::npos);
}

TEST_F(IniFileTest, TransactionsFromThreadsDoNotLoseWrites) {
  constexpr int kThreads = 4;
  constexpr int kWrites = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kWrites; ++i) {
        auto lock = IniFile::Transaction();
        IniFile ini(path_);
        ini.WriteInteger("T" + std::to_string(t), "k" + std::to_string(i), i);
        ASSERT_TRUE(ini.Flush());
      }
    });
  }
  for (auto& th : threads) th.join();
  IniFile ini(path_);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(ini.ReadSection("T" + std::to_string(t)).size(), static_cast<std::size_t>(kWrites));
  }
}

}  // namespace
}  // namespace voxhall::common

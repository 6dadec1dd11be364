#include "host/command_line.h"

#include <gtest/gtest.h>

#include <array>

#include "host/descramble.h"
#include "host/version.h"

namespace voxhall::host {
namespace {

TEST(VersionTest, Texts) {
  EXPECT_EQ(PlatformText(), "Linux");
  EXPECT_EQ(VersionLine(), "Version Voxhall2 v2.0.18.31 Linux");
  EXPECT_EQ(VersionText(), "v2.0.r18.b31 Linux");
}

TEST(DescrambleTest, Cases) {
  EXPECT_EQ(Descramble("", kScrambleKey), "");
  EXPECT_EQ(Descramble("1633342F22", kScrambleKey), "Linux");
  EXPECT_EQ(Descramble("1633342F22F", kScrambleKey), "Linux");  // trailing digit ignored
  // Key 0: characters are the bytes themselves until K reaches 256.
  EXPECT_EQ(Descramble("4142", 0), "AB");
  // An invalid pair reads as 0 and adds nothing to K.
  EXPECT_EQ(Descramble("zz41", 0), std::string("\0A", 2));
  // K grows by each byte: 0x80 + 0x80 = 0x100, so the third byte is xor 1.
  EXPECT_EQ(Descramble("808041", 0), std::string("\x80\x80\x40", 3));
}

TEST(ParseCommandLineTest, ValueOptions) {
  // Expected values in the order -db, -ini, -log, -pid, -httpdocs, -adminpw.
  using Paths = std::array<std::string, 6>;
  struct Case {
    std::vector<std::string> args;
    Paths expected;
  };
  const Case cases[] = {
      {{"-httpdocs=C:\\www"}, {"", "", "", "", "C:\\www", ""}},
      {{"-DB=D:\\Data\\S.DB"}, {"D:\\Data\\S.DB", "", "", "", "", ""}},
      // Paths and passwords that merely contain switch texts are plain values.
      {{"-db=/srv/voice-hub/server.db"}, {"/srv/voice-hub/server.db", "", "", "", "", ""}},
      {{"-db=c:\\srv-version\\x.db"}, {"c:\\srv-version\\x.db", "", "", "", "", ""}},
      {{"-adminpw=pa-hss/h"}, {"", "", "", "", "", "pa-hss/h"}},
      {{"xx-db=c:\\a.db"}, {"", "", "", "", "", ""}},
      {{"-ini=-db=x"}, {"", "-db=x", "", "", "", ""}},
      {{"-adminpw=  secret \t"}, {"", "", "", "", "", "secret"}},
      {{"-adminpw="}, {"", "", "", "", "", ""}},
      {{"-log= spaced "}, {"", "", " spaced ", "", "", ""}},  // paths are not trimmed
      {{"-pid=a=b"}, {"", "", "", "a=b", "", ""}},            // the value is all after the first "="
      {{"-db=first", "-DB=second"}, {"second", "", "", "", "", ""}},
      {{"-db=set", "-db="}, {"", "", "", "", "", ""}},
      {{"unknown", "-x=1"}, {"", "", "", "", "", ""}},
  };
  for (const auto& c : cases) {
    Settings s;
    const CommandLineResult r = ParseCommandLine(c.args, s);
    EXPECT_EQ(r.action, CommandLineAction::Run) << c.args[0];
    const Paths got = {s.DatabasePath, s.ConfigPath, s.LogPath,
                       s.PidPath,      s.HttpDocsPath, s.AdminPasswordOverride};
    EXPECT_EQ(got, c.expected) << c.args[0];
  }
}

TEST(ParseCommandLineTest, Switches) {
  for (const char* v : {"-ver", "--VER", "-Version", "--version"}) {
    Settings s;
    const CommandLineResult r = ParseCommandLine({v}, s);
    EXPECT_EQ(r.action, CommandLineAction::PrintVersion) << v;
    EXPECT_EQ(r.output, "Version Voxhall2 v2.0.18.31 Linux\n");
  }
  for (const char* h : {"-?", "-h", "-HELP", "--help", "/help", "/?", "/H"}) {
    Settings s;
    const CommandLineResult r = ParseCommandLine({h}, s);
    EXPECT_EQ(r.action, CommandLineAction::PrintHelp) << h;
    EXPECT_EQ(r.output,
              "Version Voxhall2 v2.0.18.31 Linux\nCommand parameters:\n -db=<path>\n -ini=<path>\n"
              " -log=<path>\n -pid=<path>\n -httpdocs=<path>\n -adminpw=<newpw>\n\n");
  }
  // A switch stops the reading; options before it are kept.
  Settings s;
  EXPECT_EQ(ParseCommandLine({"-db=a", "-ver", "-db=b"}, s).action, CommandLineAction::PrintVersion);
  EXPECT_EQ(s.DatabasePath, "a");
  for (const char* not_switch : {"-verbose", "-hx", "x-h"}) {
    Settings t;
    EXPECT_EQ(ParseCommandLine({not_switch}, t).action, CommandLineAction::Run) << not_switch;
  }
}

TEST(PathDefaultsTest, FillOnlyEmpty) {
  Settings s;
  s.ConfigPath = "/etc/x.ini";
  ApplyPathDefaults(s, "/work/dir");
  EXPECT_EQ(s.DatabasePath, "/work/dir/server.db");
  EXPECT_EQ(s.ConfigPath, "/etc/x.ini");
  EXPECT_EQ(s.LogPath, "/work/dir/server.log");
  EXPECT_EQ(s.HttpDocsPath, "/work/dir/httpdocs");
  EXPECT_EQ(s.PidPath, "");
}

}  // namespace
}  // namespace voxhall::host

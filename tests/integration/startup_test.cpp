// The process's start-up and shut-down as seen from outside: command-line
// switches, the files a first start creates, the log milestones and the exit
// status.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "support/server_process.h"

namespace voxhall::testing {
namespace {

namespace fs = std::filesystem;

TEST(StartupTest, VersionAndHelpSwitchesPrintAndCreateNothing) {
  TempDir dir;
  {
    ServerProcess server(dir.path(), {"--ver"});
    EXPECT_EQ(server.WaitExit(), 0);
    EXPECT_EQ(server.Stdout(), "Version Voxhall2 v2.0.18.31 Linux\n");
  }
  {
    ServerProcess server(dir.path(), {"-db=x.db", "-?"});
    EXPECT_EQ(server.WaitExit(), 0);
    EXPECT_EQ(server.Stdout(),
              "Version Voxhall2 v2.0.18.31 Linux\nCommand parameters:\n -db=<path>\n -ini=<path>\n"
              " -log=<path>\n -pid=<path>\n -httpdocs=<path>\n -adminpw=<newpw>\n\n");
  }
  for (const char* name : {"server.ini", "server.db", "server.log"}) {
    EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
  }
}

TEST(StartupTest, FirstStartCreatesFilesAndShutsDownCleanly) {
  TempDir dir;
  ServerProcess server(dir.path(), {});
  ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished"))
      << server.Stderr();
  EXPECT_TRUE(WaitForText(dir.File("stdout.txt"), "v2.0.r18.b31 Linux"));

  const std::string ini = ReadFile(dir.File("server.ini"));
  for (const char* expected :
       {"[debug]", "MessageTypes=LMTALL", "MessageDepths=LMDALL", "[Main Config]",
        "ExternalIPDectection=1", "HTTPServer Port=14534", "HTTPServer Enabled=1",
        "DateTimeFormat=dd-mm-yyyy hh:nn:ss", "TCPQueryPort=51234", "BoundToIp=", "[WebPost]",
        "AdminEmail=na", "ISPLinkURL=na", "ISPName=Private", "ISPCountry=Earth", "Enabled=1",
        "PostURL="}) {
    EXPECT_NE(ini.find(expected), std::string::npos) << expected << "\n" << ini;
  }

  // The files hold passwords in clear: only their owner may read them.
  for (const char* name : {"server.ini", "server.db", "server.log"}) {
    EXPECT_EQ(fs::status(dir.File(name)).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write)
        << name;
  }

  EXPECT_EQ(server.Stop(), 0);
  const std::string log = ReadFile(dir.File("server.log"));
  const std::string stamp = "\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";
  const std::string rule(63, '-');
  const std::regex expected(
      rule + "\r\n-------------- log started at [^\r]+ -------------\r\n" + rule + "\r\n" +  //
      stamp + ",ALL,Info,server,\tServer startup initialized\r\n" +                         //
      stamp + ",ALL,Info,server,\tServer version: 2.0.18.31 Linux\r\nOK\r\n" +             //
      "[\\s\\S]*" + stamp + ",ALL,Info,server,\tServer startup finished\r\n" +              //
      stamp + ",ALL,Info,server,\tServer shutdown initialized\r\n" +                        //
      "[\\s\\S]*" + stamp + ",ALL,Info,server,\tServer shutdown finished\r\n" +             //
      rule + "\r\n--------------- log ended at [^\r]+ --------------\r\n" + rule + "\r\n");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST(StartupTest, UnusableConfigPathEndsWithStatusOne) {
  TempDir dir;
  fs::create_directory(dir.path() / "config-is-a-folder");
  ServerProcess server(dir.path(), {"-ini=" + dir.File("config-is-a-folder"),
                                    "-log=" + dir.File("run.log")});
  EXPECT_EQ(server.WaitExit(), 1);
  const std::string log = ReadFile(dir.File("run.log"));
  EXPECT_NE(log.find("Start_Voxhall_Server: unable to open server config file: " +
                     dir.File("config-is-a-folder") + " "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ERROR,All,GENERAL,\tcritical error, shutdown initiated"), std::string::npos);
}

TEST(StartupTest, DebugViewerHostKeepsTheFileLog) {
  TempDir dir;
  WriteFile(dir.File("server.ini"), "[Debug]\ntcphost=viewer.local\n");
  ServerProcess server(dir.path(), {});
  ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished"));
  const std::string log = ReadFile(dir.File("server.log"));
  EXPECT_NE(log.find("debug viewer is not supported"), std::string::npos) << log;
  server.Signal(SIGKILL);  // the shut-down is examined elsewhere
}

TEST(StartupTest, DatabaseIsCreatedOnceAndAForeignFileIsLeftAlone) {
  TempDir dir;
  const int port = FreeUdpPort();
  WriteFile(dir.File("server.ini"),
            "[server_cfg Default]\nServerUDPPort=" + std::to_string(port) + "\n");
  {
    ServerProcess server(dir.path(), {});
    ASSERT_TRUE(WaitForText(dir.File("server.log"), "Server startup finished")) << server.Stderr();
    server.Signal(SIGKILL);
  }
  const std::string db = ReadFile(dir.File("server.db"));
  ASSERT_GE(db.size(), 66u);
  EXPECT_EQ(db.substr(26, 11), std::string("Voxhall db\0", 11));

  // A file that is not a database: the process keeps running with the
  // database inactive and never writes the file.
  const std::string foreign = "this is not a database, but somebody's notes\n" + std::string(200, 'x');
  WriteFile(dir.File("server.db"), foreign);
  ServerProcess server(dir.path(), {});
  ASSERT_TRUE(WaitForText(dir.File("stdout.txt"), "v2.0.r18.b31")) << server.Stderr();
  EXPECT_TRUE(server.Running());
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(ReadFile(dir.File("server.db")), foreign);
}

TEST(StartupTest, SecondProcessOnTheSameDatabaseStopsAtTheDatabaseStep) {
  TempDir first_dir, second_dir;
  for (const TempDir* dir : {&first_dir, &second_dir}) {
    WriteFile(dir->File("server.ini"), "[server_cfg Default]\nServerUDPPort=" +
                                           std::to_string(FreeUdpPort()) + "\n");
  }
  ServerProcess first(first_dir.path(), {});
  ASSERT_TRUE(WaitForText(first_dir.File("server.log"), "Server startup finished"))
      << first.Stderr();

  const std::string db = first_dir.File("server.db");
  ServerProcess second(second_dir.path(), {"-db=" + db});
  EXPECT_EQ(second.WaitExit(), 1);
  const std::string log = ReadFile(second_dir.File("server.log"));
  EXPECT_NE(log.find("Start_Voxhall_Server: server db file is in use by another process : " + db),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Start_Voxhall_Server: unable to open server db file : " + db),
            std::string::npos);
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Stop(), 0);

  // Once the first has stopped, the database is free again.
  ServerProcess third(second_dir.path(), {"-db=" + db});
  EXPECT_TRUE(WaitForText(second_dir.File("server.log"), "Server startup finished"));
  EXPECT_EQ(third.Stop(), 0);
}

}  // namespace
}  // namespace voxhall::testing

// The query interface's information and server commands against the real
// process: listing, selecting, server information, stopping, starting,
// restarting, adding and reconfiguring virtual servers, the help text, and
// connections whose snapshot or selection names a server another
// connection stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include "common/ini_file.h"
#include "query_fixture.h"
#include "support/udp_client.h"

namespace voxhall::testing {
namespace {

using Reply = std::vector<std::string>;

Reply Error(const std::string& reason) { return {"ERROR, " + reason}; }

std::size_t Count(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++n;
  }
  return n;
}

// The value of "key=" in an `si` reply, or "missing".
std::string Info(const Reply& reply, const std::string& key) {
  for (const std::string& line : reply) {
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  }
  return "missing";
}

TEST(QueryServerTest, ServerInformationChannelsPlayersAndSelection) {
  QueryServer server({ListedServer("Default",
                                    "ServerName=Info Test\nAllowCodecCelp51=0\nServerPassword=pw\n"
                                    "WebPost_LinkURL=http://example.org/\nServerMaxUsers=7\n")});
  ASSERT_TRUE(server.started());
  auto client = server.Connect();
  const std::string port = server.port_text();

  EXPECT_EQ(client->Command("ver"), OkReply({"2.0.18.31 Linux"}));
  EXPECT_EQ(client->Command("si"), Error("paramcount invalid"));
  EXPECT_EQ(client->Command("si abc"), Error("convert error"));
  EXPECT_EQ(client->Command("si 0x10"), Error("convert error"));
  EXPECT_EQ(client->Command("si 0"), Error("invalid server port"));
  EXPECT_EQ(client->Command("si -3"), Error("invalid server port"));
  EXPECT_EQ(client->Command("si 1"), Error("serverport not found"));

  // The listener loads the channels once it runs; wait for them.
  Reply channels;
  for (int i = 0; i < 100 && channels.size() < 2; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    channels = client->Command("cl " + port);
  }
  // The default channel: GSM 16.4 is the last allowed codec; no password.
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(std::count(channels[0].begin(), channels[0].end(), '\t'), 8);
  EXPECT_TRUE(channels[0].starts_with("0\t3\t-1\t0\t32000\tDefault\t16\t0\t")) << channels[0];
  EXPECT_EQ(client->Command("pl " + port), OkReply());

  const Reply info = client->Command("si " + port);
  ASSERT_EQ(info.size(), 21u);
  const std::regex expected[] = {
      std::regex("server_id=server_cfg Default"),
      std::regex("server_name=Info Test"),
      std::regex("server_platform=Linux"),
      std::regex("server_welcomemessage=\\[Welcome to Voxhall Server[^\\]]*\\]"),
      std::regex("server_webpost_linkurl=http://example.org/"),
      std::regex("server_password=1"),
      std::regex("server_udpport=" + port),
      std::regex("server_maxusers=7"),
      std::regex("server_codeccelp51=0"),
      std::regex("server_codeccelp63=-1"),
      std::regex("server_codecgsm148=-1"),
      std::regex("server_codecgsm164=-1"),
      std::regex("server_codecwindowscelp52=-1"),
      std::regex("server_packetssend=\\d+"),
      std::regex("server_bytessend=\\d+"),
      std::regex("server_packetsreceived=\\d+"),
      std::regex("server_bytesreceived=\\d+"),
      std::regex("server_uptime=\\d+"),
      std::regex("server_currentusers=0"),
      std::regex("server_currentchannels=1"),
      std::regex("OK"),
  };
  for (std::size_t i = 0; i < info.size(); ++i) {
    EXPECT_TRUE(std::regex_match(info[i], expected[i])) << i << ": " << info[i];
  }

  // With a selection the port parameter is not read; a failed sel clears it.
  EXPECT_EQ(client->Command("sel  " + port), OkReply());
  EXPECT_EQ(client->Command("pl 9999"), OkReply());
  EXPECT_EQ(Info(client->Command("si 9999"), "server_udpport"), port);
  EXPECT_EQ(client->Command("sel 1"), Error("serverport not found"));
  EXPECT_EQ(client->Command("si"), Error("paramcount invalid"));
  EXPECT_EQ(client->Command("sel"), Error("paramcount invalid"));
}

TEST(QueryServerTest, HelpListsEveryCommand) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  auto client = server.Connect();
  EXPECT_EQ(client->Command("help"),
            OkReply({"command overview: ",
                     "help                : this helpfile",
                     "sl                  : serverlist",
                     "pl                  : playerlist",
                     "cl                  : channellist",
                     "ver                 : version",
                     "sel                 : select",
                     "si                  : server information",
                     "msg                 : message to server",
                     "msgall              : message to all servers",
                     "start               : start server",
                     "stop                : stop server",
                     "restart             : restarts a server",
                     "addserver           : adds a server",
                     "set                 : set a server variable",
                     "login               : login to server",
                     "adduser             : adds a user to server",
                     "deluser             : deletes a user from server",
                     "changeuserpw        : changes password of a user",
                     "changeuserrights    : changes rights of a user",
                     "listuser            : display online users of a server",
                     "quit                : close connection"}));
}

TEST(QueryServerTest, AddServerRecordsItInTheFirstFreeSlotAndSelectsIt) {
  // Key 2 stands behind a gap, so only key 0 is started and key 1 is free.
  QueryServer server({"Default"}, "2=server_cfg Gap\n");
  ASSERT_TRUE(server.started());
  auto early = server.Connect();
  auto admin = server.Connect();
  EXPECT_EQ(admin->Command("addserver 2 1"), Error("not logged in"));
  EXPECT_EQ(admin->Command("login admin secret"), OkReply());

  const int port = FreeUdpPort();
  const std::string port_text = std::to_string(port);
  EXPECT_EQ(admin->Command("addserver 2"), Error("paramcount invalid"));
  EXPECT_EQ(admin->Command("addserver 2 abc"), Error("parameters invalid"));
  EXPECT_EQ(admin->Command("addserver 2 0"), Error("parameters invalid"));
  EXPECT_EQ(admin->Command("addserver 2 70000"), Error("parameters invalid"));
  EXPECT_EQ(admin->Command("addserver a]b " + port_text), Error("parameters invalid"));
  EXPECT_EQ(admin->Command("addserver a\\b " + port_text), Error("parameters invalid"));
  EXPECT_EQ(admin->Command("addserver 2 " + server.port_text()),
            Error("serverport already running"));

  EXPECT_EQ(admin->Command("addserver 2 " + port_text), OkReply());
  EXPECT_TRUE(UdpPortInUse(port));
  // The new server is selected and in this connection's list.
  const Reply info = admin->Command("si");
  EXPECT_EQ(Info(info, "server_id"), "server_cfg 2");
  EXPECT_EQ(Info(info, "server_udpport"), port_text);
  EXPECT_EQ(admin->Command("sl"), OkReply({server.port_text(), port_text}));
  // A connection opened before sees only the servers of its own start.
  EXPECT_EQ(early->Command("sl"), OkReply({server.port_text()}));
  EXPECT_EQ(early->Command("si " + port_text), Error("serverport not found"));
  EXPECT_EQ(server.Connect()->Command("sl"), OkReply({server.port_text(), port_text}));

  common::IniFile ini(server.dir().File("server.ini"));
  EXPECT_EQ(ini.ReadString("Servers", "0", ""), "server_cfg Default");
  EXPECT_EQ(ini.ReadString("Servers", "1", ""), "server_cfg 2");
  EXPECT_EQ(ini.ReadString("Servers", "2", ""), "server_cfg Gap");
  EXPECT_EQ(ini.ReadSection("server_cfg 2").size(), 13u);
  EXPECT_EQ(ini.ReadInteger("server_cfg 2", "ServerUDPPort", 0), port);

  // The same name again: its key is taken.
  EXPECT_EQ(admin->Command("addserver 2 " + std::to_string(FreeUdpPort())),
            Error("unable to initialize server"));
  EXPECT_EQ(Info(admin->Command("si"), "server_id"), "server_cfg 2");
}

TEST(QueryServerTest, StopStartAndRestart) {
  QueryServer server({"A", "B"});
  ASSERT_TRUE(server.started());
  auto admin = server.Connect();
  const std::string a = server.port_text(0);
  const std::string b = server.port_text(1);
  for (const char* command : {"stop ", "start ", "restart "}) {
    EXPECT_EQ(admin->Command(command + b), Error("not logged in")) << command;
  }
  EXPECT_EQ(admin->Command("login admin secret"), OkReply());
  for (const char* command : {"stop", "start", "restart"}) {
    const std::string name(command);
    EXPECT_EQ(admin->Command(name), Error("paramcount invalid")) << command;
    EXPECT_EQ(admin->Command(name + " x"), Error("convert error")) << command;
    EXPECT_EQ(admin->Command(name + " 0"), Error("invalid server port")) << command;
    EXPECT_EQ(admin->Command(name + " 1"), Error("serverport not found")) << command;
  }

  EXPECT_EQ(admin->Command("stop " + b), OkReply());
  EXPECT_FALSE(UdpPortInUse(server.udp_port(1)));
  EXPECT_EQ(admin->Command("sl"), OkReply({a}));
  EXPECT_EQ(admin->Command("si " + b), Error("serverport not found"));

  // start undoes stop; a running port is left alone.
  EXPECT_EQ(admin->Command("start " + b), OkReply());
  EXPECT_TRUE(UdpPortInUse(server.udp_port(1)));
  EXPECT_EQ(admin->Command("sl"), OkReply({a, b}));
  EXPECT_EQ(admin->Command("start " + b), OkReply());
  EXPECT_EQ(admin->Command("start " + a), OkReply());
  EXPECT_EQ(Count(server.Log(), "Starting server with port: " + b), 2u);
  EXPECT_EQ(Count(server.Log(), "Starting server with port: " + a), 1u);

  // restart starts the same server again from its section.
  common::IniFile ini(server.dir().File("server.ini"));
  ini.WriteString("server_cfg A", "ServerName", "Renamed");
  ASSERT_TRUE(ini.Flush());
  EXPECT_EQ(admin->Command("restart " + a), OkReply());
  EXPECT_EQ(Count(server.Log(), "Starting server with port: " + a), 2u);
  EXPECT_EQ(Info(admin->Command("si " + a), "server_name"), "Renamed");
  EXPECT_EQ(admin->Command("sl"), OkReply({a, b}));

  // Through the selection: stop, then start without a port brings the
  // selected server back and selects it again.
  EXPECT_EQ(admin->Command("sel " + b), OkReply());
  EXPECT_EQ(admin->Command("stop"), OkReply());
  EXPECT_EQ(admin->Command("si"), Error("serverport not found"));
  EXPECT_EQ(admin->Command("start"), OkReply());
  EXPECT_EQ(Info(admin->Command("si"), "server_udpport"), b);
  EXPECT_TRUE(UdpPortInUse(server.udp_port(1)));
}

TEST(QueryServerTest, AServerStoppedByAnotherConnectionIsNeverActedOn) {
  QueryServer server({"A", "B"});
  ASSERT_TRUE(server.started());
  const std::string a = server.port_text(0);
  const std::string b = server.port_text(1);
  auto selected = server.ConnectAdmin();
  EXPECT_EQ(selected->Command("sel " + b), OkReply());
  auto unselected = server.ConnectAdmin();
  auto other = server.ConnectAdmin();
  EXPECT_EQ(other->Command("stop " + b), OkReply());

  for (const char* command : {"si", "pl", "cl", "msg hello", "stop", "restart"}) {
    EXPECT_EQ(selected->Command(command), Error("serverport not found")) << command;
  }
  for (const char* command : {"set servername x", "listuser", "adduser u p 1 0", "deluser admin",
                              "changeuserpw admin a a", "changeuserrights admin 1 1"}) {
    EXPECT_EQ(selected->Command(command), Error("no server selected")) << command;
  }
  for (const char* command : {"restart ", "stop ", "si ", "pl ", "msg "}) {
    EXPECT_EQ(unselected->Command(command + b), Error("serverport not found")) << command;
  }
  EXPECT_EQ(unselected->Command("sl"), OkReply({a}));
  EXPECT_EQ(unselected->Command("msgall hello"), OkReply());
  EXPECT_FALSE(UdpPortInUse(server.udp_port(1)));

  // Started again by the other connection it is a new server, which the
  // older references do not name.
  EXPECT_EQ(other->Command("start " + b), OkReply());
  EXPECT_EQ(selected->Command("si"), Error("serverport not found"));
  EXPECT_EQ(unselected->Command("si " + b), Error("serverport not found"));
  EXPECT_EQ(Info(other->Command("si " + b), "server_udpport"), b);
  EXPECT_EQ(Count(server.Log(), "Starting server with port: " + b), 2u);
}

TEST(QueryServerTest, SetChangesSavesAndRestarts) {
  QueryServer server;
  ASSERT_TRUE(server.started());
  auto admin = server.Connect();
  const std::string port = server.port_text();
  EXPECT_EQ(admin->Command("set maxuser 5"), Error("not logged in"));
  EXPECT_EQ(admin->Command("login admin secret"), OkReply());
  EXPECT_EQ(admin->Command("set maxuser 5"), Error("no server selected"));
  EXPECT_EQ(admin->Command("set maxuser 5 " + port), Error("no server selected"));
  EXPECT_EQ(admin->Command("sel " + port), OkReply());
  EXPECT_EQ(admin->Command("set maxuser"), Error("paramcount invalid"));
  for (const char* bad : {"70000", "65536", "-1", "abc", "0x10"}) {
    EXPECT_EQ(admin->Command(std::string("set maxuser ") + bad), Error("convert error")) << bad;
  }
  EXPECT_EQ(admin->Command("set colour red"), Error("unknown variable"));
  EXPECT_EQ(Count(server.Log(), "Starting server with port"), 1u);

  struct Case {
    std::string request;
    std::string info_key;
    std::string info_value;
    std::string ini_key;
    std::string ini_value;
  };
  const std::string long_name(40, 'n');
  const Case cases[] = {
      {"set maxuser 0", "server_maxusers", "0", "ServerMaxUsers", "0"},
      {"set MaxUser 65535", "server_maxusers", "65535", "ServerMaxUsers", "65535"},
      {"set serverpassword pw ignored", "server_password", "1", "ServerPassword", "pw"},
      {"set serverpassword #CLEAR#", "server_password", "0", "ServerPassword", ""},
      {"set serverpassword #clear#", "server_password", "1", "ServerPassword", "#clear#"},
      {"set SERVERNAME My   Server", "server_name", "My Server", "ServerName", "My Server"},
      {"set servername " + long_name, "server_name", long_name.substr(0, 29), "ServerName",
       long_name.substr(0, 29)},
      {"set serverwelcomemsg  Hello   there all ", "server_welcomemessage", "Hello there all",
       "ServerWelcomeMessage", "Hello there all"},
      {"set webpostlinkurl http://a.example/ more", "server_webpost_linkurl", "http://a.example/",
       "WebPost_LinkURL", "http://a.example/"},
  };
  std::size_t starts = 1;
  for (const Case& c : cases) {
    EXPECT_EQ(admin->Command(c.request), OkReply()) << c.request;
    EXPECT_EQ(Count(server.Log(), "Starting server with port"), ++starts) << c.request;
    EXPECT_EQ(Info(admin->Command("si"), c.info_key), c.info_value) << c.request;
    common::IniFile ini(server.dir().File("server.ini"));
    EXPECT_EQ(ini.ReadString("server_cfg Default", c.ini_key, "missing"), c.ini_value)
        << c.request;
  }
}

}  // namespace
}  // namespace voxhall::testing

#include "masterlist/web_post.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>

#include "host/server_list.h"
#include "host/settings.h"
#include "support/local_http_server.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace voxhall::masterlist {
namespace {

using namespace std::chrono_literals;
using testing::LocalHttpServer;

TEST(WebPostFormTest, ValuesAreEncodedAndEmptyFieldsLeftOut) {
  struct Case {
    std::string value, encoded;
  };
  const Case cases[] = {
      {"Clan & Friends", "Clan+%26+Friends"},
      {"azAZ09", "azAZ09"},
      {"-_.~*+=/", "%2D%5F%2E%7E%2A%2B%3D%2F"},
      {"\xC3\xA4\n", "%C3%A4%0A"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeFormValue(c.value), c.encoded) << c.value;

  EXPECT_EQ(EncodeForm({{"a", "1"}, {"empty", ""}, {"b_c", "x y"}}), "a=1&b_c=x+y");
  EXPECT_EQ(EncodeForm({{"a", ""}}), "");
}

// The body with its uptime, which depends on the test's timing, as "N".
std::string WithUptimeN(const std::string& body) {
  return std::regex_replace(body, std::regex("server_uptime=[0-9]+"), "server_uptime=N");
}

// Two running virtual servers on free ports: "server_cfg A" with a blank and
// an ampersand in its name, type word 5, no password and its own link
// address; "server_cfg B" with a password and type word 2 (a start always
// sets bit 2, so it is posted as "freeware" as well).
class WebPostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Config() = host::MainConfig{};
    host::Config().AdminEmail = "";
    host::Config().TCPQueryPort = 51234;
    const std::string ini = dir_.File("server.ini");
    testing::WriteFile(ini,
                       "[server_cfg A]\nServerName=Clan & Friends\nServerType=5\n"
                       "ServerMaxUsers=20\nWebPost_LinkURL=  " + list_.Url("/link-a") + "  \n"
                       "[server_cfg B]\nServerName=Second\nServerPassword=secret\nServerType=2\n");
    host::ServerList =
        std::make_unique<host::VirtualServerList>(host::ServerEnvironment{ini, "", nullptr});
    port_a_ = testing::FreeUdpPort();
    port_b_ = testing::FreeUdpPort();
    ASSERT_NE(host::ServerList->StartServer(std::make_unique<host::ServerObject>(),
                                            "server_cfg A", port_a_, nullptr),
              nullptr);
    ASSERT_NE(host::ServerList->StartServer(std::make_unique<host::ServerObject>(),
                                            "server_cfg B", port_b_, nullptr),
              nullptr);
    // Each listener makes its default channel once its thread runs.
    for (const char* key : {"server_cfg A", "server_cfg B"}) {
      for (int i = 0; i < 500 && ChannelCount(key) == 0; ++i) std::this_thread::sleep_for(10ms);
      ASSERT_EQ(ChannelCount(key), 1u) << key;
    }
  }
  void TearDown() override {
    host::ServerList->StopAndFreeServers("");
    host::ServerList.reset();
    host::Config() = host::MainConfig{};
  }

  static std::size_t ChannelCount(const char* key) {
    auto lock = host::ServerList->Lock();
    host::ServerObject* server = host::ServerList->FindServerByKey(key);
    std::lock_guard<protocol::ClientList> players(*server->Clients);
    std::lock_guard<protocol::Channels> channels(*server->Channels);
    return server->Channels->Count();
  }

  std::string ExpectedBodyOfA() const {
    return "server_isplinkurl=na&server_ispname=Private&server_ispcountry=Earth"
           "&server_platform=Linux&server_version_major=2&server_version_minor=0"
           "&server_version_release=18&server_version_build=31&server_port=" +
           std::to_string(port_a_) +
           "&server_name=Clan+%26+Friends&server_uptime=N&server_password=0"
           "&server_type1=clan&server_type2=freeware&clients_current=0&clients_maximum=20"
           "&channels_current=1&server_linkurl=" +
           EncodeFormValue(list_.Url("/link-a")) + "&server_queryport=51234";
  }

  testing::TempDir dir_;
  LocalHttpServer list_;
  int port_a_ = 0;
  int port_b_ = 0;
};

TEST_F(WebPostTest, FieldsOfAServerInTheirOrder) {
  EXPECT_EQ(WithUptimeN(EncodeForm(BuildPostFields("server_cfg A"))), ExpectedBodyOfA());

  const std::string b = EncodeForm(BuildPostFields("server_cfg B"));
  EXPECT_NE(b.find("&server_name=Second&"), std::string::npos) << b;
  EXPECT_NE(b.find("&server_password=1&server_type1=public&server_type2=freeware&"),
            std::string::npos)
      << b;
  EXPECT_EQ(b.find("server_linkurl"), std::string::npos) << b;

  EXPECT_TRUE(BuildPostFields("server_cfg a").empty());  // names compare exactly
  EXPECT_TRUE(BuildPostFields("server_cfg C").empty());
}

TEST_F(WebPostTest, EachRoundPostsEveryServerToPostUrlAndItsOwnLink) {
  host::Config().PostURL = " " + list_.Url("/post") + " ";
  {
    WebPost poster(WebPostTimings{10ms, 60s});
    ASSERT_TRUE(list_.WaitForRequests(3));
  }
  const std::vector<testing::RecordedRequest> requests = list_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  // Server A to PostURL, then to its own link; server B to PostURL only.
  EXPECT_EQ(requests[0].path, "/post");
  EXPECT_EQ(requests[1].path, "/link-a");
  EXPECT_EQ(requests[2].path, "/post");
  for (const auto& request : requests) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.content_type, "application/x-www-form-urlencoded");
  }
  EXPECT_EQ(WithUptimeN(requests[0].body), ExpectedBodyOfA());
  EXPECT_EQ(requests[1].body, requests[0].body);
  EXPECT_NE(requests[2].body.find("server_name=Second"), std::string::npos);
}

TEST_F(WebPostTest, ARefusingDestinationDoesNotStopTheOthers) {
  host::Config().PostURL = testing::RefusingUrl("/post");
  WebPost poster(WebPostTimings{10ms, 10ms});
  ASSERT_TRUE(list_.WaitForRequests(2));  // server A's link, in two rounds
  for (const auto& request : list_.Requests()) EXPECT_EQ(request.path, "/link-a");
}

TEST_F(WebPostTest, StopDuringAWaitEndsTheThreadAtOnce) {
  host::Config().PostURL = list_.Url("/post");
  auto poster = std::make_unique<WebPost>();  // the process's 150-second wait
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  poster.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
  EXPECT_TRUE(list_.Requests().empty());
}

}  // namespace
}  // namespace voxhall::masterlist

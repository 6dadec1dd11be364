#include "host/main_config.h"

#include <gtest/gtest.h>


#include "support/temp_dir.h"

namespace voxhall::host {
namespace {


class MainConfigTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { voxhall::testing::WriteFile(path_, text); }

  voxhall::testing::TempDir dir_;
  std::string path_ = dir_.File("server.ini");
};

TEST_F(MainConfigTest, DefaultsAreWrittenBack) {
  common::IniFile ini(path_);
  MainConfig config;
  config.HTTPServerPort = 1;  // LoadMainConfig starts from the defaults
  ASSERT_TRUE(LoadMainConfig(ini, config));
  EXPECT_EQ(config.HTTPServerPort, 14534);
  EXPECT_EQ(config.TCPQueryPort, 51234);
  EXPECT_TRUE(config.WebPostEnabled);

  common::IniFile back(path_);
  EXPECT_EQ(back.ReadSection("Main Config"),
            (std::vector<std::string>{"ExternalIPDectection", "ExternalIPCheckURL",
                                      "HTTPServer Port", "HTTPServer Enabled", "DateTimeFormat",
                                      "TCPQueryPort", "BoundToIp"}));
  EXPECT_EQ(back.ReadSection("WebPost"),
            (std::vector<std::string>{"AdminEmail", "ISPLinkURL", "ISPName", "ISPCountry", "Enabled",
                                      "PostURL"}));
  EXPECT_EQ(back.ReadString("Main Config", "DateTimeFormat", ""), "dd-mm-yyyy hh:nn:ss");
  EXPECT_EQ(back.ReadString("WebPost", "ISPName", ""), "Private");
}

TEST_F(MainConfigTest, ValuesAreNormalised) {
  Write(
      "[main config]\n"
      "httpserver port=80\n"
      "BoundToIp=   192.168.1.5   \n"
      "TCPQueryPort=oops\n"
      "[WebPost]\n"
      "Enabled=true\n"
      "ISPName=" + std::string(40, 'i') + "\n"
      "PostURL=  http://extra.example/post  \n");
  common::IniFile ini(path_);
  MainConfig config;
  ASSERT_TRUE(LoadMainConfig(ini, config));
  EXPECT_EQ(config.HTTPServerPort, 80);
  EXPECT_EQ(config.BoundToIp, "192.168.1.5");
  EXPECT_EQ(config.TCPQueryPort, 51234);
  EXPECT_TRUE(config.WebPostEnabled);
  EXPECT_EQ(config.ISPName, std::string(29, 'i'));
  EXPECT_EQ(config.PostURL, "http://extra.example/post");

  common::IniFile back(path_);
  EXPECT_EQ(back.ReadString("WebPost", "ISPName", ""), std::string(29, 'i'));
  EXPECT_EQ(back.ReadString("Main Config", "BoundToIp", ""), "192.168.1.5");
  EXPECT_EQ(back.ReadInteger("Main Config", "TCPQueryPort", 0), 51234);

  Write("[WebPost]\nEnabled=0\n");
  common::IniFile off(path_);
  ASSERT_TRUE(LoadMainConfig(off, config));
  EXPECT_FALSE(config.WebPostEnabled);
}

TEST_F(MainConfigTest, ClampedIntegers) {
  Write("[S]\nServerMaxUsers=70000\nLow=-4\nOk=12\n");
  common::IniFile ini(path_);
  EXPECT_EQ(ReadClampedInteger(ini, "S", "ServerMaxUsers", 12, 0, 65535), 65535);
  EXPECT_EQ(ReadClampedInteger(ini, "S", "Low", 12, 0, 65535), 0);
  EXPECT_EQ(ReadClampedInteger(ini, "S", "Ok", 1, 0, 65535), 12);
  EXPECT_EQ(ReadClampedInteger(ini, "S", "Missing", 12, 0, 65535), 12);
}

}  // namespace
}  // namespace voxhall::host

#include "masterlist/ip_check.h"
#include "masterlist/web_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "support/local_http_server.h"

namespace voxhall::masterlist {
namespace {

using testing::LocalHttpServer;

TEST(WebCheckTest, AnswerIsSplitAtBreakMarkersAndLineEnds) {
  struct Case {
    const char* body;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"IP=203.0.113.7<BR>other", {"IP=203.0.113.7", "other"}},
      {"a<br>b<Br>c", {"a", "b", "c"}},
      {"a\r\nb\rc\nd\n", {"a", "b", "c", "d"}},
      {"a<br>\nb", {"a", "", "b"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitAnswerLines(c.body), c.lines) << c.body;

  EXPECT_EQ(ExternalAddressOf({"other", "ip=198.51.100.1"}), "198.51.100.1");
  EXPECT_EQ(ExternalAddressOf({"IPX=1.2.3.4", "no address"}), "");
}

TEST(WebCheckTest, GetsTheServiceAnswerFollowingRedirects) {
  LocalHttpServer service;
  service.Redirect("/old", "/getip.php");
  service.Answer("/getip.php", "IP=203.0.113.7<BR>other");

  const WebCheckAnswer answer = WebCheck({true, service.Url("/old"), {}});
  ASSERT_EQ(answer.outcome, WebCheckAnswer::Outcome::Answered);
  EXPECT_EQ(answer.lines, (std::vector<std::string>{"IP=203.0.113.7", "other"}));
  EXPECT_EQ(ExternalAddressOf(answer.lines), "203.0.113.7");
  ASSERT_EQ(service.Requests().size(), 2u);
  EXPECT_EQ(service.Requests()[1].method, "GET");
}

TEST(WebCheckTest, FailuresAndDisabledChecks) {
  LocalHttpServer service;
  service.Answer("/big", std::string(kMaxAnswerBytes + 1, 'x'));

  EXPECT_EQ(WebCheck({false, service.Url("/getip.php"), {}}).outcome,
            WebCheckAnswer::Outcome::Disabled);
  EXPECT_TRUE(service.Requests().empty());

  for (const std::string& address :
       {testing::RefusingUrl("/getip.php"), service.Url("/missing"), service.Url("/big"),
        std::string("ftp://127.0.0.1/"), std::string()}) {
    const WebCheckAnswer answer = WebCheck({true, address, {}});
    EXPECT_EQ(answer.outcome, WebCheckAnswer::Outcome::Failed) << address;
    EXPECT_TRUE(answer.lines.empty()) << address;
  }
}

TEST(WebCheckTest, BindsToTheConfiguredLocalAddress) {
  LocalHttpServer service;
  service.Answer("/getip.php", "IP=1.2.3.4");
  WebCheckRequest request{true, service.Url("/getip.php"), {}};
  request.http.bound_ip = "127.0.0.1";
  EXPECT_EQ(WebCheck(request).outcome, WebCheckAnswer::Outcome::Answered);
  request.http.bound_ip = "192.0.2.1";  // not an address of this host
  EXPECT_EQ(WebCheck(request).outcome, WebCheckAnswer::Outcome::Failed);
}

// Collects the lists a runner delivers.
class Deliveries {
 public:
  IpCheckRunner::ResultHandler Handler() {
    return [this](const AddressList& list) {
      std::lock_guard<std::mutex> lock(mu_);
      lists_.push_back(list);
      cv_.notify_all();
    };
  }
  std::vector<AddressList> WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, std::chrono::seconds(30), [&] { return lists_.size() >= count; });
    return lists_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<AddressList> lists_;
};

TEST(IpCheckRunnerTest, DeliversTheAddressListOfEachCheck) {
  LocalHttpServer service;
  service.Answer("/getip.php", "IP=203.0.113.7<BR>other");
  service.Answer("/noip", "hello");
  Deliveries deliveries;
  IpCheckRunner runner(deliveries.Handler());

  ASSERT_TRUE(runner.Start({true, service.Url("/getip.php"), {}}));
  deliveries.WaitFor(1);
  while (runner.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(runner.Start({true, service.Url("/noip"), {}}));
  deliveries.WaitFor(2);
  while (runner.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(runner.Start({true, testing::RefusingUrl("/getip.php"), {}}));
  deliveries.WaitFor(3);
  while (runner.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(runner.Start({false, service.Url("/getip.php"), {}}));
  const std::vector<AddressList> lists = deliveries.WaitFor(4);
  ASSERT_EQ(lists.size(), 4u);

  EXPECT_TRUE(lists[0].show_external);
  EXPECT_EQ(lists[0].external, "203.0.113.7");
  EXPECT_FALSE(lists[0].failed);
  EXPECT_TRUE(lists[1].show_external);  // answered, but without an "IP" line
  EXPECT_EQ(lists[1].external, "");
  EXPECT_FALSE(lists[2].show_external);
  EXPECT_TRUE(lists[2].failed);
  EXPECT_FALSE(lists[3].show_external);
  EXPECT_FALSE(lists[3].failed);
  EXPECT_EQ(service.Requests().size(), 2u);  // the disabled check sent nothing
  for (const AddressList& list : lists) EXPECT_LE(list.local.size(), kMaxLocalAddresses);
}

TEST(IpCheckRunnerTest, IgnoresAStartWhileACheckRuns) {
  std::mutex gate;
  gate.lock();
  int delivered = 0;
  {
    IpCheckRunner runner([&](const AddressList&) {
      std::lock_guard<std::mutex> wait(gate);  // held until the test lets go
      ++delivered;
    });
    ASSERT_TRUE(runner.Start({false, "", {}}));
    EXPECT_FALSE(runner.Start({false, "", {}}));
    EXPECT_TRUE(runner.Running());
    gate.unlock();
  }  // the destructor waits for the check
  EXPECT_EQ(delivered, 1);
}

}  // namespace
}  // namespace voxhall::masterlist

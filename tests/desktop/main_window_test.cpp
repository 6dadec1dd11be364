// The desktop window's logic under the offscreen platform: the menu, the
// splash's end, the address submenu from real and injected checks, the
// administration item and the shut-down.
#include "desktop/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "log/log.h"
#include "support/local_http_server.h"
#include "support/temp_dir.h"

namespace voxhall::desktop {
namespace {

using namespace std::chrono_literals;
using testing::LocalHttpServer;
using testing::ReadFile;
using testing::TempDir;

// Runs the event loop until `done` holds or the time is up.
template <typename Predicate>
bool ProcessUntil(Predicate done, std::chrono::milliseconds timeout = 15s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

void ProcessFor(std::chrono::milliseconds time) {
  ProcessUntil([] { return false; }, time);
}

// The menu's captions in order, "-" for a separator.
std::vector<std::string> Captions(const QMenu& menu) {
  std::vector<std::string> captions;
  for (const QAction* action : menu.actions()) {
    captions.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  }
  return captions;
}

std::vector<std::string> Hints(const QMenu& menu) {
  std::vector<std::string> hints;
  for (const QAction* action : menu.actions()) {
    if (!action->toolTip().isEmpty() && action->toolTip() != action->text()) {
      hints.push_back(action->toolTip().toStdString());
    }
  }
  return hints;
}

QAction* FindAction(QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// An address check the test controls: counts its runs, answers a fixed
// list, and can be held until the test lets it go.
class FakeCheck {
 public:
  explicit FakeCheck(masterlist::AddressList answer) : answer_(std::move(answer)) {}

  AddressCheck Function() {
    return [this] {
      std::unique_lock<std::mutex> lock(mu_);
      ++runs_;
      released_.wait(lock, [this] { return !hold_; });
      return answer_;
    };
  }
  int runs() {
    std::lock_guard<std::mutex> lock(mu_);
    return runs_;
  }
  void Hold() {
    std::lock_guard<std::mutex> lock(mu_);
    hold_ = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      hold_ = false;
    }
    released_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable released_;
  masterlist::AddressList answer_;
  int runs_ = 0;
  bool hold_ = false;
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : saved_config_(host::Config()) {
    log::CreateLog(dir_.File("server.ini"), "Debug", dir_.File("server.log"));
  }
  ~MainWindowTest() override {
    window_.reset();  // waits for a running check, which may log
    log::ServerLog.reset();
    host::Config() = saved_config_;
  }

  MainWindow& MakeWindow(bool tray_available, AddressCheck check) {
    MainWindowOptions options;
    options.tray_available = tray_available;
    options.splash_time = 100ms;
    options.check_addresses = std::move(check);
    options.open_url = [this](const QUrl& url) { opened_.push_back(url.toString().toStdString()); };
    options.shutdown = [this] { ++shutdowns_; };
    window_ = std::make_unique<MainWindow>(std::move(options));
    return *window_;
  }

  // Shows the splash, reports the start-up and ends the splash at once.
  void StartAndEndSplash(MainWindow& window, const host::MainConfig& config = {}) {
    window.ShowSplash();
    window.ServerStarted(config);
    QTest::mouseClick(window.Picture(), Qt::LeftButton);
  }

  bool WaitForAddresses(MainWindow& window, QSignalSpy& spy, int count) {
    return ProcessUntil([&] { return spy.count() >= count && !window.IpCheck()->Running(); });
  }

  TempDir dir_;
  host::MainConfig saved_config_;
  std::unique_ptr<MainWindow> window_;
  std::vector<std::string> opened_;
  int shutdowns_ = 0;
};

masterlist::AddressList ThreeLocalAddresses() {
  masterlist::AddressList list;
  list.local = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
  return list;
}

TEST_F(MainWindowTest, MenuHoldsItsItemsInOrderAndTheSplashTheVersion) {
  FakeCheck check(ThreeLocalAddresses());
  MainWindow& window = MakeWindow(true, check.Function());

  EXPECT_EQ(Captions(*window.PopupMenu()),
            (std::vector<std::string>{"&Administration", "-", "Your Ip's", "-", "&Exit"}));
  std::vector<std::string> names;
  for (const QAction* action : window.PopupMenu()->actions()) {
    names.push_back(action->objectName().toStdString());
    if (!action->isSeparator()) {
      EXPECT_FALSE(action->icon().isNull()) << names.back();
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Administration1", "N1", "IPS", "N2", "Shutdown1"}));
  EXPECT_EQ(window.PopupMenu()->actions()[2]->menu(), window.AddressMenu());
  EXPECT_TRUE(window.AddressMenu()->actions().isEmpty());  // until the first check

  ASSERT_NE(window.TrayIcon(), nullptr);
  EXPECT_EQ(window.TrayIcon()->toolTip(), "Voxhall Server");
  EXPECT_EQ(window.TrayIcon()->contextMenu(), window.PopupMenu());
  EXPECT_FALSE(window.TrayIcon()->icon().isNull());

  window.ShowSplash();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.Picture()->size(), QSize(250, 200));
  const auto* version = window.Picture()->findChild<QLabel*>("lbVersion");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), "v2.0.r18.b31 Linux");
  EXPECT_EQ(version->geometry().top(), 138);
  EXPECT_FALSE(window.SplashTimer()->isActive());  // starts with ServerStarted
}

TEST_F(MainWindowTest, AdministrationOpensTheLocalSiteOnlyWhenItRuns) {
  struct Case {
    bool enabled;
    std::int64_t port;
    bool item_enabled;
  };
  for (const Case c : {Case{true, 45871, true}, Case{false, 14534, false}, Case{true, 0, false}}) {
    FakeCheck check(ThreeLocalAddresses());
    MainWindow& window = MakeWindow(true, check.Function());
    host::MainConfig config;
    config.HTTPServerEnabled = c.enabled;
    config.HTTPServerPort = c.port;
    window.ServerStarted(config);
    QAction* administration = window.PopupMenu()->actions()[0];
    EXPECT_EQ(administration->isEnabled(), c.item_enabled) << c.enabled << " " << c.port;
    if (c.item_enabled) {
      administration->trigger();
      EXPECT_EQ(opened_, std::vector<std::string>{"http://127.0.0.1:45871/"});
    }
  }
}

TEST_F(MainWindowTest, SplashClickHidesAtOnceAndTheTimerDoesNotFireAgain) {
  FakeCheck check(ThreeLocalAddresses());
  MainWindow& window = MakeWindow(true, check.Function());
  QSignalSpy ended(&window, &MainWindow::SplashEnded);
  window.ShowSplash();
  QTest::mouseClick(window.Picture(), Qt::LeftButton);  // still starting: ignored
  EXPECT_TRUE(window.SplashShowing());

  window.ServerStarted({});
  QTest::mouseClick(window.Picture(), Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(window.SplashShowing());
  EXPECT_FALSE(window.SplashTimer()->isActive());

  ProcessFor(400ms);  // four splash times
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(check.runs(), 1);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, SplashTimerEndsTheSplashAndStartsTheCheck) {
  FakeCheck check(ThreeLocalAddresses());
  MainWindow& window = MakeWindow(true, check.Function());
  QSignalSpy changed(&window, &MainWindow::AddressesChanged);
  window.ShowSplash();
  window.ServerStarted({});
  ASSERT_TRUE(WaitForAddresses(window, changed, 1));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(check.runs(), 1);
}

TEST_F(MainWindowTest, WithoutANotificationAreaTheSplashStaysAsStatusWindowWithTheMenu) {
  FakeCheck check(ThreeLocalAddresses());
  MainWindow& window = MakeWindow(false, check.Function());
  EXPECT_EQ(window.TrayIcon(), nullptr);
  QSignalSpy changed(&window, &MainWindow::AddressesChanged);
  StartAndEndSplash(window);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.StatusShowing());
  ASSERT_TRUE(WaitForAddresses(window, changed, 1));

  auto* button = window.findChild<QPushButton*>("menuButton");
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->isVisible());
  EXPECT_EQ(button->menu(), window.PopupMenu());
  const auto* addresses = window.findChild<QLabel*>("addressesText");
  ASSERT_NE(addresses, nullptr);
  EXPECT_EQ(addresses->text(), "Addresses: 10.0.0.1, 10.0.0.2, 10.0.0.3");

  QContextMenuEvent right_click(QContextMenuEvent::Mouse, QPoint(20, 20),
                                window.mapToGlobal(QPoint(20, 20)));
  QApplication::sendEvent(&window, &right_click);
  EXPECT_TRUE(ProcessUntil([&] { return window.PopupMenu()->isVisible(); }, 2s));
  window.PopupMenu()->close();

  // Closing the status window ends the server as "&Exit" does.
  window.close();
  EXPECT_EQ(shutdowns_, 1);
}

TEST_F(MainWindowTest, CheckWithDetectionShowsThreeLocalOneExternalAndCopiesOnClick) {
  LocalHttpServer service;
  service.Answer("/getip.php", "IP=203.0.113.7<BR>other");
  host::Config().ExternalIPDetection = true;
  host::Config().ExternalIPCheckURL = service.Url("/getip.php");
  MainWindow& window = MakeWindow(true, [] {
    masterlist::AddressList list = CheckAddressesFromConfig();
    list.local = ThreeLocalAddresses().local;  // this host's own are whatever they are
    return list;
  });
  QSignalSpy changed(&window, &MainWindow::AddressesChanged);
  StartAndEndSplash(window);
  ASSERT_TRUE(WaitForAddresses(window, changed, 1));

  EXPECT_EQ(Captions(*window.AddressMenu()),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "203.0.113.7", "-",
                                      "Update IP's"}));
  EXPECT_EQ(Hints(*window.AddressMenu()),
            (std::vector<std::string>{"Local IP", "Local IP", "Local IP", "External IP"}));
  EXPECT_EQ(service.Requests().size(), 1u);

  FindAction(*window.AddressMenu(), "10.0.0.2")->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "10.0.0.2");
  FindAction(*window.AddressMenu(), "203.0.113.7")->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "203.0.113.7");
}

TEST_F(MainWindowTest, CheckWithDetectionOffSendsNoRequestAndShowsNoExternalItem) {
  LocalHttpServer service;
  service.Answer("/getip.php", "IP=203.0.113.7");
  host::Config().ExternalIPDetection = false;
  host::Config().ExternalIPCheckURL = service.Url("/getip.php");
  MainWindow& window = MakeWindow(true, CheckAddressesFromConfig);
  QSignalSpy changed(&window, &MainWindow::AddressesChanged);
  StartAndEndSplash(window);
  ASSERT_TRUE(WaitForAddresses(window, changed, 1));

  const std::vector<std::string> captions = Captions(*window.AddressMenu());
  ASSERT_GE(captions.size(), 2u);
  EXPECT_EQ(captions[captions.size() - 2], "-");
  EXPECT_EQ(captions.back(), "Update IP's");
  for (const std::string& hint : Hints(*window.AddressMenu())) EXPECT_EQ(hint, "Local IP");
  EXPECT_TRUE(service.Requests().empty());
}

TEST_F(MainWindowTest, FailedCheckShowsLocalAddressesOnlyAndLogs) {
  host::Config().ExternalIPDetection = true;
  host::Config().ExternalIPCheckURL = testing::RefusingUrl("/getip.php");
  MainWindow& window = MakeWindow(true, [] {
    masterlist::AddressList list = CheckAddressesFromConfig();
    list.local = ThreeLocalAddresses().local;
    return list;
  });
  QSignalSpy changed(&window, &MainWindow::AddressesChanged);
  StartAndEndSplash(window);
  ASSERT_TRUE(WaitForAddresses(window, changed, 1));

  EXPECT_EQ(Captions(*window.AddressMenu()),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "-", "Update IP's"}));
  EXPECT_NE(ReadFile(dir_.File("server.log")).find("frmMain,\tunable to detect external ip"),
            std::string::npos);
}

TEST_F(MainWindowTest, CheckThatThrowsIsLoggedAndLeavesUpdateIps) {
  MainWindow& window = MakeWindow(true, []() -> masterlist::AddressList {
    throw std::runtime_error("resolver gone");
  });
  QSignalSpy changed(&window, &MainWindow::AddressesChanged);
  StartAndEndSplash(window);
  ASSERT_TRUE(WaitForAddresses(window, changed, 1));
  EXPECT_EQ(Captions(*window.AddressMenu()), (std::vector<std::string>{"-", "Update IP's"}));
  EXPECT_NE(ReadFile(dir_.File("server.log")).find("IpCheck Exception: resolver gone"),
            std::string::npos);
}

TEST_F(MainWindowTest, UpdateIpsRunsOneCheckAtATimeAndRebuildsAfterEach) {
  FakeCheck check(ThreeLocalAddresses());
  MainWindow& window = MakeWindow(true, check.Function());
  QSignalSpy changed(&window, &MainWindow::AddressesChanged);
  StartAndEndSplash(window);
  ASSERT_TRUE(WaitForAddresses(window, changed, 1));

  // Click "Update IP's" right after the result: a second check runs.
  check.Hold();
  FindAction(*window.AddressMenu(), "Update IP's")->trigger();
  ASSERT_TRUE(ProcessUntil([&] { return check.runs() == 2; }));
  // Clicks while it runs change nothing.
  window.miUpdateIps();
  window.miUpdateIps();
  check.Release();
  ASSERT_TRUE(WaitForAddresses(window, changed, 2));
  ProcessFor(100ms);
  EXPECT_EQ(check.runs(), 2);
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(Captions(*window.AddressMenu()).size(), 5u);  // replaced, not appended

  FindAction(*window.AddressMenu(), "Update IP's")->trigger();
  ASSERT_TRUE(WaitForAddresses(window, changed, 3));
  EXPECT_EQ(check.runs(), 3);
}

TEST_F(MainWindowTest, ExternalAnswerIsShownAsTextAndAnEmptyOneCannotBeCopied) {
  struct Case {
    std::string external;
    std::string caption;
    bool enabled;
  };
  const Case cases[] = {
      {"203.0.113.7", "203.0.113.7", true},
      {"a&b", "a&&b", true},  // no accelerator from a web answer
      {std::string(300, '9'), std::string(64, '9'), true},
      {"", "", false},  // the answer had no "IP" line
  };
  for (const Case& c : cases) {
    masterlist::AddressList list;
    list.show_external = true;
    list.external = c.external;
    FakeCheck check(list);
    MainWindow& window = MakeWindow(true, check.Function());
    QSignalSpy changed(&window, &MainWindow::AddressesChanged);
    StartAndEndSplash(window);
    ASSERT_TRUE(WaitForAddresses(window, changed, 1));
    QAction* item = window.AddressMenu()->actions()[0];
    EXPECT_EQ(item->text().toStdString(), c.caption);
    EXPECT_EQ(item->isEnabled(), c.enabled) << c.external;
    if (c.enabled) {
      item->trigger();
      EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), c.external.substr(0, 64));
    }
  }
}

TEST_F(MainWindowTest, ExitRunsTheShutDownOnceAndRemovesTheIcon) {
  FakeCheck check(ThreeLocalAddresses());
  check.Hold();  // a check still under way at exit
  MainWindow& window = MakeWindow(true, check.Function());
  QSignalSpy finished(&window, &MainWindow::ShutDownFinished);
  StartAndEndSplash(window);
  ASSERT_TRUE(ProcessUntil([&] { return check.runs() == 1; }));

  std::thread release([&] {
    std::this_thread::sleep_for(100ms);
    check.Release();
  });
  window.PopupMenu()->actions().back()->trigger();  // "&Exit" on the hidden window
  release.join();
  EXPECT_EQ(shutdowns_, 1);
  EXPECT_EQ(finished.count(), 1);
  EXPECT_TRUE(window.ShutDown());
  EXPECT_FALSE(window.TrayIcon()->isVisible());

  window.WMQueryEndSession();  // the session ends afterwards: nothing runs twice
  window.miUpdateIps();
  EXPECT_EQ(shutdowns_, 1);
  EXPECT_EQ(check.runs(), 1);
}

}  // namespace
}  // namespace voxhall::desktop

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The desktop front's window: the splash picture shown while the server
// starts, then the notification-area icon with its menu ("&Administration",
// "Your Ip's" with the host's addresses, "&Exit"). On a desktop without a
// notification area the splash stays as a small status window that offers
// the same menu from a button and a right click. Closing the window runs the
// shut-down sequence.
//
// The window holds no knowledge of the server: the address check, the
// browser, the shut-down sequence and the splash time are given to it, so
// that tests drive it under the offscreen platform.
#pragma once

#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <functional>

#include "desktop/ip_check_thread.h"
#include "host/settings.h"

class QPushButton;

namespace voxhall::desktop {

struct MainWindowOptions {
  // Whether the desktop has a notification area for the icon.
  bool tray_available = false;
  std::chrono::milliseconds splash_time{3000};
  AddressCheck check_addresses = CheckAddressesFromConfig;  // on the check's thread
  std::function<void(const QUrl&)> open_url;                // the default browser
  std::function<void()> shutdown;                            // the shut-down sequence
};

// The address of the local web administration for `port`.
QUrl AdministrationUrl(std::int64_t port);

// The splash picture; a left click on it is reported.
class SplashPicture : public QLabel {
  Q_OBJECT

 public:
  explicit SplashPicture(QWidget* parent);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(MainWindowOptions options);
  ~MainWindow() override;

  // Shows the splash picture with the icon in the notification area; called
  // before the start-up sequence runs.
  void ShowSplash();
  // After a successful start-up: greys out "&Administration" when the web
  // administration does not run and starts the splash timer.
  void ServerStarted(const host::MainConfig& config);

  bool SplashShowing() const { return splash_showing_; }
  bool StatusShowing() const { return status_showing_; }
  bool ShutDown() const { return shut_down_; }
  QMenu* PopupMenu() { return &popup_menu_; }
  QMenu* AddressMenu() { return &address_menu_; }
  SplashPicture* Picture() { return picture_; }
  QTimer* SplashTimer() { return &splash_timer_; }
  QSystemTrayIcon* TrayIcon() { return tray_icon_; }
  IpCheckThread* IpCheck() { return &ip_check_; }

 signals:
  // The splash has ended; the window is hidden or shows the status.
  void SplashEnded();
  // The address submenu was rebuilt from a check's result.
  void AddressesChanged();
  // The shut-down sequence has run; the process may end.
  void ShutDownFinished();

 public slots:
  void timerSplashTimer();
  void imgFlashClick();
  void Administration1Click();
  void Shutdown1Click();
  void miUpdateIps();
  // The desktop session is ending: the shut-down sequence runs now.
  void WMQueryEndSession();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildMenu();
  void BuildStatusBar();
  void EndSplash();
  void ShowStatus();
  void RebuildAddressMenu(const masterlist::AddressList& list);
  void AddAddressItem(const std::string& address, const QString& hint, const QIcon& icon);
  void miExternalIPClick(const QString& address);

  MainWindowOptions options_;
  SplashPicture* picture_ = nullptr;
  QLabel* version_label_ = nullptr;
  QWidget* status_bar_ = nullptr;
  QLabel* status_text_ = nullptr;
  QLabel* addresses_text_ = nullptr;
  QPushButton* menu_button_ = nullptr;
  QMenu popup_menu_;
  QMenu address_menu_;
  QAction* administration_ = nullptr;
  QUrl administration_url_;
  QTimer splash_timer_;
  QSystemTrayIcon* tray_icon_ = nullptr;
  IpCheckThread ip_check_;
  bool splash_showing_ = false;
  bool status_showing_ = false;
  bool shut_down_ = false;
};

}  // namespace voxhall::desktop

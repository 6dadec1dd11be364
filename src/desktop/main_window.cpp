#include "desktop/main_window.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <utility>

#include "host/version.h"

// The pictures are compiled into this static library; their registration
// must be called by name, since nothing else pulls it into the program.
static void InitDesktopIcons() { Q_INIT_RESOURCE(desktop_icons); }

namespace voxhall::desktop {

namespace {

constexpr int kSplashWidth = 250;
constexpr int kSplashHeight = 200;
// The version text ends at this point of the picture, right-aligned.
constexpr int kVersionRight = 238;
constexpr int kVersionTop = 138;
// Longest address caption; the external one is whatever the web service said.
constexpr int kMaxAddressLength = 64;

QIcon MarkIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128}) {
    icon.addFile(QString(":/desktop/voxhall-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

QIcon MenuIcon(const char* name) { return QIcon(QString(":/desktop/%1.png").arg(name)); }

// Menu captions treat "&" as the accelerator marker; an address shows it as is.
QString Caption(const QString& text) {
  QString caption = text;
  return caption.replace('&', "&&");
}

}  // namespace

QUrl AdministrationUrl(std::int64_t port) {
  return QUrl(QString("http://127.0.0.1:%1/").arg(port));
}

SplashPicture::SplashPicture(QWidget* parent) : QLabel(parent) {}

void SplashPicture::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked();
  QLabel::mousePressEvent(event);
}

MainWindow::MainWindow(MainWindowOptions options)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint),
      options_(std::move(options)),
      ip_check_(options_.check_addresses) {
  InitDesktopIcons();
  setObjectName("formMain");
  setWindowTitle("Voxhall Server");
  setWindowIcon(MarkIcon());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  picture_ = new SplashPicture(this);
  picture_->setObjectName("imgFlash");
  picture_->setPixmap(QPixmap(":/desktop/splash.png"));
  picture_->setFixedSize(kSplashWidth, kSplashHeight);
  layout->addWidget(picture_);
  connect(picture_, &SplashPicture::clicked, this, &MainWindow::imgFlashClick);

  version_label_ = new QLabel(QString::fromStdString(host::VersionText()), picture_);
  version_label_->setObjectName("lbVersion");
  version_label_->setAlignment(Qt::AlignRight | Qt::AlignTop);
  version_label_->setStyleSheet("color: #dfe9f5; font-size: 11px;");
  version_label_->setGeometry(0, kVersionTop, kVersionRight, 16);
  version_label_->setAttribute(Qt::WA_TransparentForMouseEvents);

  BuildMenu();
  BuildStatusBar();
  layout->addWidget(status_bar_);

  splash_timer_.setObjectName("timerSplash");
  splash_timer_.setSingleShot(true);
  connect(&splash_timer_, &QTimer::timeout, this, &MainWindow::timerSplashTimer);
  connect(&ip_check_, &IpCheckThread::Finished, this, &MainWindow::RebuildAddressMenu);

  if (options_.tray_available) {
    tray_icon_ = new QSystemTrayIcon(MarkIcon(), this);
    tray_icon_->setObjectName("TrayBarIcon");
    tray_icon_->setToolTip("Voxhall Server");
    tray_icon_->setContextMenu(&popup_menu_);
    // Many Linux panels open nothing on a left click; the menu is all there is.
    connect(tray_icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::Trigger) popup_menu_.popup(QCursor::pos());
            });
  }
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenu() {
  popup_menu_.setObjectName("PopupMenu");
  administration_ = popup_menu_.addAction(MenuIcon("administration"), "&Administration", this,
                                          &MainWindow::Administration1Click);
  administration_->setObjectName("Administration1");
  popup_menu_.addSeparator()->setObjectName("N1");

  address_menu_.setObjectName("IPS");
  address_menu_.setTitle("Your Ip's");
  address_menu_.setIcon(MenuIcon("addresses"));
  address_menu_.setToolTipsVisible(true);
  popup_menu_.addMenu(&address_menu_)->setObjectName("IPS");

  popup_menu_.addSeparator()->setObjectName("N2");
  popup_menu_.addAction(MenuIcon("exit"), "&Exit", this, &MainWindow::Shutdown1Click)
      ->setObjectName("Shutdown1");
}

void MainWindow::BuildStatusBar() {
  status_bar_ = new QWidget(this);
  status_bar_->setObjectName("statusBar");
  status_bar_->setAttribute(Qt::WA_StyledBackground);
  status_bar_->setFixedWidth(kSplashWidth);
  status_bar_->setStyleSheet(
      "#statusBar { background: #0c1830; border-top: 1px solid #2b5a7a; }"
      "QLabel { color: #dfe9f5; font-size: 11px; }"
      "QLabel#statusText { font-size: 12px; font-weight: bold; }"
      "QLabel#addressesText { color: #9fb6cf; }"
      "QPushButton { color: white; background: #129e98; border: none; border-radius: 4px;"
      "  padding: 5px 10px; font-size: 11px; font-weight: bold; }"
      "QPushButton:hover { background: #17b5ae; }"
      "QPushButton::menu-indicator { width: 0px; }");

  status_text_ = new QLabel("Server running", status_bar_);
  status_text_->setObjectName("statusText");
  addresses_text_ = new QLabel("Addresses: checking...", status_bar_);
  addresses_text_->setObjectName("addressesText");

  menu_button_ = new QPushButton(QString::fromUtf8("Menu \u25be"), status_bar_);
  menu_button_->setObjectName("menuButton");
  menu_button_->setMenu(&popup_menu_);
  menu_button_->setCursor(Qt::PointingHandCursor);

  auto* top = new QHBoxLayout;
  top->addWidget(status_text_, 1);
  top->addWidget(menu_button_);
  auto* rows = new QVBoxLayout(status_bar_);
  rows->setContentsMargins(10, 7, 10, 8);
  rows->setSpacing(5);
  rows->addLayout(top);
  rows->addWidget(addresses_text_);
  status_bar_->hide();
}

void MainWindow::ShowSplash() {
  splash_showing_ = true;
  adjustSize();
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  if (tray_icon_) tray_icon_->show();
}

void MainWindow::ServerStarted(const host::MainConfig& config) {
  const bool web_running = config.HTTPServerEnabled && config.HTTPServerPort > 0;
  administration_->setEnabled(web_running);
  administration_url_ = AdministrationUrl(config.HTTPServerPort);
  status_text_->setText(
      QString::fromUtf8("<span style='color:#4cd98a'>\u25cf</span>&nbsp;Server running"));
  status_text_->setToolTip(web_running ? administration_url_.toString()
                                       : QString("The web administration is off"));
  splash_timer_.start(options_.splash_time);
}

void MainWindow::timerSplashTimer() { EndSplash(); }

void MainWindow::imgFlashClick() {
  // Only a splash whose timer runs can be ended early: not before the
  // start-up has finished, and only once.
  if (splash_timer_.isActive()) EndSplash();
}

void MainWindow::EndSplash() {
  if (!splash_showing_) return;
  splash_timer_.stop();
  splash_showing_ = false;
  if (tray_icon_) {
    hide();
  } else {
    ShowStatus();
  }
  emit SplashEnded();
  miUpdateIps();
}

void MainWindow::ShowStatus() {
  status_showing_ = true;
  // A normal window now: it can be moved, minimised and closed, and closing
  // it ends the server as "&Exit" does.
  const QPoint position = pos();
  setWindowFlags(Qt::Window);
  status_bar_->show();
  adjustSize();
  move(position);
  show();
}

void MainWindow::miUpdateIps() {
  if (ip_check_.Running() || shut_down_) return;
  ip_check_.Start();
}

void MainWindow::RebuildAddressMenu(const masterlist::AddressList& list) {
  address_menu_.clear();
  QStringList shown;
  for (const std::string& address : list.local) {
    AddAddressItem(address, "Local IP", MenuIcon("local-ip"));
    shown << QString::fromStdString(address);
  }
  if (list.show_external) {
    AddAddressItem(list.external, "External IP", MenuIcon("external-ip"));
    if (!list.external.empty()) shown << QString::fromStdString(list.external).left(kMaxAddressLength);
  }
  address_menu_.addSeparator();
  address_menu_.addAction(MenuIcon("update"), "Update IP's", this, &MainWindow::miUpdateIps);

  const QString text = "Addresses: " + (shown.isEmpty() ? QString("none") : shown.join(", "));
  addresses_text_->setToolTip(text);
  addresses_text_->setText(addresses_text_->fontMetrics().elidedText(
      text, Qt::ElideRight, kSplashWidth - 20));
  emit AddressesChanged();
}

void MainWindow::AddAddressItem(const std::string& address, const QString& hint,
                                const QIcon& icon) {
  const QString text = QString::fromStdString(address).left(kMaxAddressLength);
  QAction* item = address_menu_.addAction(icon, Caption(text));
  item->setToolTip(hint);
  item->setStatusTip(hint);
  item->setData(text);
  item->setEnabled(!text.isEmpty());  // nothing to copy
  connect(item, &QAction::triggered, this, [this, text] { miExternalIPClick(text); });
}

void MainWindow::miExternalIPClick(const QString& address) {
  QGuiApplication::clipboard()->setText(address);
}

void MainWindow::Administration1Click() {
  if (options_.open_url) options_.open_url(administration_url_);
}

void MainWindow::Shutdown1Click() { close(); }

void MainWindow::WMQueryEndSession() { close(); }

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (status_showing_) popup_menu_.popup(event->globalPos());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (shut_down_) return;
  shut_down_ = true;
  splash_timer_.stop();
  if (tray_icon_) tray_icon_->hide();
  hide();
  // A running check logs its failure; the log must outlive it.
  ip_check_.Wait();
  if (options_.shutdown) options_.shutdown();
  emit ShutDownFinished();
}

}  // namespace voxhall::desktop

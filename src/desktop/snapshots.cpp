#include "desktop/snapshots.h"

#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "desktop/main_window.h"

namespace voxhall::desktop {

namespace {
// How long a window is given to settle on the screen.
constexpr int kSnapshotDelayMs = 600;
}  // namespace

QString SnapshotFolder() { return qEnvironmentVariable("VOXHALL_DESKTOP_SNAPSHOTS"); }

bool SaveSnapshot(QWidget* widget, const QString& name) {
  const QString folder = SnapshotFolder();
  if (folder.isEmpty() || widget == nullptr) return false;
  // What the display shows, when the platform can read it back; the
  // widget's own rendering otherwise.
  QPixmap picture;
  if (QScreen* screen = widget->screen()) {
    const QRect frame = widget->frameGeometry();
    picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  }
  if (picture.isNull()) picture = widget->grab();
  return picture.save(QDir(folder).filePath(name + ".png"), "PNG");
}

void ScheduleWindowSnapshots(MainWindow& window) {
  if (SnapshotFolder().isEmpty()) return;
  QTimer::singleShot(kSnapshotDelayMs, &window, [&window] {
    if (window.SplashShowing()) SaveSnapshot(&window, "splash");
  });
  auto connection = std::make_shared<QMetaObject::Connection>();
  *connection = QObject::connect(&window, &MainWindow::AddressesChanged, &window,
                                 [&window, connection] {
    QObject::disconnect(*connection);
    if (!window.StatusShowing()) return;
    QTimer::singleShot(kSnapshotDelayMs, &window, [&window] {
      SaveSnapshot(&window, "status");
      QMenu* menu = window.PopupMenu();
      menu->popup(window.mapToGlobal(QPoint(window.width() - 8, window.height() - 8)));
      QMenu* addresses = window.AddressMenu();
      addresses->popup(menu->geometry().topRight());
      QTimer::singleShot(kSnapshotDelayMs, &window, [menu, addresses] {
        SaveSnapshot(menu, "menu");
        SaveSnapshot(addresses, "addresses");
        addresses->close();
        menu->close();
      });
    });
  });
}

void ScheduleDialogSnapshot(QDialog& dialog, const QString& name) {
  if (SnapshotFolder().isEmpty()) return;
  QTimer::singleShot(kSnapshotDelayMs, &dialog, [&dialog, name] {
    SaveSnapshot(&dialog, name);
    dialog.accept();
  });
}

}  // namespace voxhall::desktop

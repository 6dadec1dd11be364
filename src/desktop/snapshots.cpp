#include "desktop/snapshots.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace voxhall::desktop {

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

}  // namespace voxhall::desktop

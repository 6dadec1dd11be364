// Test support built into the program: when the environment variable
// VOXHALL_DESKTOP_SNAPSHOTS names a folder, the desktop front saves what it
// shows there as PNG files, grabbed from the screen: "splash.png" while the
// splash is up, "status.png" and "menu.png" once the status window shows the
// addresses, "error.png" for a start-up failure's message box, which it then
// closes. Without the variable nothing happens.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace voxhall::desktop {

class MainWindow;

// The snapshot folder, or empty when snapshots are off.
QString SnapshotFolder();

// Saves `widget` as it appears on the screen to "<folder>/<name>.png".
// Answers false when snapshots are off or the file cannot be written.
bool SaveSnapshot(QWidget* widget, const QString& name);

// Snapshot mode: "splash" while the splash shows; "status", "menu" and
// "addresses" (the open menu and its address submenu) once the status
// window has its first addresses.
void ScheduleWindowSnapshots(MainWindow& window);

// Snapshot mode: saves the dialog as `name` shortly after it appears, then
// closes it as its default button would.
void ScheduleDialogSnapshot(QDialog& dialog, const QString& name);

}  // namespace voxhall::desktop

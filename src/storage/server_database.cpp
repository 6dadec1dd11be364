#include "storage/server_database.h"

#include <exception>

#include "log/log.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace voxhall::storage {

std::unique_ptr<FreeBase> ServerDatabase;

namespace {

#ifndef _WIN32
int g_lock_fd = -1;  // held while ServerDatabase is open
#endif

// Takes an exclusive lock on "<path>.lock" for as long as the database is
// open. The lock lies on a file of its own because every flush puts a new
// database file in place, which a lock on the database file itself would not
// follow. False only when another process holds the lock; a lock file that
// cannot be created does not stop the start (the database then reports its
// own errors).
bool LockDatabaseFile(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  const std::string lock_path = path + ".lock";
  const int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return !busy;
  }
  g_lock_fd = fd;
  return true;
#endif
}

void UnlockDatabaseFile() {
#ifndef _WIN32
  if (g_lock_fd >= 0) ::close(g_lock_fd);  // closing releases the lock
  g_lock_fd = -1;
#endif
}

void LogUnableToOpen(const std::string& database_path) {
  log::LogFmt(log::lmtError, log::lmdImportant, "SERVER",
              "Start_Voxhall_Server: unable to open server db file : %1", database_path);
}

}  // namespace

bool OpenServerDatabase(const std::string& database_path) {
  if (!LockDatabaseFile(database_path)) {
    log::LogFmt(log::lmtError, log::lmdImportant, "SERVER",
                "Start_Voxhall_Server: server db file is in use by another process : %1",
                database_path);
    LogUnableToOpen(database_path);
    return false;
  }
  try {
    ServerDatabase = std::make_unique<FreeBase>();
    ServerDatabase->SetOpenFlag(FBOpenFlag::kCreateNotExists);
    ServerDatabase->SetFileName(database_path);
    ServerDatabase->SetActive(true);
    ServerDatabase->SetDatabaseName(kServerDatabaseName);
    ServerDatabase->Flush();
    return true;
  } catch (const std::exception&) {
    LogUnableToOpen(database_path);
    ServerDatabase.reset();
    UnlockDatabaseFile();
    return false;
  }
}

void CloseServerDatabase() {
  if (!ServerDatabase) return;
  ServerDatabase->Flush();
  ServerDatabase->SetActive(false);
  ServerDatabase.reset();
  UnlockDatabaseFile();
}

}  // namespace voxhall::storage

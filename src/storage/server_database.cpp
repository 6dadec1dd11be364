#include "storage/server_database.h"

#include <exception>

#include "log/log.h"

namespace voxhall::storage {

std::unique_ptr<FreeBase> ServerDatabase;

bool OpenServerDatabase(const std::string& database_path) {
  try {
    ServerDatabase = std::make_unique<FreeBase>();
    ServerDatabase->SetOpenFlag(FBOpenFlag::kCreateNotExists);
    ServerDatabase->SetFileName(database_path);
    ServerDatabase->SetActive(true);
    ServerDatabase->SetDatabaseName(kServerDatabaseName);
    ServerDatabase->Flush();
    return true;
  } catch (const std::exception&) {
    log::LogFmt(log::lmtError, log::lmdImportant, "SERVER",
                "Start_Voxhall_Server: unable to open server db file : %1", database_path);
    ServerDatabase.reset();
    return false;
  }
}

void CloseServerDatabase() {
  if (!ServerDatabase) return;
  ServerDatabase->Flush();
  ServerDatabase->SetActive(false);
  ServerDatabase.reset();
}

}  // namespace voxhall::storage

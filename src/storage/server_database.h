// The process database ServerDatabase and the two steps of the start-up and
// shut-down sequences that open and close it. The shell calls
// OpenServerDatabase from the main thread before any server starts and
// CloseServerDatabase after every server has stopped; in between, any thread
// uses *ServerDatabase (its members and the stores lock it themselves).
#pragma once

#include <memory>
#include <string>

#include "storage/tree_db.h"

namespace voxhall::storage {

inline constexpr char kServerDatabaseName[] = "Voxhall db";

// Null until OpenServerDatabase; reset by CloseServerDatabase. Set and reset
// only by the main thread while no other thread uses it.
extern std::unique_ptr<FreeBase> ServerDatabase;

// Creates ServerDatabase with CreateNotExists on `database_path`, activates
// it, names it "Voxhall db" and flushes it: a first start leaves a 66-byte
// file. An activation that fails (a file that is not a database, say) leaves
// ServerDatabase in place but inactive, the file untouched, and answers true:
// the start-up goes on. Answers false only when an error is raised on the way;
// it has then logged "Start_Voxhall_Server: unable to open server db file :
// <path>" (lmtError, lmdImportant, "SERVER") and reset ServerDatabase, and the
// caller closes the configuration file and ends the start-up. The same
// happens, after a line saying "Start_Voxhall_Server: server db file is in use
// by another process : <path>", when another process has the database open:
// each process holds an exclusive lock on "<path>.lock" while its database is
// open, so two processes never overwrite each other's changes.
bool OpenServerDatabase(const std::string& database_path);

// Flushes ServerDatabase, deactivates it (which writes the file once more),
// frees it and releases the lock. Does nothing when it does not exist.
void CloseServerDatabase();

}  // namespace voxhall::storage

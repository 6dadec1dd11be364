// FreeBase, the tree database engine: a tree of named, typed entries held in
// memory, read whole from its file on activation and written whole on Flush
// and on deactivation. Entries are addressed by paths of names separated by
// backslashes, compared without regard to ASCII case. The process has one
// instance, ServerDatabase (server_database.h); the user and channel stores are
// its other clients.
//
// Thread safety: every member function may be called from any thread; each
// takes the engine's data lock. An entry pointer that a call returns is valid
// only while the caller holds Lock(), so whoever walks, changes or destroys
// entries (the stores) holds Lock() for the whole operation. Flush encodes
// the file image under the data lock and writes it under a separate write
// lock after releasing the data lock (unless the caller still holds it), so
// readers and writers of entries never wait for the disk; images are
// numbered, and an older image never replaces a newer one on disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/date_time.h"
#include "storage/tree_db_entry.h"
#include "storage/tree_db_format.h"

namespace voxhall::storage {

enum class FBOpenFlag : std::uint8_t {
  kReadWrite = 0,        // a missing file appears at the first flush
  kCreateNotExists = 1,  // a missing file is created empty at activation
  kReadOnly = 2,         // never writes; every flush and deactivation reports 4
};

// LastError codes.
inline constexpr std::int32_t kFBSuccess = 0;
inline constexpr std::int32_t kFBAlreadyInState = 1;  // Active set to the value it had
inline constexpr std::int32_t kFBNoFileName = 2;      // activation without a file name
inline constexpr std::int32_t kFBCreateFailed = 3;    // missing file not creatable
inline constexpr std::int32_t kFBWriteFailed = 4;     // write failed or refused
inline constexpr std::int32_t kFBNotADatabase = 5;    // existing file unreadable as one
inline constexpr std::int32_t kFBNotActive = 6;       // flush while inactive

class FreeBase;
// Called with the engine's lock held, whenever activation, deactivation or a
// flush ends with a non-zero code; LastError takes the code the handler leaves.
using FBErrorHandler = std::function<void(FreeBase& sender, std::int32_t& error_code)>;

class FreeBase {
 public:
  // The name of a database made new, until SetDatabaseName.
  static constexpr char kDefaultName[] = "unbenannt";

  FreeBase() = default;
  // Frees the tree without writing it: deactivate first to keep changes.
  ~FreeBase() = default;
  FreeBase(const FreeBase&) = delete;
  FreeBase& operator=(const FreeBase&) = delete;

  // The engine's one lock, recursive so that a holder may call any member.
  // It comes last in the process's lock order: nothing but the log's lock is
  // taken while it is held.
  std::unique_lock<std::recursive_mutex> Lock() const {
    return std::unique_lock<std::recursive_mutex>(mu_);
  }

  bool Active() const;
  // Activates (loads the file, or makes a new database when it is missing or
  // empty) or deactivates (writes the file, then frees the tree whatever the
  // write's outcome). Sets LastError; never throws.
  void SetActive(bool active);

  std::string FileName() const;
  void SetFileName(std::string file_name);  // ignored while active
  FBOpenFlag OpenFlag() const;
  void SetOpenFlag(FBOpenFlag flag);  // ignored while active
  // Size of the file after the last load or flush; 0 for a new database and
  // while inactive.
  std::int32_t CurrentFileSize() const;
  std::int32_t LastError() const;
  void SetOnError(FBErrorHandler handler);

  // The root's name (the database name); empty while inactive.
  std::string DatabaseName() const;
  // While active, the root's name becomes `name`; the next write stores its
  // first 31 characters and cuts the name in memory to them.
  void SetDatabaseName(std::string_view name);
  // The creation time the header carries; 0 while inactive.
  common::DateTime CreationTime() const;

  // Writes the whole tree: LastError 0 and true on success, 4 and false when
  // the write fails or the database is ReadOnly (the file on disk is then
  // unchanged), 6 and false while inactive. A flush whose image was already
  // overtaken by a newer one written meanwhile succeeds without writing.
  bool Flush();

  // Path operations. None writes to the disk. While inactive they answer
  // null, false or `fallback`.
  //
  // The entry at `path` of `kind`; kind kRoot gives the root whatever the path.
  FBEntry* GetEntry(std::string_view path, EntryKind kind);
  // Resolves `path` from the root: leading backslashes are dropped, doubled
  // ones act as one, a trailing one finds and creates nothing. Each part but
  // the last names the first node child of that name; the last part names the
  // first child of that name and `kind`. With `create`, missing nodes and the
  // final entry are appended.
  FBEntry* FindEntry(std::string_view path, EntryKind kind, bool create);
  // Finds or creates the entry of the value's kind and stores the value;
  // false when inactive or the path names nothing.
  bool WriteInteger(std::string_view path, std::int32_t value);
  bool WriteString(std::string_view path, std::string_view value);
  bool WriteFloat(std::string_view path, double value);
  std::int32_t ReadInteger(std::string_view path, std::int32_t fallback);
  std::string ReadString(std::string_view path, std::string_view fallback);
  double ReadFloat(std::string_view path, double fallback);
  // Makes the node at `path` and any missing nodes above it.
  void CreateNode(std::string_view path);
  // Unlinks `entry` and destroys it with its subtree. False for the root, for
  // null and while inactive. REQUIRES: `entry` belongs to this database.
  bool DeleteEntry(FBEntry* entry);

 private:
  void Activate();
  void Deactivate();
  void MakeNew();
  // Writes the file unless ReadOnly; true when every byte reached it.
  bool Save();
  // The file image of the tree as it is now, with the next image number.
  // REQUIRES: mu_ held, active.
  std::string EncodeImage(std::uint64_t& generation);
  // Writes an image under write_mu_ unless a newer one has been written.
  bool WriteImage(const std::string& file_name, const std::string& image,
                  std::uint64_t generation);
  // Calls OnError when LastError is not 0.
  void ReportError();

  // Taken after mu_ when both are held, never the other way round.
  std::mutex write_mu_;
  std::uint64_t written_generation_ = 0;  // GUARDED_BY(write_mu_)

  mutable std::recursive_mutex mu_;  // guards every field below
  bool active_ = false;
  std::string file_name_;
  FBOpenFlag open_flag_ = FBOpenFlag::kReadWrite;
  std::uint64_t image_generation_ = 0;  // number of the last image encoded
  std::int32_t current_file_size_ = 0;
  std::int32_t last_error_ = kFBSuccess;
  FBErrorHandler on_error_;
  HeaderRecord header_;
  std::unique_ptr<FBRoot> root_;  // null while inactive
};

}  // namespace voxhall::storage

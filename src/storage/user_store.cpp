#include "storage/user_store.h"

#include <exception>

#include "common/class_name.h"
#include "log/log.h"

namespace voxhall::storage {

namespace {

constexpr char kCategory[] = "USERS";

std::string UsersPath(std::string_view server_id) {
  std::string path = "\\Servers\\";
  path.append(server_id).append("\\Users");
  return path;
}

std::string UserPath(std::string_view server_id, std::string_view login_name) {
  std::string path = UsersPath(server_id);
  path.append("\\").append(login_name);
  return path;
}

std::string Key(const std::string& user_path, std::string_view key) {
  std::string path = user_path;
  path.append("\\").append(key);
  return path;
}

// Failures inside a store function are logged as " Exception: " followed by
// the class name of the error ("std::bad_alloc").
void LogFailure(const std::exception& e) { log::LogException(kCategory, "", common::ClassName(e)); }

// SaveUser with the lock already held, without the flush.
bool SaveLocked(FreeBase& db, const StoredUser& user, std::string_view server_id) {
  const std::string path = UserPath(server_id, user.login_name.str());
  if (db.GetEntry(path, EntryKind::kNode) == nullptr) return false;
  db.WriteString(Key(path, "LogInName"), user.login_name.str());
  db.WriteString(Key(path, "LogInPassWord"), user.password.str());
  db.WriteString(Key(path, "NickName"), user.nick_name.str());
  db.WriteInteger(Key(path, "Priviliges"), user.privileges);
  db.WriteString(Key(path, "RegisteredBy"), user.registered_by.str());
  // Every save resets the count, also one that only changes a password.
  db.WriteInteger(Key(path, "Logins"), 0);
  const common::DateTime now = common::Now();
  if (db.ReadFloat(Key(path, "Created"), 0) == 0) {
    db.WriteFloat(Key(path, "Created"), now);
  } else {
    db.WriteFloat(Key(path, "LastChanged"), now);
  }
  return true;
}

}  // namespace

std::optional<std::vector<std::string>> GetUserNames(FreeBase& db, std::string_view server_id) {
  auto lock = db.Lock();
  const FBEntry* users = db.GetEntry(UsersPath(server_id), EntryKind::kNode);
  if (users == nullptr) return std::nullopt;
  std::vector<std::string> names;
  try {
    for (const auto& child : users->AsContainer()->Children()) {
      const FBContainer* user = child->AsContainer();
      const auto* login =
          user ? EntryCast<FBString>(user->FindChild("LogInName", EntryKind::kString)) : nullptr;
      names.push_back(login ? login->Value() : std::string());
    }
  } catch (const std::exception&) {
    // What was gathered so far is the answer.
  }
  return names;
}

bool DeleteUser(FreeBase& db, std::string_view login_name, std::string_view server_id) {
  auto lock = db.Lock();
  try {
    FBEntry* user = db.GetEntry(UserPath(server_id, login_name), EntryKind::kNode);
    if (user == nullptr) return false;
    db.DeleteEntry(user);
    lock.unlock();  // the file is written outside the data lock
    db.Flush();
    return true;
  } catch (const std::exception& e) {
    LogFailure(e);
    return false;
  }
}

std::optional<StoredUser> LoadUser(FreeBase& db, std::string_view login_name,
                                   std::string_view server_id, bool count_login) {
  auto lock = db.Lock();
  std::optional<StoredUser> user;
  try {
    const std::string path = UserPath(server_id, login_name);
    if (db.GetEntry(path, EntryKind::kNode) == nullptr) return std::nullopt;
    user.emplace();
    user->login_name = db.ReadString(Key(path, "LogInName"), "");
    user->password = db.ReadString(Key(path, "LogInPassWord"), "");
    user->nick_name = db.ReadString(Key(path, "NickName"), "");
    user->registered_by = db.ReadString(Key(path, "RegisteredBy"), "");
    user->privileges = static_cast<std::uint16_t>(db.ReadInteger(Key(path, "Priviliges"), 0));
    user->logins = db.ReadInteger(Key(path, "Logins"), 0);
    user->last_changed = db.ReadFloat(Key(path, "LastChanged"), 0);
    user->created = db.ReadFloat(Key(path, "Created"), 0);
    if (count_login) {
      // Wraps rather than overflows at the 32-bit limit.
      const auto next = static_cast<std::uint32_t>(user->logins) + 1u;
      db.WriteInteger(Key(path, "Logins"), static_cast<std::int32_t>(next));
      db.WriteFloat(Key(path, "LastChanged"), common::Now());
    }
  } catch (const std::exception& e) {
    LogFailure(e);
  }
  return user;
}

bool SaveUser(FreeBase& db, const StoredUser& user, std::string_view server_id) {
  auto lock = db.Lock();
  try {
    if (!SaveLocked(db, user, server_id)) return false;
    lock.unlock();  // the file is written outside the data lock
    db.Flush();
    return true;
  } catch (const std::exception& e) {
    LogFailure(e);
    return false;
  }
}

bool AddUser(FreeBase& db, const StoredUser& user, std::string_view server_id) {
  auto lock = db.Lock();
  try {
    const std::string path = UserPath(server_id, user.login_name.str());
    if (db.GetEntry(path, EntryKind::kNode) != nullptr) return false;
    db.CreateNode(path);
    if (!SaveLocked(db, user, server_id)) return false;
    lock.unlock();  // the file is written outside the data lock
    db.Flush();
    return true;
  } catch (const std::exception& e) {
    LogFailure(e);
    return false;
  }
}

}  // namespace voxhall::storage

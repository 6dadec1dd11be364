// The user store: registered accounts of each virtual server, kept in the
// database under "\Servers\<server id>\Users\<login name>" with one entry per
// field below that node. The server id is the server's configuration section
// name; both ids compare without regard to ASCII case. The protocol, query and
// web layers and the start-up sequence map StoredUser onto their own records.
//
// Thread safety: callable from any thread; each function holds the database's
// lock for its whole operation. None throws: failures answer nullopt or false
// and are logged once under "USERS".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/date_time.h"
#include "common/text.h"
#include "storage/tree_db.h"

namespace voxhall::storage {

// One registered account, exactly the stored fields. Texts hold at most 29
// characters; longer stored texts are cut when read.
struct StoredUser {
  common::NameText login_name;        // "LogInName"
  common::NameText password;          // "LogInPassWord", plain text as given
  common::NameText nick_name;         // "NickName"
  std::uint16_t privileges = 0;       // "Priviliges": the server rights word
  common::NameText registered_by;     // "RegisteredBy"
  std::int32_t logins = 0;            // "Logins"
  common::DateTime created = 0;       // "Created"; 0 means never
  common::DateTime last_changed = 0;  // "LastChanged": last change or login
};

// The "LogInName" of every user node of the server, in stored order (empty for
// a node without one). nullopt when the server has no "Users" node or the
// database is inactive.
std::optional<std::vector<std::string>> GetUserNames(FreeBase& db, std::string_view server_id);

// Removes the user's node with all its fields and flushes. False when there is
// no such user.
bool DeleteUser(FreeBase& db, std::string_view login_name, std::string_view server_id);

// The stored account (its own login name as stored, whatever the case of
// `login_name`); nullopt when there is no such user. With `count_login`, the
// stored "Logins" becomes the value read plus 1 and "LastChanged" now, without
// a flush: the next flush of any kind writes them. The answer holds the values
// as read, before that count.
std::optional<StoredUser> LoadUser(FreeBase& db, std::string_view login_name,
                                   std::string_view server_id, bool count_login);

// Rewrites the existing user named by `user.login_name` from the record: the
// texts and privileges as given, "Logins" 0, and "Created" now when it is 0 or
// missing, else "LastChanged" now; then flushes. The record's own counts and
// times are not written. False when there is no such user (a renamed record is
// not found). True once the change is made, even when the flush then fails
// (LastError of the database tells).
bool SaveUser(FreeBase& db, const StoredUser& user, std::string_view server_id);

// Makes a new user from the record as SaveUser does. False when the login name
// exists already (in any case) or names no user node of its own (empty, or
// holding a backslash).
bool AddUser(FreeBase& db, const StoredUser& user, std::string_view server_id);

}  // namespace voxhall::storage

#include "web/check_login.h"

#include <charconv>
#include <cstdint>
#include <string>

#include "common/text.h"
#include "host/server_list.h"
#include "storage/server_database.h"
#include "storage/user_store.h"

namespace voxhall::web {

namespace {

constexpr std::uint16_t kRightSuperServerAdmin = 8;

// A decimal integer with an optional sign, nothing else.
bool ParseDecimal(std::string_view text, std::int32_t& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

// Whether any running server's store holds the account with the
// super-server-admin right and exactly this password. Requires the
// ServerList lock.
bool FindSuperAdmin(const std::string& login_name, const std::string& password) {
  if (!storage::ServerDatabase) return false;
  for (const host::ServerObject* server : host::ServerList->ListServers()) {
    const auto user = storage::LoadUser(*storage::ServerDatabase, login_name, server->Key, false);
    if (user && (user->privileges & kRightSuperServerAdmin) && user->password.str() == password) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool CheckLogin(HttpSession& session, std::string_view login_name, std::string_view password,
                std::string_view port_text) {
  const std::string name = common::CutText(login_name, common::kNameCapacity);
  const std::string pass = common::CutText(password, common::kNameCapacity);
  const std::string port = common::CutText(port_text, common::kNameCapacity);

  auto session_lock = session.Lock();
  session.Remove("serverid");
  session.Set("superadmin", "0");
  if (!host::ServerList) return false;
  std::int32_t udp_port = 0;
  if (!ParseDecimal(port, udp_port)) return false;

  auto list_lock = host::ServerList->Lock();
  const host::ServerObject* server = host::ServerList->FindServerByPort(udp_port);
  if (!server || !FindSuperAdmin(name, pass)) return false;
  session.Set("superadmin", "1");
  session.Set("serverid", server->Key);
  return true;
}

}  // namespace voxhall::web

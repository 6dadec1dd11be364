#include "protocol/client_list.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <random>

#ifdef __linux__
#include <sys/random.h>
#endif

namespace voxhall::protocol {

namespace {

// 32 bits from the operating system's random source.
std::uint32_t OsRandom32() {
  std::uint32_t value = 0;
#ifdef __linux__
  if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
#endif
  static thread_local std::random_device device;
  return static_cast<std::uint32_t>(device());
}

}  // namespace


void ClientList::AssertHeld() const { assert(HeldByCurrentThread()); }

ClientObject* ClientList::Add(std::unique_ptr<ClientObject> player) {
  AssertHeld();
  players_.push_back(std::move(player));
  return players_.back().get();
}

std::unique_ptr<ClientObject> ClientList::Remove(const ClientObject* player) {
  AssertHeld();
  auto it = std::find_if(players_.begin(), players_.end(),
                         [player](const auto& p) { return p.get() == player; });
  if (it == players_.end()) return nullptr;
  std::unique_ptr<ClientObject> out = std::move(*it);
  players_.erase(it);
  return out;
}

void ClientList::Clear() {
  AssertHeld();
  players_.clear();
}

std::size_t ClientList::Count() const {
  AssertHeld();
  return players_.size();
}

ClientObject* ClientList::GetClientObject(std::int32_t player_id) const {
  AssertHeld();
  if (player_id == 0) return nullptr;
  for (const auto& p : players_) {
    if (p->PlayerId == player_id) return p.get();
  }
  return nullptr;
}

ClientObject* ClientList::GetClientObject(std::string_view nickname) const {
  AssertHeld();
  if (nickname.empty()) return nullptr;
  for (const auto& p : players_) {
    if (common::EqualsIgnoreCase(p->NickName.str(), nickname)) return p.get();
  }
  return nullptr;
}

int ClientList::GetPlayersInChannel(std::int32_t channel_id) const {
  AssertHeld();
  return static_cast<int>(std::count_if(players_.begin(), players_.end(),
                                        [channel_id](const auto& p) { return p->ChannelId == channel_id; }));
}

std::int32_t ClientList::GetNewPlayerID(std::int32_t& next_player_id,
                                       const std::function<bool(std::int32_t)>& also_taken) const {
  AssertHeld();
  if (players_.empty() || next_player_id < 1) next_player_id = 1;
  auto taken = [&](std::int32_t id) {
    return GetClientObject(id) != nullptr || (also_taken && also_taken(id));
  };
  // Only after two billion logins without the server ever becoming empty can
  // the counter run out; then it wraps and skips the ids still in use.
  while (taken(next_player_id)) {
    next_player_id = next_player_id == std::numeric_limits<std::int32_t>::max() ? 1 : next_player_id + 1;
  }
  const std::int32_t id = next_player_id;
  next_player_id = id == std::numeric_limits<std::int32_t>::max() ? 1 : id + 1;
  return id;
}

std::int32_t ClientList::GetNewConnectionID() {
  AssertHeld();
  return GetNewConnectionID(OsRandom32);
}

std::int32_t ClientList::GetNewConnectionID(const std::function<std::uint32_t()>& draw) const {
  AssertHeld();
  for (;;) {
    const auto id = static_cast<std::int32_t>(draw() % kConnectionIdLimit);
    const bool taken = std::any_of(players_.begin(), players_.end(),
                                   [id](const auto& p) { return p->ConnectionId == id; });
    if (!taken) return id;
  }
}

std::string ClientList::FirstFreeNumbered(std::string_view base) const {
  for (unsigned i = 1;; ++i) {
    std::string candidate = std::string(base) + std::to_string(i);
    if (!InUse(candidate)) return candidate;
  }
}

std::string ClientList::GetGuestPlayerName(std::string_view name) const {
  AssertHeld();
  // The caller stores the result in the 29-character nickname field, so a
  // longer name or numbered form would be cut there and could then equal a
  // nickname in use; judge every candidate by what the field will hold.
  const std::string_view stored = name.substr(0, std::min(name.size(), common::kNameCapacity));
  if (common::Trim(stored).empty()) return FirstFreeNumbered("Guest");
  if (!InUse(stored)) return std::string(stored);
  std::string numbered = FirstFreeNumbered(stored);
  if (numbered.size() > common::kNameCapacity) return FirstFreeNumbered("Guest");
  return numbered;
}

}  // namespace voxhall::protocol

// The player list of one virtual server: it owns the records of the logged-in
// players and hands out player ids, connection ids and free nicknames. The
// listener thread alone adds, removes and changes records; query, web and
// poster threads only read them. Everybody holds the list's lock while doing
// so, and every operation below except Lock/Unlock requires it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/owned_mutex.h"
#include "protocol/client_object.h"

namespace voxhall::protocol {

// Connection ids are drawn below this bound.
inline constexpr std::uint32_t kConnectionIdLimit = 0xFFFFFF;

class ClientList {
 public:
  ClientList() = default;
  ClientList(const ClientList&) = delete;
  ClientList& operator=(const ClientList&) = delete;

  // Lock order: the player list first, then the channel list, then the packet
  // buffer. Never wait for this lock while holding the channel-list lock.
  void Lock() { mu_.lock(); }
  void Unlock() { mu_.unlock(); }
  // Whether the calling thread holds the lock (for assertions).
  bool HeldByCurrentThread() const { return mu_.HeldByCurrentThread(); }
  // BasicLockable, so std::lock_guard and std::unique_lock work.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

  // Appends a record; the list owns it from now on. Returns it.
  ClientObject* Add(std::unique_ptr<ClientObject> player);
  // Takes a record out of the list and gives it back to the caller (which
  // frees it by dropping it); null when it is not in the list.
  std::unique_ptr<ClientObject> Remove(const ClientObject* player);
  // Frees every record.
  void Clear();

  // The records in list order.
  const std::vector<std::unique_ptr<ClientObject>>& items() const { return players_; }
  std::size_t Count() const;

  // The first player with this player id; none for id 0.
  ClientObject* GetClientObject(std::int32_t player_id) const;
  // The first player whose nickname equals `nickname` without regard to
  // ASCII letter case; none for an empty argument.
  ClientObject* GetClientObject(std::string_view nickname) const;

  // Number of players whose ChannelId is `channel_id` (players of its
  // sub-channels are not counted).
  int GetPlayersInChannel(std::int32_t channel_id) const;

  // Hands out the counter `next_player_id` and increments it; an empty list
  // first resets it to 1. Ids thus start at 1 again after the server has been
  // empty. Ids that a listed player uses, or for which `also_taken` answers
  // true, are skipped: the login passes the packet buffer's HasConnection, so
  // that a refused login whose connection record still lingers never shares
  // its id with the next player. Should the counter ever run past the largest
  // int32, it starts again at 1.
  std::int32_t GetNewPlayerID(std::int32_t& next_player_id,
                              const std::function<bool(std::int32_t)>& also_taken = {}) const;

  // A number n with 0 <= n < 0xFFFFFF that no player uses as connection id,
  // drawn from the operating system's random source (so that nobody can
  // predict the id of another player's connection), or from `draw` (raw
  // 32-bit values).
  std::int32_t GetNewConnectionID();
  std::int32_t GetNewConnectionID(const std::function<std::uint32_t()>& draw) const;

  // A nickname no player uses, based on `name`: the name itself when it is
  // free, else the name followed by 1, 2, ... ; "Guest1", "Guest2", ... when
  // the name is blank or no numbered form fits the 29-character nickname
  // field. The result always fits that field.
  std::string GetGuestPlayerName(std::string_view name) const;

 private:
  bool InUse(std::string_view nickname) const { return GetClientObject(nickname) != nullptr; }
  std::string FirstFreeNumbered(std::string_view base) const;
  void AssertHeld() const;

  // Guards players_ and every record in it. First in the lock order: player
  // list, channel list, packet buffer.
  common::OwnedMutex mu_;
  std::vector<std::unique_ptr<ClientObject>> players_;  // GUARDED_BY(mu_)
};

}  // namespace voxhall::protocol

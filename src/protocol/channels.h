// The channel tree of one virtual server: a flat list of channel records
// forming top-level channels and their sub-channels, the id counter, the
// default codec and the stored channel privileges of registered users. The
// listener changes it; the query interface's listing and the final save at
// stop read it. Everybody holds its lock, and every operation below except
// Lock/Unlock requires it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/owned_mutex.h"
#include "protocol/channel_rec.h"

namespace voxhall::storage {
class FreeBase;
}

namespace voxhall::protocol {

inline constexpr std::uint16_t kDefaultChannelMaxUsers = 32000;

class Channels {
 public:
  // `server_key` is the virtual server's configuration section name, which
  // addresses its channels in the database.
  explicit Channels(std::string server_key);
  Channels(const Channels&) = delete;
  Channels& operator=(const Channels&) = delete;

  // Lock order: player list, then this channel list, then the packet buffer.
  // A holder of this lock never waits for the player-list lock.
  void Lock() { mu_.lock(); }
  void Unlock() { mu_.unlock(); }
  bool Locked() const { return mu_.Locked(); }
  bool HeldByCurrentThread() const { return mu_.HeldByCurrentThread(); }
  // BasicLockable, so std::lock_guard and std::unique_lock work.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

  const std::string& server_key() const { return server_key_; }
  std::uint16_t default_codec() const { return default_codec_; }
  void set_default_codec(std::uint16_t codec) { default_codec_ = codec; }

  // Ids of the channels that the last AddChannel or DeleteChannel changed or
  // removed besides the one it was asked for: the former default channel, or
  // the deleted channels in the order they went.
  const std::vector<std::int32_t>& changed() const { return changed_; }

  // The records in the order they were added.
  const std::vector<std::unique_ptr<ChannelRec>>& items() const { return channels_; }
  std::size_t Count() const;

  ChannelRec* FindChannel(std::int32_t id) const;
  // The first record named `name` (ASCII letter case ignored) whose parent
  // is `parent`; with `parent` kNoParent any parent matches.
  ChannelRec* FindChannelByName(std::string_view name, std::int32_t parent) const;
  // Id of the first record with the default flag, or -1.
  std::int32_t DefaultChannelId() const;

  // Adds a channel after checking the tree rules; returns its new id (>= 0)
  // or kErrorSubChannelPassword, kErrorChannelNameExists, kErrorParentNotFound,
  // kErrorParentIsSubChannel or kErrorNoSubChannelsAllowed. A sub-channel
  // takes its parent's codec and becomes registered under a registered
  // parent; the password flag follows the password; a new default channel
  // takes the flag from the old one (reported in changed()). Created and
  // LastChanged become now.
  std::int32_t AddChannel(ChannelRec record);
  // Adds "Default" (flags default, max users 32000, the default codec).
  std::int32_t CreateDefaultChannel();
  // Removes a channel and, for a top-level channel, its sub-channels (last
  // added first, then the channel itself; all ids in changed()). Returns 0,
  // kErrorNoSuchChannel, or kErrorDefaultChannel when the channel or one of
  // its sub-channels is the default channel. Players inside are the caller's
  // concern.
  std::int32_t DeleteChannel(std::int32_t id);
  // Frees every record.
  void ClearChannels();

  // Adds the channels stored for the server in `database` by index 0, 1, ...
  // up to the first missing one; a stored channel the tree refuses is skipped
  // (logged), and a sub-channel goes below the channel loaded from its stored
  // parent index. Without any channel the default channel is created; without
  // a default channel the first top-level channel becomes it. Returns whether
  // the list holds channels afterwards.
  bool LoadChannels(storage::FreeBase& database);
  // Replaces the server's stored channels with the registered ones, in saving
  // order, each sub-channel naming the index its parent was written at. A
  // registered sub-channel of an unregistered channel is not written: its
  // parent never is. False without touching the database when the list is
  // empty; false when the database is inactive or a write failed.
  bool SaveChannels(storage::FreeBase& database);

  // The records in saving order: top-level channels by name (letter case
  // ignored), each followed by its sub-channels by name. The pointers stay
  // valid until the list changes.
  std::vector<const ChannelRec*> SortedChannels() const;

  // The privilege word stored for `login_name` in the channel's top-level
  // channel, or 0 (no entry, no channel, or not a number).
  std::uint16_t GetChannelPrivilege(std::int32_t channel_id, std::string_view login_name) const;
  // Stores the word for `login_name` in the channel's top-level channel,
  // replacing an earlier entry. Anonymous players (empty name) store nothing.
  void SetChannelPrivilege(std::int32_t channel_id, std::string_view login_name,
                           std::uint16_t word);

 private:
  void AssertHeld() const;
  // The channel itself, or its parent for a sub-channel; null when missing.
  ChannelRec* TopLevelOf(std::int32_t channel_id) const;

  const std::string server_key_;

  // Guards everything below and every record in the list. Second in the lock
  // order: player list, channel list, packet buffer.
  common::OwnedMutex mu_;
  std::int32_t next_id_ = 0;                             // GUARDED_BY(mu_)
  std::uint16_t default_codec_ = kCodecCelp51;           // GUARDED_BY(mu_)
  std::vector<std::unique_ptr<ChannelRec>> channels_;    // GUARDED_BY(mu_)
  std::vector<std::int32_t> changed_;                    // GUARDED_BY(mu_)
};

}  // namespace voxhall::protocol

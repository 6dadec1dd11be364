// The channel store: registered channels of each virtual server, kept in the
// database under "\Servers\<server id>\Channels\<index>" with one entry per
// field and the attribute lines as strings "0", "1", ... below the node
// "_UserAttribs_". The channel list loads them by index when its listener
// starts and, when the server stops, deletes them all and saves them again,
// parents before their sub-channels; the protocol layer maps StoredChannel
// onto its own channel record.
//
// Thread safety: callable from any thread; each function holds the database's
// lock while it reads or changes entries and writes the file after releasing
// it. None throws.
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

// Defaults of the keys that a stored channel lacks.
inline constexpr std::uint16_t kDefaultMaxUsers = 2500;
inline constexpr char kMissingText[] = "***ERROR***";

// One stored channel, exactly the stored fields. The 16-bit fields are stored
// as 32-bit integers, zero-extended, and cut to 16 bits when read; texts are
// cut to their capacity when read.
struct StoredChannel {
  std::uint16_t flags = 0;                     // "Flags"
  std::uint16_t codec = 0;                     // "Codec"
  std::int32_t parent = 0;                     // "Parent": the parent's index, -1 at top level
  std::uint16_t order = 0;                     // "Order"
  std::uint16_t max_users = kDefaultMaxUsers;  // "MaxUsers"
  common::NameText name;                       // "Name"
  common::NameText topic;                      // "Topic"
  common::DescriptionText description;         // "Description"
  common::NameText password;                   // "Password", plain text
  common::DateTime created = 0;                // "Created"; read only, never written from here
  common::DateTime last_changed = 0;           // "LastChanged"; likewise
  std::vector<std::string> user_attributes;    // "_UserAttribs_\0", "\1", ...
};

// Removes the server's "Channels" node with everything below it and flushes,
// when that node exists.
void DeleteChannels(FreeBase& db, std::string_view server_id);

// Writes the record's keys and attribute lines under `index`, creating what is
// missing, and flushes. "Created" becomes now when it is 0 or missing,
// otherwise "LastChanged" does. Attribute entries beyond the record's list
// that exist from earlier saves are left alone. Writes nothing while inactive.
void SaveChannel(FreeBase& db, std::int32_t index, const StoredChannel& channel,
                 std::string_view server_id);

// Replaces the server's stored channels with `channels` (stored under their
// positions 0, 1, ...) in memory and writes the file once, so that a crash
// leaves either the whole old set or the whole new one on disk. False when the
// database is inactive or the write fails.
bool ReplaceChannels(FreeBase& db, const std::vector<StoredChannel>& channels,
                     std::string_view server_id);

// The channel stored under `index`, each missing key giving its default
// (MaxUsers 2500, the texts "***ERROR***", the password empty, the rest 0);
// the attribute lines up to the first empty or missing one. nullopt when there
// is no channel node of that index.
std::optional<StoredChannel> LoadChannel(FreeBase& db, std::int32_t index,
                                         std::string_view server_id);

}  // namespace voxhall::storage

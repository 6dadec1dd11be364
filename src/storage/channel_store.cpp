#include "storage/channel_store.h"

#include <exception>

#include "log/log.h"

namespace voxhall::storage {

namespace {

constexpr char kCategory[] = "SERVER";

std::string ChannelsPath(std::string_view server_id) {
  std::string path = "\\Servers\\";
  path.append(server_id).append("\\Channels");
  return path;
}

std::string ChannelPath(std::string_view server_id, std::int32_t index) {
  return ChannelsPath(server_id) + "\\" + std::to_string(index);
}

std::string Key(const std::string& channel_path, std::string_view key) {
  std::string path = channel_path;
  path.append("\\").append(key);
  return path;
}

std::string AttributeKey(const std::string& channel_path, std::size_t position) {
  return channel_path + "\\_UserAttribs_\\" + std::to_string(position);
}

// Removes the server's "Channels" node; false when there is none.
bool DeleteChannelsLocked(FreeBase& db, std::string_view server_id) {
  FBEntry* channels = db.GetEntry(ChannelsPath(server_id), EntryKind::kNode);
  return channels != nullptr && db.DeleteEntry(channels);
}

// SaveChannel with the lock held, without the flush.
void WriteChannelLocked(FreeBase& db, std::int32_t index, const StoredChannel& channel,
                        std::string_view server_id) {
  try {
    const std::string path = ChannelPath(server_id, index);
    db.WriteInteger(Key(path, "Flags"), channel.flags);
    db.WriteInteger(Key(path, "Codec"), channel.codec);
    db.WriteInteger(Key(path, "Parent"), channel.parent);
    db.WriteInteger(Key(path, "Order"), channel.order);
    db.WriteInteger(Key(path, "MaxUsers"), channel.max_users);
    db.WriteString(Key(path, "Name"), channel.name.str());
    db.WriteString(Key(path, "Topic"), channel.topic.str());
    db.WriteString(Key(path, "Description"), channel.description.str());
    db.WriteString(Key(path, "Password"), channel.password.str());
    const common::DateTime now = common::Now();
    if (db.ReadFloat(Key(path, "Created"), 0) != 0) {
      db.WriteFloat(Key(path, "LastChanged"), now);
    } else {
      db.WriteFloat(Key(path, "Created"), now);
    }
    for (std::size_t i = 0; i < channel.user_attributes.size(); ++i) {
      db.WriteString(AttributeKey(path, i), channel.user_attributes[i]);
    }
  } catch (const std::exception& e) {
    // Out of memory half way: flush what was made, as any later flush would.
    log::LogException(kCategory, "SaveChannel", e.what());
  }
}

}  // namespace

void DeleteChannels(FreeBase& db, std::string_view server_id) {
  auto lock = db.Lock();
  if (!DeleteChannelsLocked(db, server_id)) return;
  lock.unlock();  // the file is written outside the data lock
  db.Flush();
}

void SaveChannel(FreeBase& db, std::int32_t index, const StoredChannel& channel,
                 std::string_view server_id) {
  auto lock = db.Lock();
  if (!db.Active()) return;
  WriteChannelLocked(db, index, channel, server_id);
  lock.unlock();
  db.Flush();
}

bool ReplaceChannels(FreeBase& db, const std::vector<StoredChannel>& channels,
                     std::string_view server_id) {
  auto lock = db.Lock();
  if (!db.Active()) return false;
  DeleteChannelsLocked(db, server_id);
  for (std::size_t i = 0; i < channels.size(); ++i) {
    WriteChannelLocked(db, static_cast<std::int32_t>(i), channels[i], server_id);
  }
  lock.unlock();
  return db.Flush();
}

std::optional<StoredChannel> LoadChannel(FreeBase& db, std::int32_t index,
                                         std::string_view server_id) {
  auto lock = db.Lock();
  try {
    const std::string path = ChannelPath(server_id, index);
    if (db.GetEntry(path, EntryKind::kNode) == nullptr) return std::nullopt;
    StoredChannel channel;
    channel.flags = static_cast<std::uint16_t>(db.ReadInteger(Key(path, "Flags"), 0));
    channel.codec = static_cast<std::uint16_t>(db.ReadInteger(Key(path, "Codec"), 0));
    channel.parent = db.ReadInteger(Key(path, "Parent"), 0);
    channel.order = static_cast<std::uint16_t>(db.ReadInteger(Key(path, "Order"), 0));
    channel.max_users =
        static_cast<std::uint16_t>(db.ReadInteger(Key(path, "MaxUsers"), kDefaultMaxUsers));
    channel.name = db.ReadString(Key(path, "Name"), kMissingText);
    channel.topic = db.ReadString(Key(path, "Topic"), kMissingText);
    channel.description = db.ReadString(Key(path, "Description"), kMissingText);
    channel.password = db.ReadString(Key(path, "Password"), "");
    channel.created = db.ReadFloat(Key(path, "Created"), 0);
    channel.last_changed = db.ReadFloat(Key(path, "LastChanged"), 0);
    for (std::size_t i = 0;; ++i) {
      std::string line = db.ReadString(AttributeKey(path, i), "");
      if (line.empty()) break;
      channel.user_attributes.push_back(std::move(line));
    }
    return channel;
  } catch (const std::exception& e) {
    log::LogException(kCategory, "LoadChannel", e.what());
    return std::nullopt;
  }
}

}  // namespace voxhall::storage

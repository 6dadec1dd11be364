#include "protocol/channels.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <optional>
#include <utility>

#include "common/date_time.h"
#include "log/log.h"
#include "protocol/error_codes.h"
#include "storage/channel_store.h"
#include "storage/tree_db.h"

namespace voxhall::protocol {

namespace {

// The login name of a "name=word" privilege line.
std::string_view EntryName(std::string_view line) { return line.substr(0, line.find('=')); }

bool NameLess(const ChannelRec* a, const ChannelRec* b) {
  return common::UpperCase(a->Name.str()) < common::UpperCase(b->Name.str());
}

ChannelRec FromStored(const storage::StoredChannel& stored) {
  ChannelRec c;
  c.Flags = stored.flags;
  c.Codec = stored.codec;
  c.Parent = stored.parent;
  c.Name = stored.name;
  c.Topic = stored.topic;
  c.Description = stored.description;
  c.Order = static_cast<std::int16_t>(stored.order);
  c.MaxUsers = stored.max_users;
  c.Password = stored.password;
  c.UserAttribs = stored.user_attributes;
  return c;
}

storage::StoredChannel ToStored(const ChannelRec& c, std::int32_t parent_index) {
  storage::StoredChannel stored;
  stored.flags = c.Flags;
  stored.codec = c.Codec;
  stored.parent = parent_index;
  stored.order = static_cast<std::uint16_t>(c.Order);
  stored.max_users = c.MaxUsers;
  stored.name = c.Name;
  stored.topic = c.Topic;
  stored.description = c.Description;
  stored.password = c.Password;
  stored.user_attributes = c.UserAttribs;
  return stored;
}

}  // namespace

Channels::Channels(std::string server_key) : server_key_(std::move(server_key)) {}

void Channels::AssertHeld() const { assert(HeldByCurrentThread()); }

std::size_t Channels::Count() const {
  AssertHeld();
  return channels_.size();
}

ChannelRec* Channels::FindChannel(std::int32_t id) const {
  AssertHeld();
  for (const auto& c : channels_) {
    if (c->ID == id) return c.get();
  }
  return nullptr;
}

ChannelRec* Channels::FindChannelByName(std::string_view name, std::int32_t parent) const {
  AssertHeld();
  for (const auto& c : channels_) {
    if ((parent == kNoParent || c->Parent == parent) &&
        common::EqualsIgnoreCase(c->Name.str(), name)) {
      return c.get();
    }
  }
  return nullptr;
}

std::int32_t Channels::DefaultChannelId() const {
  AssertHeld();
  for (const auto& c : channels_) {
    if (c->Flags & kChannelFlagDefault) return c->ID;
  }
  return -1;
}

ChannelRec* Channels::TopLevelOf(std::int32_t channel_id) const {
  ChannelRec* channel = FindChannel(channel_id);
  if (channel != nullptr && !channel->IsTopLevel()) channel = FindChannel(channel->Parent);
  return channel;
}

std::int32_t Channels::AddChannel(ChannelRec record) {
  AssertHeld();
  changed_.clear();
  if (!record.IsTopLevel() && !record.Password.empty()) return kErrorSubChannelPassword;
  if (FindChannelByName(record.Name.str(), record.Parent) != nullptr) {
    return kErrorChannelNameExists;
  }
  if (!record.IsTopLevel()) {
    const ChannelRec* parent = FindChannel(record.Parent);
    if (parent == nullptr) return kErrorParentNotFound;
    if (!parent->IsTopLevel()) return kErrorParentIsSubChannel;
    if ((parent->Flags & kChannelFlagSubChannels) == 0) return kErrorNoSubChannelsAllowed;
    record.Flags &= static_cast<std::uint16_t>(~kChannelFlagSubChannels);
    record.Codec = parent->Codec;
    if (parent->IsRegistered()) {
      record.Flags &= static_cast<std::uint16_t>(~kChannelFlagUnregistered);
    }
  }
  if (record.Password.empty()) {
    record.Flags &= static_cast<std::uint16_t>(~kChannelFlagPassword);
  } else {
    record.Flags |= kChannelFlagPassword;
  }
  // Ids are never reused; the counter cannot realistically run out, but a
  // wrapped id would collide with a live channel.
  if (next_id_ == std::numeric_limits<std::int32_t>::max()) return kErrorSubChannelPassword;
  if (record.Flags & kChannelFlagDefault) {
    if (ChannelRec* old = FindChannel(DefaultChannelId())) {
      old->Flags &= static_cast<std::uint16_t>(~kChannelFlagDefault);
      changed_.push_back(old->ID);
    }
  }
  record.Created = common::Now();
  record.LastChanged = record.Created;
  record.ID = next_id_++;
  channels_.push_back(std::make_unique<ChannelRec>(std::move(record)));
  return channels_.back()->ID;
}

std::int32_t Channels::CreateDefaultChannel() {
  ChannelRec record;
  record.Name = "Default";
  record.Topic = "Default";
  record.Description = "Default Channel";
  record.Flags = kChannelFlagDefault;
  record.Codec = default_codec_;
  record.Parent = kNoParent;
  record.Order = 0;
  record.MaxUsers = kDefaultChannelMaxUsers;
  return AddChannel(std::move(record));
}

std::int32_t Channels::DeleteChannel(std::int32_t id) {
  AssertHeld();
  changed_.clear();
  const ChannelRec* channel = FindChannel(id);
  if (channel == nullptr) return kErrorNoSuchChannel;
  // A sub-channel may carry the default flag too; deleting its parent would
  // otherwise leave the server without a default channel.
  const bool top_level = channel->IsTopLevel();
  for (const auto& c : channels_) {
    if ((c->ID == id || (top_level && c->Parent == id)) && (c->Flags & kChannelFlagDefault)) {
      return kErrorDefaultChannel;
    }
  }
  if (top_level) {
    for (std::size_t i = channels_.size(); i-- > 0;) {
      if (channels_[i]->Parent == id) {
        changed_.push_back(channels_[i]->ID);
        channels_.erase(channels_.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  changed_.push_back(id);
  std::erase_if(channels_, [id](const auto& c) { return c->ID == id; });
  return 0;
}

void Channels::ClearChannels() {
  AssertHeld();
  channels_.clear();
}

bool Channels::LoadChannels(storage::FreeBase& database) {
  AssertHeld();
  // Id given to the channel of each stored index, -1 where it was refused.
  // Ids only equal the indexes while nothing is refused, so sub-channels find
  // their parent through this map.
  std::vector<std::int32_t> id_of_index;
  for (std::int32_t index = 0;; ++index) {
    std::optional<storage::StoredChannel> stored = storage::LoadChannel(database, index, server_key_);
    if (!stored) break;
    ChannelRec record = FromStored(*stored);
    std::int32_t result = kErrorParentNotFound;
    if (record.IsTopLevel()) {
      result = AddChannel(std::move(record));
    } else if (record.Parent >= 0 && record.Parent < index && id_of_index[record.Parent] >= 0) {
      record.Parent = id_of_index[record.Parent];
      result = AddChannel(std::move(record));
    }
    if (result < 0) {
      log::LogFmt(log::lmtWarning, log::lmdAll, "UDP Listener",
                  "LoadChannels: stored channel %1 \"%2\" of %3 skipped (%4)", index,
                  stored->name.str(), server_key_, result);
    }
    id_of_index.push_back(result >= 0 ? result : -1);
  }
  if (channels_.empty()) CreateDefaultChannel();
  // The default channel may have been unregistered, and so never stored;
  // new players still need a channel to start in.
  if (DefaultChannelId() < 0) {
    for (const auto& c : channels_) {
      if (c->IsTopLevel()) {
        c->Flags |= kChannelFlagDefault;
        break;
      }
    }
  }
  changed_.clear();
  return !channels_.empty();
}

bool Channels::SaveChannels(storage::FreeBase& database) {
  AssertHeld();
  const std::vector<const ChannelRec*> sorted = SortedChannels();
  if (sorted.empty() || !database.Active()) return false;
  std::vector<storage::StoredChannel> stored;
  std::vector<std::pair<std::int32_t, std::int32_t>> written_parents;  // channel id, index
  std::int32_t index = 0;
  for (const ChannelRec* c : sorted) {
    if (!c->IsRegistered()) continue;
    std::int32_t parent_index = kNoParent;
    if (!c->IsTopLevel()) {
      auto it = std::find_if(written_parents.begin(), written_parents.end(),
                             [c](const auto& w) { return w.first == c->Parent; });
      if (it == written_parents.end()) continue;  // its parent is unregistered
      parent_index = it->second;
    } else {
      written_parents.emplace_back(c->ID, index);
    }
    stored.push_back(ToStored(*c, parent_index));
    ++index;
  }
  // One write for the whole set: a crash leaves the old set or the new one.
  return storage::ReplaceChannels(database, stored, server_key_);
}

std::vector<const ChannelRec*> Channels::SortedChannels() const {
  AssertHeld();
  std::vector<const ChannelRec*> top;
  for (const auto& c : channels_) {
    if (c->IsTopLevel()) top.push_back(c.get());
  }
  std::stable_sort(top.begin(), top.end(), NameLess);
  std::vector<const ChannelRec*> sorted;
  sorted.reserve(channels_.size());
  for (const ChannelRec* parent : top) {
    sorted.push_back(parent);
    const std::size_t first_sub = sorted.size();
    for (const auto& c : channels_) {
      if (c->Parent == parent->ID) sorted.push_back(c.get());
    }
    std::stable_sort(sorted.begin() + static_cast<std::ptrdiff_t>(first_sub), sorted.end(),
                     NameLess);
  }
  return sorted;
}

std::uint16_t Channels::GetChannelPrivilege(std::int32_t channel_id,
                                            std::string_view login_name) const {
  AssertHeld();
  const ChannelRec* channel = TopLevelOf(channel_id);
  if (channel == nullptr || login_name.empty()) return 0;
  for (const std::string& line : channel->UserAttribs) {
    if (line.find('=') == std::string::npos ||
        !common::EqualsIgnoreCase(EntryName(line), login_name)) {
      continue;
    }
    std::int64_t value = 0;
    if (!common::ParseInteger(std::string_view(line).substr(line.find('=') + 1), value) ||
        value < 0 || value > 0xFFFF) {
      return 0;
    }
    return static_cast<std::uint16_t>(value);
  }
  return 0;
}

void Channels::SetChannelPrivilege(std::int32_t channel_id, std::string_view login_name,
                                   std::uint16_t word) {
  AssertHeld();
  ChannelRec* channel = TopLevelOf(channel_id);
  // An entry under an empty name or a name holding '=' could never be read
  // back as the privileges of a login name.
  if (channel == nullptr || login_name.empty() || login_name.find('=') != std::string_view::npos) {
    return;
  }
  std::string line = std::string(login_name) + "=" + std::to_string(word);
  for (std::string& existing : channel->UserAttribs) {
    if (existing.find('=') != std::string::npos &&
        common::EqualsIgnoreCase(EntryName(existing), login_name)) {
      existing = std::move(line);
      return;
    }
  }
  channel->UserAttribs.push_back(std::move(line));
}

}  // namespace voxhall::protocol

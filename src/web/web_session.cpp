#include "web/web_session.h"

#include <algorithm>
#include <random>

#include "common/text.h"

namespace voxhall::web {

HttpSession::HttpSession(std::string id, std::string remote_address)
    : id_(std::move(id)), remote_address_(std::move(remote_address)) {}

std::string HttpSession::Get(std::string_view name) const {
  auto lock = Lock();
  for (const auto& [n, v] : variables_) {
    if (common::EqualsIgnoreCase(n, name)) return v;
  }
  return {};
}

void HttpSession::Set(std::string_view name, std::string_view value) {
  auto lock = Lock();
  const std::string cut = common::CutText(value, kMaxValueLength);
  if (common::EqualsIgnoreCase(name, "loggedin")) logged_in_ = cut == "1";
  for (auto& [n, v] : variables_) {
    if (common::EqualsIgnoreCase(n, name)) {
      v = cut;
      return;
    }
  }
  if (variables_.size() >= kMaxVariables) return;
  variables_.emplace_back(common::CutText(name, kMaxNameLength), cut);
}

void HttpSession::Remove(std::string_view name) {
  auto lock = Lock();
  if (common::EqualsIgnoreCase(name, "loggedin")) logged_in_ = false;
  std::erase_if(variables_,
                [name](const auto& p) { return common::EqualsIgnoreCase(p.first, name); });
}

std::vector<std::pair<std::string, std::string>> HttpSession::Variables() const {
  auto lock = Lock();
  return variables_;
}

SessionList::SessionList(Clock::duration timeout, std::size_t max_sessions,
                         std::function<Clock::time_point()> now)
    : timeout_(timeout), max_sessions_(max_sessions), now_(std::move(now)) {}

std::shared_ptr<HttpSession> SessionList::Find(std::string_view id,
                                               std::string_view remote_address) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = entries_.find(std::string(id));
  if (it == entries_.end()) return nullptr;
  const Clock::time_point now = now_();
  if (now - it->second.last_used >= timeout_) {
    entries_.erase(it);
    return nullptr;
  }
  if (it->second.session->remote_address() != remote_address) return nullptr;
  it->second.last_used = now;
  return it->second.session;
}

bool SessionList::MakeRoom(Clock::time_point now) {
  if (entries_.size() < max_sessions_) return true;
  std::erase_if(entries_, [&](const auto& e) { return now - e.second.last_used >= timeout_; });
  if (entries_.size() < max_sessions_) return true;
  auto oldest = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->second.session->LoggedIn()) continue;
    if (oldest == entries_.end() || it->second.last_used < oldest->second.last_used) oldest = it;
  }
  if (oldest == entries_.end()) return false;
  entries_.erase(oldest);
  return true;
}

std::shared_ptr<HttpSession> SessionList::Start(
    std::string_view remote_address, const std::function<void(HttpSession&)>& on_start) {
  auto session = std::make_shared<HttpSession>(NewSessionId(), std::string(remote_address));
  on_start(*session);
  std::lock_guard<std::mutex> lock(mu_);
  const Clock::time_point now = now_();
  if (!MakeRoom(now)) return nullptr;
  entries_[session->id()] = Entry{session, now};
  return session;
}

void SessionList::End(const std::string& id) {
  std::lock_guard<std::mutex> lock(mu_);
  entries_.erase(id);
}

std::size_t SessionList::Count() {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

std::string NewSessionId() {
  // The ids are the browser's only credential once logged in: drawn from
  // the operating system's random source, not from a seeded generator.
  static thread_local std::random_device source;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string id;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t word = source();
    for (int j = 0; j < 8; ++j, word >>= 4) id.push_back(kHex[word & 0xF]);
  }
  return id;
}

}  // namespace voxhall::web

// The server-list poster: a background thread that announces every running
// virtual server to the server lists as an HTTP form post, the first round
// 150 seconds after it starts and then every 300 seconds. Destinations are
// the built-in list address (when there is one), the configured "PostURL"
// and each server's own "WebPost_LinkURL"; each post is tried on its own and
// its failure ignored.
//
// The process has at most one poster, made by the start-up sequence when
// "WebPost" "Enabled" is set and destroyed by the shut-down sequence; the
// destructor stops the thread and waits for it (a stop during a wait ends
// it at once, a stop during a post after that post; the next post is not
// started).
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace voxhall::masterlist {

// Field name and value, in posting order.
using PostFields = std::vector<std::pair<std::string, std::string>>;

// A form value: letters and digits stay, a blank becomes "+", every other
// byte "%XX" with upper-case hexadecimal digits.
std::string EncodeFormValue(std::string_view value);

// "name=value" pairs joined by "&"; fields with an empty value are left out
// and names are sent as they are.
std::string EncodeForm(const PostFields& fields);

// The post fields of the running virtual server `key` (exact comparison),
// read from the server list under its lock and the server's player and
// channel list locks, with the operator details of the configuration. Empty
// when no running server has that key.
PostFields BuildPostFields(const std::string& key);

// The waits around each round. The defaults are the process's; tests shorten
// them.
struct WebPostTimings {
  std::chrono::milliseconds before_round{150000};
  std::chrono::milliseconds after_round{150000};
};

class WebPost {
 public:
  // Starts the thread.
  explicit WebPost(WebPostTimings timings = {});
  // Terminate, then wait for the thread.
  ~WebPost();
  WebPost(const WebPost&) = delete;
  WebPost& operator=(const WebPost&) = delete;

  // Asks the thread to end; a wait in progress ends at once.
  void Terminate();

 private:
  void Run();
  // Waits `duration` or until terminated; answers whether to go on.
  bool Wait(std::chrono::milliseconds duration);
  bool Terminated();
  // One round: every running server, in the list's order, to every
  // destination.
  void PostAll();

  const WebPostTimings timings_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool terminated_ = false;  // GUARDED_BY(mu_)
  std::thread thread_;       // last: starts once everything above exists
};

// The process's poster; null until the start-up sequence makes it, and
// after the shut-down sequence has stopped it.
extern std::unique_ptr<WebPost> WebPoster;

}  // namespace voxhall::masterlist

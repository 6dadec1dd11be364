// The command line of voxhall-bench: what to run against which server, and
// the usage text.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace voxhall::bench {

struct BenchOptions {
  std::string host = "127.0.0.1";
  int port = 0;
  int clients = 10;
  int speakers = 1;
  double rate = 50;        // voice packets per second and speaker
  std::size_t size = 100;  // voice data bytes per packet
  double duration = 5;     // seconds of speaking
  std::string channel;     // preferred channel at login; empty: the default
  std::string sub_channel;
  std::string channel_password;
  std::string nickname = "bench";  // prefix; clients are bench1, bench2, ...
  std::string server_password;
  int receivers = 1;                            // receiving threads
  std::chrono::milliseconds drain{500};         // wait for late packets
  std::chrono::milliseconds login_timeout{10000};
  bool json = false;
  // Measures the bench's own receiving path: no server, a local thread
  // sends relayed-voice datagrams to the clients' sockets as fast as it can.
  bool receiver_check = false;
  // Speaks to a bare relay (tools/raw_relay) instead of the server: no login;
  // each client registers with one datagram, and the speakers send datagrams
  // already shaped as relayed voice, which the relay forwards unchanged. The
  // same clients, rates and sizes then measure the machine's own limit.
  bool raw = false;
  // When set, the CPU time this process (the relay) used while the clients
  // spoke and the last datagrams drained, read from /proc, is reported:
  // what relaying cost, without the logins before.
  int relay_pid = 0;
};

// The smallest voice data that carries the bench's marker and timestamps.
inline constexpr std::size_t kMinVoiceSize = 16;
inline constexpr std::size_t kMaxVoiceSize = 1400;

// Parses the arguments (without the program name). Answers the options, or
// nothing with `error` set (empty error: help was asked for).
std::optional<BenchOptions> ParseBenchOptions(const std::vector<std::string>& args,
                                              std::string& error);

std::string BenchUsage();

}  // namespace voxhall::bench

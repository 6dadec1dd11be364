// The clients of voxhall-bench: one UDP socket and one client session per
// client, a few receiving threads that serve all sockets through epoll and
// batch reads with recvmmsg, and a speaking thread that paces the voice
// packets of the speakers. Voice data carries a per-run marker, the send time
// and the speaker's packet number, so that receivers measure the relay
// latency without decoding anything else on their hot path.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_options.h"

namespace voxhall::bench {

struct BenchResult {
  int clients_logged_in = 0;
  int clients_refused = 0;
  std::int32_t first_refusal = 0;
  std::uint64_t sent = 0;
  std::uint64_t send_errors = 0;
  std::uint64_t expected = 0;
  std::uint64_t received = 0;
  std::uint64_t foreign_voice = 0;  // voice without this run's marker
  double speak_seconds = 0;
  double latency_p50_ms = 0;
  double latency_p99_ms = 0;
  double latency_max_ms = 0;
  std::uint64_t socket_drops = 0;  // datagrams the bench's own sockets dropped
  int receive_buffer_bytes = 0;
  // CPU time the receiving threads used: received / this is the rate the
  // bench could take on one core, whatever the machine's load.
  double receiver_cpu_seconds = 0;
  // CPU time of the relay process (--relay-pid) while speaking and draining;
  // negative when not measured.
  double relay_cpu_seconds = -1;
};

class BenchFleet {
 public:
  explicit BenchFleet(BenchOptions options);
  ~BenchFleet();
  BenchFleet(const BenchFleet&) = delete;
  BenchFleet& operator=(const BenchFleet&) = delete;

  // Opens the sockets (connected to the server, or to the local sender of
  // the receiver check) and starts the receiving threads.
  bool Open(std::string& error);
  // Logs every client in; false (with `error`) when not all got in in time.
  bool LogIn(std::string& error);
  // The speakers speak for the configured time; then waits for late packets.
  void Speak();
  // Receiver check: a local thread sends relayed-voice datagrams to every
  // client at the configured rate; then waits for late packets.
  void Blast();
  // Every logged-in client quits; waits briefly for the acknowledgements.
  void Quit();
  // Stops the threads and gathers the figures.
  BenchResult Finish();

 private:
  struct Client;
  struct Receiver;

  void ReceiverLoop(Receiver& receiver);
  void DrainSocket(Client& client, Receiver& receiver);
  void HandleControl(Client& client, const std::uint8_t* data, std::size_t size,
                     std::chrono::steady_clock::time_point now, Receiver& receiver);
  void Maintain(Receiver& receiver);
  // --raw: registers every client at the bare relay.
  bool Register(std::chrono::steady_clock::time_point deadline, std::string& error);
  // Sends what the client's session has due. REQUIRES: client.mutex held.
  static void FlushLocked(Client& client, std::chrono::steady_clock::time_point now);
  // Writes the run's marker, the send time and `number` into voice data.
  void StampVoiceData(std::uint8_t* data, std::uint32_t number) const;

  BenchOptions options_;
  std::uint32_t marker_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<std::unique_ptr<Receiver>> receivers_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> measuring_{false};
  int blaster_fd_ = -1;
  BenchResult result_;
};

}  // namespace voxhall::bench

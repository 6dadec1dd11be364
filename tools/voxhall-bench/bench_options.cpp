#include "bench_options.h"

#include <charconv>
#include <functional>
#include <map>

namespace voxhall::bench {

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

}  // namespace

std::string BenchUsage() {
  return "usage: voxhall-bench --port=PORT [options]\n"
         "Logs N voice clients in to a running server; S of them speak to their\n"
         "channel at a fixed packet rate; reports what the server relayed.\n"
         "\n"
         "  --host=ADDR            server address (IPv4, default 127.0.0.1)\n"
         "  --port=PORT            server UDP port (required)\n"
         "  --clients=N            clients to log in, 1..10000 (default 10)\n"
         "  --speakers=S           clients that speak, S <= N (default 1)\n"
         "  --rate=R               voice packets per second per speaker (default 50)\n"
         "  --size=B               voice data bytes per packet, 16..1400 (default 100)\n"
         "  --duration=SECONDS     how long the speakers speak (default 5)\n"
         "  --channel=NAME         channel to join (default: the server's default)\n"
         "  --sub-channel=NAME     sub-channel of --channel to join\n"
         "  --channel-password=PW  password of that channel\n"
         "  --nickname=PREFIX      nickname prefix; clients are PREFIX1..PREFIXN (default bench)\n"
         "  --password=PW          server password\n"
         "  --receivers=K          receiving threads (default 1)\n"
         "  --drain=MS             wait for late packets after speaking (default 500)\n"
         "  --login-timeout=MS     time allowed for all logins (default 10000)\n"
         "  --relay-pid=PID        report the CPU time process PID (the relay) used\n"
         "                         while the clients spoke and the last datagrams\n"
         "                         drained, from /proc (Linux)\n"
         "  --json                 print one JSON object instead of text\n"
         "  --receiver-check       no server: measure the bench's own receiving\n"
         "                         path: a local thread sends relayed voice to\n"
         "                         --clients sockets at --rate each (uses --size,\n"
         "                         --duration, --receivers)\n"
         "  --raw                  --port is a bare relay (tools/raw_relay), not the\n"
         "                         server: no login; each client registers with one\n"
         "                         datagram, speakers send relayed-voice datagrams\n";
}

std::optional<BenchOptions> ParseBenchOptions(const std::vector<std::string>& args,
                                              std::string& error) {
  BenchOptions o;
  std::int64_t drain_ms = o.drain.count();
  std::int64_t login_ms = o.login_timeout.count();
  const std::map<std::string, std::function<bool(const std::string&)>> valued = {
      {"--host", [&](const std::string& v) { o.host = v; return !v.empty(); }},
      {"--port", [&](const std::string& v) { return ParseNumber(v, o.port); }},
      {"--clients", [&](const std::string& v) { return ParseNumber(v, o.clients); }},
      {"--speakers", [&](const std::string& v) { return ParseNumber(v, o.speakers); }},
      {"--rate", [&](const std::string& v) { return ParseNumber(v, o.rate); }},
      {"--size", [&](const std::string& v) { return ParseNumber(v, o.size); }},
      {"--duration", [&](const std::string& v) { return ParseNumber(v, o.duration); }},
      {"--channel", [&](const std::string& v) { o.channel = v; return true; }},
      {"--sub-channel", [&](const std::string& v) { o.sub_channel = v; return true; }},
      {"--channel-password", [&](const std::string& v) { o.channel_password = v; return true; }},
      {"--nickname", [&](const std::string& v) { o.nickname = v; return true; }},
      {"--password", [&](const std::string& v) { o.server_password = v; return true; }},
      {"--receivers", [&](const std::string& v) { return ParseNumber(v, o.receivers); }},
      {"--drain", [&](const std::string& v) { return ParseNumber(v, drain_ms); }},
      {"--login-timeout", [&](const std::string& v) { return ParseNumber(v, login_ms); }},
      {"--relay-pid", [&](const std::string& v) { return ParseNumber(v, o.relay_pid); }},
  };
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      error.clear();
      return std::nullopt;
    }
    if (arg == "--json") {
      o.json = true;
      continue;
    }
    if (arg == "--raw") {
      o.raw = true;
      continue;
    }
    if (arg == "--receiver-check") {
      o.receiver_check = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const auto it = valued.find(arg.substr(0, eq));
    if (it == valued.end() || eq == std::string::npos) {
      error = "unknown option: " + arg;
      return std::nullopt;
    }
    if (!it->second(arg.substr(eq + 1))) {
      error = "bad value: " + arg;
      return std::nullopt;
    }
  }
  o.drain = std::chrono::milliseconds(drain_ms);
  o.login_timeout = std::chrono::milliseconds(login_ms);

  if (!o.receiver_check && (o.port < 1 || o.port > 65535)) {
    error = "--port=PORT is required (1..65535)";
  } else if (o.clients < 1 || o.clients > 10000) {
    error = "--clients must be 1..10000";
  } else if (o.speakers < 0 || o.speakers > o.clients) {
    error = "--speakers must be 0..clients";
  } else if (!(o.rate > 0 && o.rate <= 1000000)) {
    error = "--rate must be above 0 and at most 1000000";
  } else if (o.size < kMinVoiceSize || o.size > kMaxVoiceSize) {
    error = "--size must be 16..1400";
  } else if (!(o.duration > 0 && o.duration <= 3600)) {
    error = "--duration must be above 0 and at most 3600";
  } else if (o.receivers < 1 || o.receivers > 64) {
    error = "--receivers must be 1..64";
  } else if (o.relay_pid < 0) {
    error = "--relay-pid must be a process id";
  } else if (drain_ms < 0 || login_ms < 1) {
    error = "--drain must be 0 or more, --login-timeout above 0";
  } else {
    return o;
  }
  return std::nullopt;
}

}  // namespace voxhall::bench

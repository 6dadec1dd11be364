#include "bench_report.h"

#include <cstdio>

namespace voxhall::bench {

namespace {

std::string Format(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

double PerSecond(const BenchResult& r) {
  return r.speak_seconds > 0 ? static_cast<double>(r.received) / r.speak_seconds : 0;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (static_cast<unsigned char>(ch) < 0x20) {
      out += Format("\\u%04x", ch);
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

double ReceiveCapacity(const BenchResult& r) {
  return r.receiver_cpu_seconds > 0 ? static_cast<double>(r.received) / r.receiver_cpu_seconds : 0;
}

}  // namespace

std::uint64_t Lost(const BenchResult& r) { return r.expected > r.received ? r.expected - r.received : 0; }

double LossPercent(const BenchResult& r) {
  return r.expected > 0 ? 100.0 * static_cast<double>(Lost(r)) / static_cast<double>(r.expected)
                        : 0;
}

std::string ReportText(const BenchOptions& o, const BenchResult& r) {
  std::string text;
  if (o.receiver_check) {
    text += Format("receiver check: %d sockets, %.0f datagrams/s each, %zu bytes of data, %.1f s\n",
                   o.clients, o.rate, o.size, o.duration);
  } else {
    text += Format("server %s:%d, %d clients, %d speaking, %.0f packets/s each, %zu bytes of "
                   "voice data, %.1f s\n",
                   o.host.c_str(), o.port, r.clients_logged_in, o.speakers, o.rate, o.size,
                   o.duration);
  }
  text += Format("datagrams sent                %llu\n", static_cast<unsigned long long>(r.sent));
  text += Format("expected at receivers         %llu\n",
                 static_cast<unsigned long long>(r.expected));
  text += Format("received                      %llu\n",
                 static_cast<unsigned long long>(r.received));
  text += Format("lost                          %llu (%.3f %%)\n",
                 static_cast<unsigned long long>(Lost(r)), LossPercent(r));
  text += Format("relayed datagrams per second  %.0f\n", PerSecond(r));
  text += Format("relay latency p50 / p99 / max %.3f / %.3f / %.3f ms\n", r.latency_p50_ms,
                 r.latency_p99_ms, r.latency_max_ms);
  text += Format("dropped by the bench's sockets %llu (receive buffer %d bytes)\n",
                 static_cast<unsigned long long>(r.socket_drops), r.receive_buffer_bytes);
  text += Format("receiving threads' CPU time   %.3f s (%.0f datagrams per CPU second)\n",
                 r.receiver_cpu_seconds, ReceiveCapacity(r));
  if (r.relay_cpu_seconds >= 0) {
    text += Format("relay's CPU time              %.3f s (%.2f us per received datagram)\n",
                   r.relay_cpu_seconds,
                   r.received ? r.relay_cpu_seconds * 1e6 / static_cast<double>(r.received) : 0.0);
  }
  if (r.send_errors > 0) {
    text += Format("send errors                   %llu\n",
                   static_cast<unsigned long long>(r.send_errors));
  }
  if (r.foreign_voice > 0) {
    text += Format("voice from other speakers     %llu (not counted)\n",
                   static_cast<unsigned long long>(r.foreign_voice));
  }
  return text;
}

std::string ReportJson(const BenchOptions& o, const BenchResult& r) {
  std::string j = "{";
  j += "\"mode\":" + JsonText(o.receiver_check ? "receiver-check" : o.raw ? "raw" : "server");
  if (!o.receiver_check) j += ",\"host\":" + JsonText(o.host) + Format(",\"port\":%d", o.port);
  j += Format(",\"clients\":%d,\"speakers\":%d,\"rate\":%g,\"size\":%zu,\"duration_s\":%g",
              o.receiver_check ? o.clients : r.clients_logged_in, o.speakers, o.rate, o.size,
              o.duration);
  j += Format(",\"sent\":%llu,\"expected\":%llu,\"received\":%llu,\"lost\":%llu",
              static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.expected),
              static_cast<unsigned long long>(r.received),
              static_cast<unsigned long long>(Lost(r)));
  j += Format(",\"loss_percent\":%.4f,\"relayed_per_second\":%.1f", LossPercent(r), PerSecond(r));
  j += Format(",\"latency_ms\":{\"p50\":%.4f,\"p99\":%.4f,\"max\":%.4f}", r.latency_p50_ms,
              r.latency_p99_ms, r.latency_max_ms);
  j += Format(",\"socket_drops\":%llu,\"send_errors\":%llu,\"foreign_voice\":%llu",
              static_cast<unsigned long long>(r.socket_drops),
              static_cast<unsigned long long>(r.send_errors),
              static_cast<unsigned long long>(r.foreign_voice));
  j += Format(",\"receiver_cpu_seconds\":%.3f,\"received_per_cpu_second\":%.0f",
              r.receiver_cpu_seconds, ReceiveCapacity(r));
  if (r.relay_cpu_seconds >= 0) j += Format(",\"relay_cpu_seconds\":%.3f", r.relay_cpu_seconds);
  j += Format(",\"speak_seconds\":%.3f}\n", r.speak_seconds);
  return j;
}

}  // namespace voxhall::bench

// voxhall-bench: a load generator for a running voice server. Logs N clients
// in, lets S of them speak to their channel at a fixed rate and size for a
// while, and prints what arrived: datagrams sent, expected, received, loss,
// relayed datagrams per second and the relay latency (p50, p99, max), plus
// what the bench's own sockets dropped. --json prints one JSON object.
// --receiver-check measures the bench's receiving path without a server.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_fleet.h"
#include "bench_options.h"
#include "bench_report.h"

using namespace voxhall::bench;

namespace {

// User plus system CPU seconds of a process, from /proc/<pid>/stat; negative
// when it cannot be read.
double ProcessCpuSeconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return -1;
  // The command name in parentheses may hold spaces: count fields after it.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i) {
    if (i >= 12) ticks += std::stod(field);  // utime and stime
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const std::optional<BenchOptions> options =
      ParseBenchOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fputs(error.empty() ? BenchUsage().c_str() : (error + "\n\n" + BenchUsage()).c_str(),
               error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }

  BenchFleet fleet(*options);
  if (!fleet.Open(error)) {
    std::fprintf(stderr, "voxhall-bench: %s\n", error.c_str());
    return 1;
  }
  double relay_cpu = -1;
  if (options->receiver_check) {
    fleet.Blast();
  } else {
    if (!fleet.LogIn(error)) {
      std::fprintf(stderr, "voxhall-bench: %s\n", error.c_str());
      fleet.Quit();
      return 1;
    }
    const double cpu_before = options->relay_pid ? ProcessCpuSeconds(options->relay_pid) : -1;
    fleet.Speak();
    const double cpu_after = options->relay_pid ? ProcessCpuSeconds(options->relay_pid) : -1;
    fleet.Quit();
    if (cpu_before >= 0 && cpu_after >= 0) relay_cpu = cpu_after - cpu_before;
  }
  BenchResult result = fleet.Finish();
  result.relay_cpu_seconds = relay_cpu;
  const std::string report = options->json ? ReportJson(*options, result) : ReportText(*options, result);
  std::fputs(report.c_str(), stdout);
  return 0;
}

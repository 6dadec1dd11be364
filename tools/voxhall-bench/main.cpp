// voxhall-bench: a load generator for a running voice server. Logs N clients
// in, lets S of them speak to their channel at a fixed rate and size for a
// while, and prints what arrived: datagrams sent, expected, received, loss,
// relayed datagrams per second and the relay latency (p50, p99, max), plus
// what the bench's own sockets dropped. --json prints one JSON object.
// --receiver-check measures the bench's receiving path without a server.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_fleet.h"
#include "bench_options.h"
#include "bench_report.h"

using namespace voxhall::bench;

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
  if (options->receiver_check) {
    fleet.Blast();
  } else {
    if (!fleet.LogIn(error)) {
      std::fprintf(stderr, "voxhall-bench: %s\n", error.c_str());
      fleet.Quit();
      return 1;
    }
    fleet.Speak();
    fleet.Quit();
  }
  const BenchResult result = fleet.Finish();
  const std::string report = options->json ? ReportJson(*options, result) : ReportText(*options, result);
  std::fputs(report.c_str(), stdout);
  return 0;
}

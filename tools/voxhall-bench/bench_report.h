// The figures voxhall-bench prints: as aligned text or as one JSON object.
#pragma once

#include <string>

#include "bench_fleet.h"
#include "bench_options.h"

namespace voxhall::bench {

// Lost datagrams and loss in percent of the expected ones.
std::uint64_t Lost(const BenchResult& result);
double LossPercent(const BenchResult& result);

std::string ReportText(const BenchOptions& options, const BenchResult& result);
std::string ReportJson(const BenchOptions& options, const BenchResult& result);

}  // namespace voxhall::bench

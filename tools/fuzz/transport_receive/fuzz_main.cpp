// libFuzzer entry: every input is a scenario of datagrams and worker steps
// run against a fresh packet buffer; a violated check aborts.
#include <cstdio>
#include <cstdlib>

#include "receive_scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = voxhall::transport::fuzz::RunReceiveScenario(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "transport_receive: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}

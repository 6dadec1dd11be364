// Replays the receive fuzzer's corpus: every scenario must run to its end
// with every check holding (and, in the sanitizer build, without a memory
// fault or leak).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "receive_scenario.h"

namespace voxhall::transport {
namespace {

TEST(ReceiveCorpusTest, EveryScenarioHolds) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VOXHALL_RECEIVE_CORPUS_DIR)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    EXPECT_EQ(fuzz::RunReceiveScenario(data.data(), data.size()), "") << entry.path();
    ++files;
  }
  EXPECT_GE(files, 8);
}

}  // namespace
}  // namespace voxhall::transport

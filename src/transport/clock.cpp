#include "transport/clock.h"

namespace voxhall::transport {

const Clock& DefaultClock() {
  static const SteadyClock clock;
  return clock;
}

}  // namespace voxhall::transport

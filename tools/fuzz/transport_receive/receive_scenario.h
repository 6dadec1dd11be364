// A scenario driver for the packet buffer: it decodes arbitrary bytes into a
// sequence of operations (datagrams received, raw or well-formed; time
// passing; the sender and the listener taking their next items; packets
// sent, connections added and removed) on a buffer with a few connections,
// and checks what the buffer hands out after each step. Used by the fuzzer
// and by the unit test that replays its corpus. One thread per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace voxhall::transport::fuzz {

// Runs the scenario encoded in `data`; answers an empty text when every
// check held, or what was violated.
std::string RunReceiveScenario(const std::uint8_t* data, std::size_t size);

}  // namespace voxhall::transport::fuzz

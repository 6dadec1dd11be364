// Readable class names of caught exceptions, for the log lines that name
// the class of an error ("Exception %1 : %2").
#pragma once

#include <exception>
#include <string>

namespace voxhall::common {

// The dynamic class name of `e`, demangled where the compiler allows it
// ("std::runtime_error").
std::string ClassName(const std::exception& e);

}  // namespace voxhall::common

#include "common/class_name.h"

#include <cstdlib>
#include <memory>
#include <typeinfo>

#if defined(__GNUG__)
#include <cxxabi.h>
#endif

namespace voxhall::common {

std::string ClassName(const std::exception& e) {
  const char* mangled = typeid(e).name();
#if defined(__GNUG__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  if (status == 0 && demangled) return demangled.get();
#endif
  return mangled;
}

}  // namespace voxhall::common

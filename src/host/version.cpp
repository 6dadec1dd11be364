#include "host/version.h"

#include "host/descramble.h"

namespace voxhall::host {

namespace {
#ifdef _WIN32
constexpr const char* kStoredPlatform = "0D33346969";  // "Win32"
#else
constexpr const char* kStoredPlatform = "1633342F22";  // "Linux"
#endif
// No public server list exists for this product yet.
constexpr const char* kStoredMasterListUrl = "";
}  // namespace

const std::string& PlatformText() {
  static const std::string text = Descramble(kStoredPlatform, kScrambleKey);
  return text;
}

const std::string& MasterListDefaultURL() {
  static const std::string text = Descramble(kStoredMasterListUrl, kScrambleKey);
  return text;
}

std::string VersionNumber() {
  return std::to_string(VersionMajor) + "." + std::to_string(VersionMinor) + "." +
         std::to_string(VersionRelease) + "." + std::to_string(VersionBuild);
}

std::string VersionLine() { return "Version Voxhall2 v" + VersionNumber() + " " + PlatformText(); }

std::string VersionText() {
  return "v" + std::to_string(VersionMajor) + "." + std::to_string(VersionMinor) + ".r" +
         std::to_string(VersionRelease) + ".b" + std::to_string(VersionBuild) + " " +
         PlatformText();
}

}  // namespace voxhall::host

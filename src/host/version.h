// Version numbers and the texts built from them, shown by the command line,
// the log, the console and the network interfaces.
#pragma once

#include <string>

namespace voxhall::host {

inline constexpr int VersionMajor = 2;
inline constexpr int VersionMinor = 0;
inline constexpr int VersionRelease = 18;
inline constexpr int VersionBuild = 31;

// The platform the binary was built for ("Linux", "Win32"), decoded from its
// stored form on first use.
const std::string& PlatformText();

// The built-in address of the public server list (empty: none exists yet).
const std::string& MasterListDefaultURL();

// "2.0.18.31"
std::string VersionNumber();
// "Version Voxhall2 v2.0.18.31 Linux"
std::string VersionLine();
// "v2.0.r18.b31 Linux"
std::string VersionText();

}  // namespace voxhall::host

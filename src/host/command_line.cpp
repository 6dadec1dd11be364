#include "host/command_line.h"

#include <array>

#include "common/text.h"
#include "host/version.h"

namespace voxhall::host {

namespace {

constexpr std::array kVersionSwitches = {"-VER", "--VER", "-VERSION", "--VERSION"};
constexpr std::array kHelpSwitches = {"-?", "-H", "-HELP", "--HELP", "/HELP", "/?", "/H"};

template <std::size_t N>
bool IsOneOf(const std::string& upper, const std::array<const char*, N>& words) {
  for (const char* w : words) {
    if (upper == w) return true;
  }
  return false;
}

}  // namespace

std::string HelpText() {
  return VersionLine() +
         "\n"
         "Command parameters:\n"
         " -db=<path>\n"
         " -ini=<path>\n"
         " -log=<path>\n"
         " -pid=<path>\n"
         " -httpdocs=<path>\n"
         " -adminpw=<newpw>\n"
         "\n";
}

CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments,
                                   Settings& settings) {
  struct ValueOption {
    const char* prefix;
    std::string Settings::*field;
    bool trimmed;
  };
  static const ValueOption kOptions[] = {
      {"-INI=", &Settings::ConfigPath, false},
      {"-DB=", &Settings::DatabasePath, false},
      {"-LOG=", &Settings::LogPath, false},
      {"-PID=", &Settings::PidPath, false},
      {"-ADMINPW=", &Settings::AdminPasswordOverride, true},
      {"-HTTPDOCS=", &Settings::HttpDocsPath, true},
  };

  for (const std::string& argument : arguments) {
    const std::string upper = common::UpperCase(argument);
    if (IsOneOf(upper, kVersionSwitches)) {
      return {CommandLineAction::PrintVersion, VersionLine() + "\n"};
    }
    if (IsOneOf(upper, kHelpSwitches)) {
      return {CommandLineAction::PrintHelp, HelpText()};
    }
    for (const ValueOption& option : kOptions) {
      const std::string_view prefix(option.prefix);
      if (upper.starts_with(prefix)) {
        const std::string value = argument.substr(prefix.size());
        settings.*option.field = option.trimmed ? common::Trim(value) : value;
        break;
      }
    }
  }
  return {};
}

}  // namespace voxhall::host

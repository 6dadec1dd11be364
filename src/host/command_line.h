// The command line: file locations, the administrator password override and
// the version and help switches. An argument is a switch only when it equals
// one of the switch words, and a value option only when it begins with the
// option text, so paths and passwords that merely contain "-h" or "-db=" are
// taken as they are.
#pragma once

#include <string>
#include <vector>

#include "host/settings.h"

namespace voxhall::host {

enum class CommandLineAction { Run, PrintVersion, PrintHelp };

struct CommandLineResult {
  CommandLineAction action = CommandLineAction::Run;
  // What the process prints before it ends (version line or help text).
  std::string output;
};

// Reads `arguments` (without the program name) in order into `settings`.
// The version and help switches stop the reading; the caller prints `output`
// and ends the process with exit code 0.
CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments, Settings& settings);

// The help text: the version line, the option lines and one empty line.
std::string HelpText();

}  // namespace voxhall::host

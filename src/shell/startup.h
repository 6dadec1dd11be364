// The start-up and shut-down sequence of the whole process: the one place
// that knows every subsystem and brings them up and down in a fixed order.
// Both functions run in the main thread.
#pragma once

#include <string>
#include <vector>

namespace voxhall::shell {

enum class StartResult {
  Started,       // everything is up; run until asked to stop
  Failed,        // a fatal error, already logged
  PrintAndExit,  // the command line asked for the version or help text
};

struct StartOutcome {
  StartResult result = StartResult::Failed;
  std::string output;  // the text to print for PrintAndExit
  std::string error = {};  // for Failed: the reason, in words for the user
};

// Brings the system up. `arguments` are the command-line arguments without
// the program name.
StartOutcome StartVoxhallServer(const std::vector<std::string>& arguments);

// Stops and frees everything StartVoxhallServer created, the log last.
// `final_pause_ms` is the pause before the closing log lines.
void ShutdownServer(int final_pause_ms = 5000);

}  // namespace voxhall::shell

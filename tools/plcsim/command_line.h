// The `plcsim` program as a function, so that other programs (the
// command-line host's `sim`) run the same simulator with the same options.
#pragma once

#include <ostream>
#include <string>

namespace plcsim {

// Runs until SIGINT, SIGTERM or the end of --duration; returns the exit
// status: 0, 1 when a station cannot start, 2 for bad arguments.
// `argv[0]` is not looked at; `programName` is shown in the usage text.
int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err, const char* programName = "plcsim");

std::string UsageText(const char* programName);

}  // namespace plcsim

// The subcommands of the command-line host. Each reads its own words (the
// command line after the subcommand's name), prints its help for --help, and
// returns the exit status (exit_codes.h). A bad command line throws
// UsageError, which main reports with a pointer to the help.
#pragma once

#include <string>
#include <vector>

namespace toldex::cli {

using Words = std::vector<std::string>;

int RunInfo(const Words& words);
int RunParse(const Words& words);
int RunCheckConfig(const Words& words);
int RunPoll(const Words& words);
int RunWrite(const Words& words);
int RunBrowse(const Words& words);
#if defined(TOLDEX_HAVE_PLCSIM)
int RunSim(const Words& words);
int RunDemo(const Words& words);
#endif

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const Words& words);
};

// Every subcommand this build offers, in the order of the help text.
const std::vector<Command>& Commands();

}  // namespace toldex::cli

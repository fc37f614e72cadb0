#include "commands.h"

namespace toldex::cli {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
#if defined(TOLDEX_HAVE_PLCSIM)
      {"demo", "run simulated PLCs and show the driver polling them, with a failover", RunDemo},
#endif
      {"poll", "read gates once or repeatedly (table, CSV or JSON lines)", RunPoll},
      {"write", "write a gate and read it back", RunWrite},
      {"parse", "show how gate addresses parse, or why they are refused", RunParse},
      {"check-config", "read an initialisation file and show what the driver makes of it", RunCheckConfig},
      {"info", "load the driver library and show its information", RunInfo},
      {"browse", "build a gate address in the driver's address dialog", RunBrowse},
#if defined(TOLDEX_HAVE_PLCSIM)
      {"sim", "run simulated PLCs on loopback until stopped", RunSim},
#endif
  };
  return commands;
}

}  // namespace toldex::cli

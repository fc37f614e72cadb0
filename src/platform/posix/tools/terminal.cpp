#include "platform/terminal.h"

#include <unistd.h>

namespace toldex::platform {

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace toldex::platform

#include "platform/terminal.h"

#include <windows.h>

namespace toldex::platform {

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace toldex::platform

// Whether the program's standard output is a terminal, so that a program can
// redraw a screen in place there and print plain successive text elsewhere.
#pragma once

namespace toldex::platform {

bool StandardOutputIsTerminal();

}  // namespace toldex::platform

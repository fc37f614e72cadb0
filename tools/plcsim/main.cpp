// plcsim: simulated Modbus TCP PLC stations on loopback, see --help.
#include <iostream>

#include "plcsim/command_line.h"

int main(int argc, char** argv) { return plcsim::RunCommandLine(argc, argv, std::cout, std::cerr); }

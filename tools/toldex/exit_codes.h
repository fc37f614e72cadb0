// The command-line host's exit status. 0, 1 and 2 follow the driver's own
// status codes, so a script sees at once whether the PLC refused a request or
// could not be reached.
#pragma once

namespace toldex::cli {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;       // the driver refused a request (address, type, write, exception reply)
constexpr int kExitCommFailure = 2;   // a station could not be reached or did not answer
constexpr int kExitUsage = 64;        // bad command line
constexpr int kExitUnavailable = 69;  // the driver library or the simulator could not be started

// The exit status for the worst of several driver statuses: any communication
// failure wins over a refusal.
inline int WorseExit(int current, int driverStatus) {
  const int exit = driverStatus == 0 ? kExitOk : driverStatus == 2 ? kExitCommFailure : kExitRefused;
  if (current == kExitCommFailure || exit == kExitCommFailure) return kExitCommFailure;
  return current > exit ? current : exit;
}

}  // namespace toldex::cli

// One way to write a log line, used everywhere: straight through the host
// library's err(), which formats the line (and may drop it unformatted when
// its level is filtered out).
#pragma once

#include "platform/host_library.h"

namespace toldex {

constexpr int kLogDetail = 8;
constexpr int kLogEvent = 32;

// Never called: it only lets the compiler check the format against its values.
[[gnu::format(printf, 2, 3)]] inline void CheckLogFormat(int, const char*, ...) {}

}  // namespace toldex

#define LOG(level, ...)                                        \
  do {                                                         \
    if (false) ::toldex::CheckLogFormat(level, __VA_ARGS__);   \
    ::toldex::platform::Host().err(level, __VA_ARGS__);        \
  } while (0)

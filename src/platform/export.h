// How the driver's one entry point is exported: the Windows API calling
// convention on Windows (the callee removes its argument), C linkage and
// default visibility everywhere.
#pragma once

#if defined(_WIN32)
#define TOLDEX_ENTRY_CALL __stdcall
#define TOLDEX_ENTRY_VISIBLE
#else
#define TOLDEX_ENTRY_CALL
#define TOLDEX_ENTRY_VISIBLE __attribute__((visibility("default")))
#endif

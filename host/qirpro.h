/* The stand-in for the host's library: the seven functions a driver calls,
 * and a small control API of its own for tests and the command-line host.
 *
 * Built as QIRPRO.dll on Windows (plain export names) and libqirpro.so on
 * Linux from the same source. Every function is safe to call from any thread.
 */
#ifndef TOLDEX_HOST_QIRPRO_H
#define TOLDEX_HOST_QIRPRO_H

#include <stdint.h>

#if defined(_WIN32)
#define QIRAPI __stdcall
#if defined(QIRPRO_BUILDING)
/* qirpro.def names the exports, without the argument sizes of __stdcall. */
#define QIREXPORT
#else
#define QIREXPORT __declspec(dllimport)
#endif
#else
#define QIRAPI
#define QIREXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What QirWaitMsg stores when a gate changes (24 bytes). */
typedef struct QirMessage {
  uint16_t kind; /* 1: a gate's value changed */
  uint16_t reserved2;
  int32_t gateId;
  int32_t reserved8;
  int32_t reserved12;
  double value;
} QirMessage;

#define QIR_WAIT_MESSAGE 0x8000u
#define QIR_WAIT_SHUTDOWN 0u
#define QIR_WAIT_NOTHING 1u

/* --- The host library's functions ----------------------------------------- */

/* A log line, printf-style, with its level (8 detail, 32 events and errors). */
QIREXPORT int err(int level, const char* format, ...);
/* Registers a client; 0 and its id (1..255) in *clientId, else an error code. */
QIREXPORT uint16_t QIRAPI QirMkClient(const char* name, int32_t one, int32_t zero,
                                      uint8_t* clientId);
/* The library's version number (see QirCtlSetVersion) and a text. */
QIREXPORT uint16_t QIRAPI QirGetQirproVer(uint8_t clientId, uint16_t* version, char* text100);
QIREXPORT uint16_t QIRAPI QirRmClient(uint8_t clientId);
/* 0 and the gate's id when a gate of that driver number has that address text
 * (compared without regard to case). */
QIREXPORT uint16_t QIRAPI QirGetGateIdByAddressStr(uint8_t clientId, uint8_t driverNumber,
                                                   const char* address, int32_t* gateId);
/* Subscribes the client to the changes of `count` gates. */
QIREXPORT uint16_t QIRAPI QirRqGateMsg(uint8_t clientId, int32_t one, int32_t* gateIds,
                                       int32_t count);
/* Waits up to `wait` milliseconds for the client's next message:
 * QIR_WAIT_MESSAGE (stored), QIR_WAIT_SHUTDOWN (the library shuts down; from
 * then on every wait returns it at once), QIR_WAIT_NOTHING. */
QIREXPORT uint16_t QIRAPI QirWaitMsg(uint8_t clientId, QirMessage* message, int32_t wait);

/* --- Control API of the stand-in ------------------------------------------ */

typedef void (*QirLogCallback)(void* context, int level, const char* line);

/* Log lines whose level is below the threshold are dropped before they are
 * formatted. Default 0 (everything). */
QIREXPORT void QirCtlSetLogLevel(int minimumLevel);
/* Where log lines go: nowhere (the default), stderr, a file (appended), or a
 * callback that receives the formatted line without level or time stamp.
 * Written lines look like "2026-12-11 10:22:59.123 [32] TOLDEX: ...". */
QIREXPORT void QirCtlLogToNowhere(void);
QIREXPORT void QirCtlLogToStderr(void);
QIREXPORT int QirCtlLogToFile(const char* path); /* 0, or -1 when it cannot be opened */
QIREXPORT void QirCtlLogToCallback(QirLogCallback callback, void* context);
/* Defines a gate for a driver number; returns its id (1, 2, ...), the existing
 * id when the address is already defined. */
QIREXPORT int32_t QirCtlDefineGate(uint8_t driverNumber, const char* address);
/* The gate's value changes: every client subscribed to it gets a message. */
QIREXPORT int QirCtlPostGateValue(int32_t gateId, double value);
/* Queues a message of any kind to every registered client. */
QIREXPORT int QirCtlPostMessage(uint16_t kind, int32_t gateId, double value);
/* The library shuts down: waits return QIR_WAIT_SHUTDOWN. */
QIREXPORT void QirCtlShutdown(void);
/* Back to the state at load: no clients, gates, messages or shut-down;
 * log routing and level are kept. */
QIREXPORT void QirCtlReset(void);
/* The version QirGetQirproVer reports (default 820). */
QIREXPORT void QirCtlSetVersion(uint16_t version);
/* Makes the named function ("QirMkClient", "QirRmClient",
 * "QirGetGateIdByAddressStr", "QirRqGateMsg") return `result` from now on;
 * 0 restores normal behaviour. */
QIREXPORT void QirCtlSetFailure(const char* function, uint16_t result);
/* Registered clients, and the subscriptions of one client. */
QIREXPORT int QirCtlClientCount(void);
QIREXPORT int QirCtlSubscriptionCount(uint8_t clientId);

#ifdef __cplusplus
}
#endif

#endif

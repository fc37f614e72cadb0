// The Modbus TCP exchange: framing, sending, receiving, validating, retrying,
// and the stations' counters.
#pragma once

#include <cstdint>

#include "driver/instance.h"

namespace toldex {

constexpr int kMbapHeaderSize = 6;
constexpr int kMaxRequestSize = 255;   // unit id and PDU
constexpr int kMaxFrameSize = 261;
constexpr int kReplyCapacity = 261;
constexpr int kExceptionReplySize = 9;
constexpr int kWriteReplySize = 12;
constexpr int kAttemptsPerPass = 4;

enum class Flavour { kRead, kWrite };

struct ExchangeResult {
  int32_t status;      // 0, 1 or 2
  bool aborted;        // read flavour: the station's socket vanished during the pass
  int receivedLength;
  uint8_t reply[kReplyCapacity];
};

// Frames `*length` request bytes (unit id, function code, data) with the next
// transaction identifier. 0, or 1 (nothing written) for 256 bytes or more.
int BuildTcpFrame(const uint8_t* request, int* length, uint8_t* frame);
int SendStr(platform::SocketHandle socket, int length, const uint8_t* bytes, int* socketError);
int RecvStr(platform::SocketHandle socket, int expectedLength, int capacity, uint8_t* buffer,
            int* socketError);
int ExpectedReplyLength(const uint8_t* frame, Flavour flavour);
// The text of a Modbus exception code; `scratch` holds "%02Xh" for codes without one.
const char* ExceptionText(uint8_t code, char (&scratch)[8]);
// One pass of up to four attempts on the station, under the station's lock.
void VpiTcpSendRcv(InstanceRecord& instance, int station, const uint8_t* frame, int frameLength,
                   Flavour flavour, const char* tagText, int blockSize, ExchangeResult& result);
// The closing bookkeeping of an operation on the station.
void FinishExchange(InstanceRecord& instance, int station, Flavour flavour, int32_t status,
                    const uint8_t* lastReply, const char* tagText, int blockSize);

}  // namespace toldex

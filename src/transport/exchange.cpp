// The Modbus TCP exchange.
//
// One pass of a station runs under the station's lock, so two host threads on
// one station never interleave their requests and replies, while different
// stations run in parallel. Before each send, bytes that already wait on the
// socket (a reply that came after its time-out, surplus bytes of a long reply)
// are dropped: they can only belong to an earlier request.
#include "transport/exchange.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "driver/log.h"
#include "driver/shared_field.h"
#include "platform/lock.h"
#include "platform/socket.h"

namespace toldex {
namespace {

// Byte positions in a frame (request or reply).
constexpr int kTransactionIdLow = 1;
constexpr int kLengthLow = 5;
constexpr int kUnitId = 6;
constexpr int kFunctionCode = 7;
constexpr int kExceptionCode = 8;
constexpr int kQuantityHigh = 10;
constexpr int kQuantityLow = 11;

constexpr uint8_t kExceptionBit = 0x80;
constexpr uint8_t kReadCoils = 1;
constexpr uint8_t kReadDiscreteInputs = 2;
constexpr int kBitsPerByte = 8;
constexpr int kBytesPerRegister = 2;
constexpr int kFirstRetry = 1;
constexpr int kBlocksizeMask = 0xFFFF;  // log lines show the low 16 bits of a block size

// Shared by every instance and thread of the process; wraps from 255 to 0.
constinit std::atomic<uint8_t> g_nextTransactionId{0};

bool IsResetError(int socketError) {
  return socketError == platform::kSockErrConnectionAborted ||
         socketError == platform::kSockErrConnectionReset;
}

// The log lines of one pass; the two flavours word them differently.
void LogRetry(Flavour flavour, const char* tagText, int blocksize, int attempt) {
  if (flavour == Flavour::kRead) {
    LOG(kLogDetail, "TOLDEX: DoBlockRead() reading tag '%s' Blocksize %d retry %d", tagText,
        blocksize, attempt);
  } else {
    LOG(kLogDetail, "TOLDEX: DoWrite() writing tag '%s' Blocksize %d retry %d", tagText, blocksize,
        attempt);
  }
}

void LogReceiveFailed(Flavour flavour) {
  if (flavour == Flavour::kRead) {
    LOG(kLogDetail, "TOLDEX: DoBlockRead() failed on RecvStr() Socket Error");
  } else {
    LOG(kLogDetail, "TOLDEX: DoBlockWrite() failed on RecvStr() Socket Error");
  }
}

void LogTransactionMismatch(Flavour flavour, int queryId, int replyId) {
  if (flavour == Flavour::kRead) {
    LOG(kLogDetail,
        "TOLDEX: VpiTcpSendRcv() answer is not related to the query : Query iId= %d, reponse = %d",
        queryId, replyId);
  } else {
    LOG(kLogDetail,
        "TOLDEX: DoWrite() anwser is not related to the query. iId query = %d, iId response = %d",
        queryId, replyId);
  }
}

void LogEchoMismatch(Flavour flavour) {
  if (flavour == Flavour::kRead) {
    LOG(kLogDetail, "TOLDEX: DoBlockRead() Request /Reply mismatch");
  } else {
    LOG(kLogDetail, "TOLDEX: DoWrite() Request /Reply mismatch");
  }
}

void LogResetOnSend(Flavour flavour, const StationRecord& station, int socketError,
                    const char* tagText, int blocksize) {
  if (flavour == Flavour::kRead) {
    LOG(kLogEvent,
        "TOLDEX: DoBlockRead() Connection reset on send() IP: '%s' Sock errcode: %d Tag '%s' "
        "Blocksize %d",
        station.ip, socketError, tagText, blocksize);
  } else {
    LOG(kLogEvent, "TOLDEX: DoBlockWrite() Connection has been reset, tag concerned '%s' Blocksize %d",
        tagText, blocksize);
  }
}

void LogResetOnReceive(Flavour flavour, const StationRecord& station, int socketError,
                       const char* tagText, int blocksize) {
  if (flavour == Flavour::kRead) {
    LOG(kLogEvent,
        "TOLDEX: DoBlockRead() Connection reset on recv(). IP: '%s' Sock errcode: %d Tag '%s' "
        "Blocksize %d",
        station.ip, socketError, tagText, blocksize);
  } else {
    LOG(kLogEvent, "TOLDEX: DoBlockWrite() Connection has been reset, tag concerned '%s' Blocksize %d",
        tagText, blocksize);
  }
}

}  // namespace

int BuildTcpFrame(const uint8_t* request, int* length, uint8_t* frame) {
  const int n = *length;
  if (n < 0 || n > kMaxRequestSize) return 1;
  frame[0] = 0;
  frame[kTransactionIdLow] = g_nextTransactionId.fetch_add(1, std::memory_order_relaxed);
  frame[2] = 0;
  frame[3] = 0;
  frame[4] = 0;
  frame[kLengthLow] = static_cast<uint8_t>(n);
  std::memcpy(frame + kUnitId, request, static_cast<size_t>(n));
  *length = n + kMbapHeaderSize;
  return 0;
}

int SendStr(platform::SocketHandle socket, int length, const uint8_t* bytes, int* socketError) {
  const int stale = platform::SocketDiscardPending(socket);
  if (stale > 0) LOG(kLogDetail, "TOLDEX: SendStr() discarded %d stale bytes", stale);

  platform::SocketClearLastError();
  int sent = 0;
  while (sent < length) {
    const int count = platform::SocketSend(socket, bytes + sent, length - sent);
    if (count < 0) {
      sent = -1;
      break;
    }
    sent += count;
  }
  *socketError = 0;
  if (sent < 0) {
    *socketError = platform::SocketLastError();
    LOG(kLogDetail, "TOLDEX: SendStr() failed. Sock errorcode = %d", *socketError);
  }
  return sent;
}

int RecvStr(platform::SocketHandle socket, int expectedLength, int capacity, uint8_t* buffer,
            int* socketError) {
  platform::SocketClearLastError();
  // The first receive's size bounds every later one, so the buffer is never
  // written beyond it.
  const int wanted = (expectedLength != 0 && expectedLength < capacity) ? expectedLength : capacity;
  int total = 0;
  for (;;) {
    const int count = platform::SocketReceive(socket, buffer + total, wanted - total);
    if (count <= 0) {  // an error, or 0: the peer closed the connection
      total = -1;
      break;
    }
    total += count;
    if (expectedLength == 0 || total >= wanted) break;
    if (total == kExceptionReplySize && (buffer[kFunctionCode] & kExceptionBit) != 0) break;
  }
  *socketError = 0;
  if (total < 0) {
    *socketError = platform::SocketLastError();
    LOG(kLogDetail, "TOLDEX: RecvStr() failed. Sock errorcode = %d", *socketError);
  }
  return total;
}

int ExpectedReplyLength(const uint8_t* frame, Flavour flavour) {
  if (flavour == Flavour::kWrite) return kWriteReplySize;
  const int quantity = (frame[kQuantityHigh] << kBitsPerByte) | frame[kQuantityLow];
  const uint8_t function = frame[kFunctionCode];
  const int dataBytes = (function == kReadCoils || function == kReadDiscreteInputs)
                            ? (quantity + kBitsPerByte - 1) / kBitsPerByte
                            : kBytesPerRegister * quantity;
  return kExceptionReplySize + dataBytes;
}

const char* ExceptionText(uint8_t code, char (&scratch)[8]) {
  switch (code) {
    case 1: return "Illegal Function Code";
    case 2: return "Illegal Data Address";
    case 3: return "Illegal Data Value";
    case 4: return "Server Failure";
    case 5: return "Acknowledge";
    case 6: return "Server Busy";
    case 10:
    case 11: return "Gateway Problem";
    default:
      std::snprintf(scratch, sizeof scratch, "%02Xh", code);
      return scratch;
  }
}

void VpiTcpSendRcv(InstanceRecord& instance, int station, const uint8_t* frame, int frameLength,
                   Flavour flavour, const char* tagText, int blockSize, ExchangeResult& result) {
  StationRecord& record = instance.stations[station];
  const int blocksize = blockSize & kBlocksizeMask;
  const bool checkTransaction = LoadShared(instance.receivedFramesChecking) == 1;

  result.status = kStatusCommFailure;
  result.aborted = false;
  result.receivedLength = 0;

  platform::LockGuard guard(instance.stationLocks[station]);
  for (int attempt = 0; attempt < kAttemptsPerPass; ++attempt) {
    if (attempt >= kFirstRetry) {
      LogRetry(flavour, tagText, blocksize, attempt);
      // A write counts every retry as one more failure.
      if (flavour == Flavour::kWrite) CountUp(record.numFails);
    }
    CountUp(record.numComms);

    int socketError = 0;
    if (SendStr(LoadShared(record.socket), frameLength, frame, &socketError) < 0) {
      result.status = kStatusCommFailure;
      if (flavour == Flavour::kRead) {
        LOG(kLogDetail, "TOLDEX: DoBlockRead() failed on SendStr() Socket Error");
      }
      if (IsResetError(socketError)) {
        LogResetOnSend(flavour, record, socketError, tagText, blocksize);
      }
      CountUp(record.numFails);
      continue;
    }

    std::memset(result.reply, 0, sizeof result.reply);
    result.receivedLength = 0;
    const int expected = ExpectedReplyLength(frame, flavour);
    if (flavour == Flavour::kRead && LoadShared(record.socket) == platform::kNoSocket) {
      LOG(kLogEvent, "TOLDEX : DoBlockRead() Invalid Socket ");
      result.status = kStatusCommFailure;
      result.aborted = true;
      return;
    }

    const int received =
        RecvStr(LoadShared(record.socket), expected, kReplyCapacity, result.reply, &socketError);
    if (received < 0) {
      result.status = kStatusCommFailure;
      LogReceiveFailed(flavour);
      if (IsResetError(socketError)) {
        LogResetOnReceive(flavour, record, socketError, tagText, blocksize);
      }
      CountUp(record.numFails);
      continue;
    }
    result.receivedLength = received;

    if (checkTransaction && result.reply[kTransactionIdLow] != frame[kTransactionIdLow]) {
      LogTransactionMismatch(flavour, frame[kTransactionIdLow], result.reply[kTransactionIdLow]);
      result.status = kStatusCommFailure;
      CountUp(record.numFails);
      continue;
    }
    if (received == kExceptionReplySize) {
      result.status = kStatusRequestFailed;
      if (flavour == Flavour::kRead) LOG(kLogDetail, "TOLDEX: DoBlockRead() error response");
      return;
    }
    if (result.reply[kUnitId] == frame[kUnitId] &&
        result.reply[kFunctionCode] == frame[kFunctionCode]) {
      result.status = kStatusOk;
      return;
    }
    LogEchoMismatch(flavour);
    result.status = kStatusRequestFailed;
    CountUp(record.numFails);
  }
}

void FinishExchange(InstanceRecord& instance, int station, Flavour flavour, int32_t status,
                    const uint8_t* lastReply, const char* tagText, int blockSize) {
  StationRecord& record = instance.stations[station];
  const int blocksize = blockSize & kBlocksizeMask;
  if (status == kStatusCommFailure) {
    if (flavour == Flavour::kRead) {
      LOG(kLogDetail, "TOLDEX: DoBlockRead() reading tag '%s' Blocksize %d failed rc = %d", tagText,
          blocksize, status);
    } else {
      LOG(kLogDetail, "TOLDEX: DoWrite() Comms fail writing to tag '%s'", tagText);
    }
    CountUp(record.commFails);
  } else if (status == kStatusRequestFailed) {
    CountUp(record.errors);
    if (lastReply != nullptr && (lastReply[kFunctionCode] & kExceptionBit) != 0) {
      const uint8_t code = lastReply[kExceptionCode];
      char scratch[8];
      const char* text = ExceptionText(code, scratch);
      if (flavour == Flavour::kRead) {
        LOG(kLogDetail, "TOLDEX: DoBlockRead() failed. Tag '%s' Blocksize %d Errcode %02Xh - %s",
            tagText, blocksize, code, text);
      } else {
        LOG(kLogDetail,
            "TOLDEX: DoWrite() writing tag '%s' Blocksize %d failed. Errorcode: %02Xh - %s",
            tagText, blocksize, code, text);
      }
    }
  } else {
    CountUp(record.numSuccess);
  }
  if (status == kStatusCommFailure && LoadShared(record.online) == 1) {
    StoreShared(record.online, 0);
  }
}

}  // namespace toldex

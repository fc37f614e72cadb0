// The Modbus requests of the read and write paths (unit identifier followed by
// the PDU, before framing), and the arithmetic of their addresses, quantities
// and sizes. Every builder writes into the caller's buffer and returns the
// request's length; nothing here keeps state.
#pragma once

#include <cstdint>

#include "driver/instance.h"

namespace toldex {

constexpr int kReadRequestSize = 6;
constexpr int kWriteSingleRequestSize = 6;
constexpr int kWriteLongRequestSize = 11;
constexpr int kBlockWriteHeaderSize = 7;
constexpr int kMaxReadDataBytes = 250;   // reply data of one read
constexpr int kMaxWriteDataBytes = 246;  // value bytes of one block write
constexpr int kMaxWriteRequestSize = kBlockWriteHeaderSize + kMaxWriteDataBytes;

constexpr uint8_t kFcWriteSingleCoil = 0x05;
constexpr uint8_t kFcWriteSingleRegister = 0x06;
constexpr uint8_t kFcWriteMultipleCoils = 0x0F;
constexpr uint8_t kFcWriteMultipleRegisters = 0x10;

// The first register or bit on the wire. A registerAddress of 100000 + k with
// parity checking off marks a 32-bit item on the odd register 2k + 1; other
// 32-bit items count in register pairs unless LONGADDR is set.
uint16_t StartAddress(int32_t registerAddress, int32_t bitWidth, uint16_t options,
                      int32_t parityAddrChecking);
// Elements to read, two registers each for the 32-bit memory types.
uint16_t ReadQuantity(int32_t memoryType, int32_t elementCount);
// Data bytes of the reply to a read of `quantity` with that function code.
int ReadReplyDataBytes(uint8_t functionCode, int64_t quantity);
// The station's force_address when it has one, else the station number; low 8 bits.
uint8_t UnitIdentifier(const StationRecord& station, int stationNumber);

int PutReadRequest(uint8_t unit, uint8_t functionCode, uint16_t start, uint16_t quantity,
                   uint8_t* request);
int PutWriteSingleCoil(uint8_t unit, uint16_t start, bool on, uint8_t* request);
int PutWriteSingleRegister(uint8_t unit, uint16_t start, uint16_t value, uint8_t* request);
int PutWriteLong(uint8_t unit, uint16_t start, uint32_t value, bool wordSwapped, uint8_t* request);

// Value bytes of a block write: packed bits, two per register or four per
// 32-bit element; -1 for any other width or a count below 1.
int64_t BlockWriteDataBytes(int32_t bitWidth, int64_t elementCount);
// The block request from the host's values (little-endian elements); the
// caller has checked the width and that the data fit kMaxWriteDataBytes.
int PutBlockWrite(uint8_t unit, uint16_t start, int32_t bitWidth, int32_t elementCount,
                  const uint8_t* hostValues, bool wordSwapped, uint8_t* request);

}  // namespace toldex

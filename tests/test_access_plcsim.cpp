// Reads and writes of every memory type end to end: the driver started with
// ColdStart from an initialisation file, gates parsed by the address
// operations, PLCs simulated by plcsim (libmodbus's server). What the driver
// writes is read back through the driver and through libmodbus's own client.
#include <gtest/gtest.h>

#if TOLDEX_HAVE_PLCSIM

#include <modbus.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "access/value_codec.h"
#include "addressing/gate_address.h"
#include "driver/instance.h"
#include "driver/shared_field.h"
#include "plcsim/simulator.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"
#include "transport/connection.h"

namespace toldex {
namespace {

using plcsim::Area;
using testing::InstanceBlock;
using testing::LogCapture;
using testing::TempWorkDir;

constexpr int32_t kShortTimeoutMs = 150;

// A libmodbus client of one simulated station.
class Client {
 public:
  explicit Client(const plcsim::Station& station)
      : context_(modbus_new_tcp(station.Address().c_str(), station.Port())) {
    modbus_set_response_timeout(context_, 2, 0);
    connected_ = modbus_connect(context_) == 0;
  }
  ~Client() {
    modbus_close(context_);
    modbus_free(context_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return connected_; }
  uint16_t Register(int address) {
    uint16_t value = 0;
    EXPECT_EQ(modbus_read_registers(context_, address, 1, &value), 1) << modbus_strerror(errno);
    return value;
  }
  std::vector<uint16_t> Registers(int address, int count) {
    std::vector<uint16_t> values(static_cast<size_t>(count));
    EXPECT_EQ(modbus_read_registers(context_, address, count, values.data()), count) << modbus_strerror(errno);
    return values;
  }
  bool Coil(int address) {
    uint8_t value = 0;
    EXPECT_EQ(modbus_read_bits(context_, address, 1, &value), 1) << modbus_strerror(errno);
    return value != 0;
  }
  std::vector<uint8_t> Coils(int address, int count) {
    std::vector<uint8_t> values(static_cast<size_t>(count));
    EXPECT_EQ(modbus_read_bits(context_, address, count, values.data()), count) << modbus_strerror(errno);
    return values;
  }
  void SetRegister(int address, uint16_t value) {
    EXPECT_EQ(modbus_write_register(context_, address, value), 1) << modbus_strerror(errno);
  }

 private:
  modbus_t* context_;
  bool connected_ = false;
};

// Station n on 127.0.0.n, on a port of its choice.
plcsim::StationConfig StationAt(int number) {
  plcsim::StationConfig config;
  config.number = number;
  config.address = "127.0.0." + std::to_string(number);
  return config;
}

class AccessOnPlcsim : public ::testing::Test {
 protected:
  // PLC 1 on 127.0.0.1 with its backup PLC 2 on 127.0.0.2, PLC 3 on 127.0.0.3.
  void Start(const std::string& options = "") {
    master_ = &simulator_.AddStation(StationAt(1));
    backup_ = &simulator_.AddStation(StationAt(2));
    other_ = &simulator_.AddStation(StationAt(3));
    std::string error;
    ASSERT_TRUE(simulator_.StartAll(&error)) << error;
    dir_.WriteFile("TOLDEX01.INT", "BUS=M,D\n" + options + "1 127.0.0.1 " + std::to_string(master_->Port()) +
                                       "\n2 127.0.0.2 " + std::to_string(backup_->Port()) + "\n3 127.0.0.3 " +
                                       std::to_string(other_->Port()) + "\nBACKUP_1 = 2\n");
    ColdStartParams params{};
    params.startMode = 1;
    params.timeoutCs = 100;
    ASSERT_EQ(block_.Call(kOpColdStart, &params), 0);
    ASSERT_EQ(record().backups[1].backupPlc, 2);
  }

  void TearDown() override {
    if (record().started != 0) block_.Call(kOpEndVpi, nullptr);
    for (StationRecord& station : record().stations) {
      if (station.socket != platform::kNoSocket) CloseSocketEx(&station.socket);
    }
  }

  InstanceRecord& record() { return block_.record(); }

  // The parsed address of a gate, as the host keeps it.
  GateIo Parse(const char* gas, int32_t gateType, void* value, int32_t blockLength = 0) {
    GateAddress address{};
    address.address = gas;
    address.gateType = gateType;
    address.blockLength = blockLength;
    address.plcNumber = 0;
    const int32_t op = blockLength > 0 ? kOpBlockAddressParser : kOpSingleAddressParser;
    EXPECT_EQ(block_.Call(op, &address), 0) << gas;
    GateIo gate{};
    gate.address = gas;
    gate.plcNumber = address.plcNumber;
    gate.memoryType = address.memoryType;
    gate.registerAddress = address.registerAddress;
    gate.bitNumber = address.bitNumber;
    gate.bitWidth = address.bitWidth;
    gate.elementCount = blockLength > 0 ? blockLength : 1;
    gate.gateId = 1;
    gate.value = value;
    return gate;
  }

  int32_t Read(const char* gas, int32_t gateType, void* value) {
    GateIo gate = Parse(gas, gateType, value);
    return block_.Call(kOpSingleRead, &gate);
  }
  int32_t Write(const char* gas, int32_t gateType, void* value) {
    GateIo gate = Parse(gas, gateType, value);
    return block_.Call(kOpSingleWrite, &gate);
  }
  uint16_t Read16(const char* gas, int32_t gateType) {
    uint8_t slot[4] = {};
    EXPECT_EQ(Read(gas, gateType, slot), 0) << gas;
    return LoadSlot16(slot);
  }
  uint32_t Read32(const char* gas, int32_t gateType) {
    uint8_t slot[4] = {};
    EXPECT_EQ(Read(gas, gateType, slot), 0) << gas;
    return LoadSlot32(slot);
  }
  void Write16(const char* gas, int32_t gateType, uint16_t value) {
    uint8_t slot[4] = {0x5A, 0x5A, 0, 0};
    StoreSlot16(slot, value);
    EXPECT_EQ(Write(gas, gateType, slot), 0) << gas;
  }
  void Write32(const char* gas, int32_t gateType, uint32_t value) {
    uint8_t slot[4];
    StoreSlot32(slot, value);
    EXPECT_EQ(Write(gas, gateType, slot), 0) << gas;
  }

  TempWorkDir dir_;
  plcsim::Simulator simulator_;
  plcsim::Station* master_ = nullptr;
  plcsim::Station* backup_ = nullptr;
  plcsim::Station* other_ = nullptr;
  InstanceBlock block_;
};

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

TEST_F(AccessOnPlcsim, ReadsEveryMemoryTypeFromTheStartPattern) {
  Start();
  other_->SetRegister(Area::kHoldingRegisters, 40, 0xABCD);
  EXPECT_EQ(Read16("0300002", kGateTypeDigital), 1);  // coil 1 is odd
  EXPECT_EQ(Read16("0300003", kGateTypeDigital), 0);
  EXPECT_EQ(Read16("0310004", kGateTypeDigital), 1);  // input 3, a multiple of three
  EXPECT_EQ(Read16("0310005", kGateTypeDigital), 0);
  EXPECT_EQ(Read16("0330006", kGateTypeUnsigned16), 0x4005);
  EXPECT_EQ(Read16("03300061", kGateTypeDigital), 0);  // bit 1 of 0x4005
  EXPECT_EQ(Read16("03300062", kGateTypeDigital), 1);  // bit 2
  EXPECT_EQ(Read16("0340010", kGateTypeUnsigned16), 9);
  EXPECT_EQ(Read16("03400103", kGateTypeDigital), 1);  // bit 3 of 9
  EXPECT_EQ(Read16("03400102", kGateTypeDigital), 0);
  EXPECT_EQ(Read16("03L0041", kGateTypeUnsigned16), 0xCD);
  EXPECT_EQ(Read16("03H0041", kGateTypeUnsigned16), 0xAB);
  EXPECT_EQ(Read16("03H00413", kGateTypeDigital), 1);  // bit 11 of 0xABCD
  EXPECT_EQ(Read16("03H00412", kGateTypeDigital), 0);  // bit 10
  EXPECT_EQ(Read32("0351001", kGateTypeFloat), Bits(-1000.5f));
  EXPECT_EQ(Read32("0362001", kGateTypeInteger32), 1002000u);
  EXPECT_EQ(Read32("0371501", kGateTypeFloat), Bits(1500.5f));
  EXPECT_EQ(Read32("0382999", kGateTypeInteger32), static_cast<uint32_t>(-2998));
  EXPECT_EQ(Read16("0349001", kGateTypeUnsigned16), 3);  // the station's own number
}

TEST_F(AccessOnPlcsim, WritesEveryWritableTypeAndReadsItBack) {
  Start();
  Client client(*other_);
  ASSERT_TRUE(client.connected());

  Write16("0300011", kGateTypeDigital, 1);  // coil 10 was 0
  EXPECT_TRUE(client.Coil(10));
  EXPECT_EQ(Read16("0300011", kGateTypeDigital), 1);
  Write16("0300012", kGateTypeDigital, 0);  // coil 11 was 1
  EXPECT_FALSE(client.Coil(11));

  Write16("0340100", kGateTypeUnsigned16, 0x1200);
  EXPECT_EQ(client.Register(99), 0x1200);
  EXPECT_EQ(Read16("0340100", kGateTypeUnsigned16), 0x1200);

  Write16("03401005", kGateTypeDigital, 1);
  EXPECT_EQ(client.Register(99), 0x1220);
  Write16("03401004", kGateTypeDigital, 1);
  Write16("03401009", kGateTypeDigital, 0);
  EXPECT_EQ(client.Register(99), 0x1030);
  EXPECT_EQ(Read16("03401009", kGateTypeDigital), 0);
  EXPECT_EQ(Read16("03401005", kGateTypeDigital), 1);

  client.SetRegister(100, 0xABCD);
  Write16("03L0101", kGateTypeUnsigned16, 0x55);
  EXPECT_EQ(client.Register(100), 0xAB55);
  Write16("03H0101", kGateTypeUnsigned16, 0x66);
  EXPECT_EQ(client.Register(100), 0x6655);
  Write16("03H01013", kGateTypeDigital, 1);  // bit 11
  EXPECT_EQ(client.Register(100), 0x6E55);
  Write16("03L01017", kGateTypeDigital, 1);  // bit 7
  EXPECT_EQ(client.Register(100), 0x6ED5);
  EXPECT_EQ(Read16("03H0101", kGateTypeUnsigned16), 0x6E);
  EXPECT_EQ(Read16("03L0101", kGateTypeUnsigned16), 0xD5);

  Write32("0370201", kGateTypeFloat, Bits(-2.25f));
  EXPECT_EQ(modbus_get_float_abcd(client.Registers(200, 2).data()), -2.25f);
  EXPECT_EQ(Read32("0370201", kGateTypeFloat), Bits(-2.25f));
  Write32("0380203", kGateTypeInteger32, 0x12345678);
  EXPECT_EQ(client.Registers(202, 2), (std::vector<uint16_t>{0x1234, 0x5678}));
  EXPECT_EQ(Read32("0380203", kGateTypeInteger32), 0x12345678u);

  // Nothing of PLC 1's pair was touched.
  EXPECT_EQ(master_->GetRegister(Area::kHoldingRegisters, 99), 99);
  EXPECT_EQ(backup_->GetRegister(Area::kHoldingRegisters, 99), 99);
}

TEST_F(AccessOnPlcsim, WordSwapOptionsOnTheWire) {
  Start("SWAP = YES\nFLOATSWAP = YES\n");
  Client client(*other_);
  ASSERT_TRUE(client.connected());
  Write32("0380203", kGateTypeInteger32, 0x12345678);
  EXPECT_EQ(client.Registers(202, 2), (std::vector<uint16_t>{0x5678, 0x1234}));
  EXPECT_EQ(Read32("0380203", kGateTypeInteger32), 0x12345678u);
  Write32("0370201", kGateTypeFloat, Bits(1.0f));
  EXPECT_EQ(client.Registers(200, 2), (std::vector<uint16_t>{0x0000, 0x3F80}));
  EXPECT_EQ(modbus_get_float_cdab(client.Registers(200, 2).data()), 1.0f);
  EXPECT_EQ(Read32("0370201", kGateTypeFloat), Bits(1.0f));
  // The start pattern read with the words exchanged.
  EXPECT_EQ(Read32("0371501", kGateTypeFloat), (Bits(1500.5f) >> 16) | (Bits(1500.5f) << 16));
}

TEST_F(AccessOnPlcsim, BlocksAtTheirLimits) {
  Start();
  Client client(*other_);
  ASSERT_TRUE(client.connected());

  std::vector<uint8_t> words(246);
  for (int i = 0; i < 123; ++i) {
    words[2 * i] = static_cast<uint8_t>(i);
    words[2 * i + 1] = static_cast<uint8_t>(0x80 + i);
  }
  GateIo registers = Parse("0340501", kGateTypeUnsigned16, words.data(), 123);
  ASSERT_EQ(block_.Call(kOpBlockWrite, &registers), 0);
  const auto written = client.Registers(500, 123);
  for (int i = 0; i < 123; ++i) ASSERT_EQ(written[i], (0x80 + i) << 8 | i) << i;
  GateIo tooMany = Parse("0340501", kGateTypeUnsigned16, words.data(), 123);
  tooMany.elementCount = 124;
  EXPECT_EQ(block_.Call(kOpBlockWrite, &tooMany), 1);

  std::vector<uint8_t> back(250, 0xEE);
  GateIo read = Parse("0340500", kGateTypeUnsigned16, back.data(), 125);
  ASSERT_EQ(block_.Call(kOpBlockRead, &read), 0);
  EXPECT_EQ(back[0] | back[1] << 8, 499);  // register 499 of the start pattern
  for (int i = 0; i < 123; ++i) ASSERT_EQ(back[2 + 2 * i] | back[3 + 2 * i] << 8, (0x80 + i) << 8 | i) << i;
  EXPECT_EQ(back[248] | back[249] << 8, 623);

  std::vector<uint8_t> coils(246);
  for (int i = 0; i < 246; ++i) coils[i] = static_cast<uint8_t>(i * 37);
  GateIo coilBlock = Parse("0301001", kGateTypeDigital, coils.data(), 1968);
  ASSERT_EQ(block_.Call(kOpBlockWrite, &coilBlock), 0);
  const auto states = client.Coils(1000, 1968);
  for (int i = 0; i < 1968; ++i) ASSERT_EQ(states[i], (coils[i / 8] >> (i % 8)) & 1) << i;
  std::vector<uint8_t> coilsBack(250, 0);
  GateIo coilRead = Parse("0301001", kGateTypeDigital, coilsBack.data(), 2000);
  ASSERT_EQ(block_.Call(kOpBlockRead, &coilRead), 0);
  EXPECT_EQ(std::vector<uint8_t>(coilsBack.begin(), coilsBack.begin() + 246), coils);

  std::vector<uint8_t> longs(244);
  for (int k = 0; k < 61; ++k) StoreSlot32(longs.data() + 4 * k, 0x01000000u * k + 0x10000u * k + k);
  GateIo longBlock = Parse("0383001", kGateTypeInteger32, longs.data(), 61);
  ASSERT_EQ(block_.Call(kOpBlockWrite, &longBlock), 0);
  const auto pairs = client.Registers(3000, 122);
  for (int k = 0; k < 61; ++k) {
    ASSERT_EQ(static_cast<uint32_t>(pairs[2 * k]) << 16 | pairs[2 * k + 1], 0x01000000u * k + 0x10000u * k + k) << k;
  }
  std::vector<uint8_t> longsBack(248, 0);
  GateIo longRead = Parse("0383001", kGateTypeInteger32, longsBack.data(), 62);
  ASSERT_EQ(block_.Call(kOpBlockRead, &longRead), 0);
  EXPECT_EQ(std::vector<uint8_t>(longsBack.begin(), longsBack.begin() + 244), longs);
}

TEST_F(AccessOnPlcsim, TheBackupServesWhileTheMasterIsStopped) {
  Start();
  EXPECT_EQ(Read16("0149001", kGateTypeUnsigned16), 1);
  master_->Stop();
  EXPECT_EQ(Read16("0149001", kGateTypeUnsigned16), 2);  // the read fails over
  EXPECT_EQ(LoadSwitchValue(record(), 1), 1.0);
  Write16("0140100", kGateTypeUnsigned16, 0x4321);
  EXPECT_EQ(backup_->GetRegister(Area::kHoldingRegisters, 99), 0x4321);
  uint8_t slot[4] = {};
  EXPECT_EQ(Read("0140100_SCRUT", kGateTypeUnsigned16, slot), 2);  // the master itself is down
  EXPECT_EQ(record().stations[1].online, 0);
}

TEST_F(AccessOnPlcsim, TheBackupServesWhileTheMasterIsSilent) {
  Start();
  // Four receive time-outs per pass: shorten them and reconnect the master with them.
  ChangeParams change{};
  change.newTimeoutMs = kShortTimeoutMs;
  EXPECT_EQ(block_.Call(kOpChangeVpiParams, &change), 2);
  ASSERT_EQ(VpiTcpSocketManagement(record(), 1), 0);
  master_->SetSilent(true);
  LogCapture log;
  EXPECT_EQ(Read16("0149001", kGateTypeUnsigned16), 2);
  EXPECT_EQ(record().stations[1].numComms, 4u);
  EXPECT_EQ(record().stations[1].numFails, 4u);
  EXPECT_EQ(LoadSwitchValue(record(), 1), 1.0);
  EXPECT_EQ(LoadShared(record().switchPending), 0);
  EXPECT_EQ(log.Count("TOLDEX: MasterBackupManagement(), Switch from Master to Backup Plc", 32), 1) << log.Dump();
  EXPECT_EQ(log.Count("TOLDEX: MasterBackupManagement(), Station qui va se connecter : 2", 32), 1);
}

TEST_F(AccessOnPlcsim, ThreadsWritingBitsOfOneRegisterLoseNoChange) {
  Start();
  other_->SetRegister(Area::kHoldingRegisters, 49, 0);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t, &failures] {
      for (int bit = t; bit < 16; bit += 4) {
        for (uint16_t value : {uint16_t{1}, uint16_t{0}, uint16_t{1}}) {
          char gas[16];
          std::snprintf(gas, sizeof gas, "0340050%X", bit);
          uint8_t slot[4] = {};
          StoreSlot16(slot, value);
          GateIo gate = Parse(gas, kGateTypeDigital, slot);
          if (block_.Call(kOpSingleWrite, &gate) != 0) ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  EXPECT_EQ(other_->GetRegister(Area::kHoldingRegisters, 49), 0xFFFF);
  Client client(*other_);
  EXPECT_EQ(client.Register(49), 0xFFFF);
}

}  // namespace
}  // namespace toldex

#endif  // TOLDEX_HAVE_PLCSIM

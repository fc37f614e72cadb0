// The initialisation-file reader: file names, key lines, station and backup
// lines, every message with its level, the summary, and lines that are long,
// binary or unterminated.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "config/init_file.h"
#include "driver/instance.h"
#include "driver/text_scan.h"
#include "support/doc_examples.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"

namespace toldex {
namespace {

using testing::CellLines;
using testing::CellNumber;
using testing::InstanceBlock;
using testing::LogCapture;
using testing::LogLine;
using testing::TempWorkDir;
using testing::Unquoted;

constexpr int kDetail = 8;
constexpr int kEvent = 32;

const char* const kDefaultSummary[] = {
    "TOLDEX: Protocol = Modbus",
    "TOLDEX: Base = Decimal",
    "TOLDEX: Word swap of int 32bit gates = NO",
    "TOLDEX: Word swap of float gates = NO",
    "TOLDEX: Long word addres mapping = NO",
    "TOLDEX: Analog 32 bits tags parity address checking = YES",
    "TOLDEX: Received Frames Checking = YES",
};

// A whole file, the level-32 lines it gives in order, and a check of the record.
struct LineCase {
  std::string content;
  std::vector<std::string> events;
  std::function<void(const InstanceRecord&)> check;
};

class InitFile : public ::testing::Test {
 protected:
  void RunLineCases(const std::vector<LineCase>& cases) {
    for (const LineCase& c : cases) {
      SCOPED_TRACE("file: '" + c.content + "'");
      Read(c.content);
      EXPECT_EQ(Events(), c.events);
      if (c.check) c.check(record());
    }
  }
  // Writes `content` as TOLDEX01.INT and reads it as a full ColdStart would:
  // Modbus preset, then the reader.
  void Read(const std::string& content, const char* fileName = "TOLDEX01.INT") {
    dir_.WriteFile(fileName, content);
    ReadAgain();
  }
  void ReadAgain() {
    log_.Clear();
    record().protocol = 'M';
    EXPECT_EQ(ReadInitFile(record(), block_.driverNumber()), 0);
  }
  InstanceRecord& record() { return block_.record(); }
  // The level-32 lines: every message of the reader but the file name and the
  // summary, which are level 8.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    for (const LogLine& line : log_.Lines()) {
      if (line.level == kEvent) events.push_back(line.text);
    }
    return events;
  }
  std::vector<std::string> DetailLines() const {
    std::vector<std::string> lines;
    for (const LogLine& line : log_.Lines()) {
      if (line.level == kDetail) lines.push_back(line.text);
      EXPECT_TRUE(line.level == kDetail || line.level == kEvent) << line.text;
    }
    return lines;
  }

  TempWorkDir dir_;
  InstanceBlock block_;
  LogCapture log_;
};

// ---------------------------------------------------------------------------
// File names, reset and summary

TEST_F(InitFile, NoFileLeavesDefaultsWithOneMessageAndTheSummary) {
  record().stations[4].port = 999;
  record().backups[3].backupPlc = 9;
  ReadAgain();
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 8u) << log_.Dump();
  EXPECT_EQ(lines[0].level, kEvent);
  EXPECT_EQ(lines[0].text, "TOLDEX: ColdStart() no initfile found, defaults used");
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(lines[i + 1].level, kDetail);
    EXPECT_EQ(lines[i + 1].text, kDefaultSummary[i]);
  }
  EXPECT_EQ(record().base, 'D');
  EXPECT_EQ(record().protocol, 'M');
  EXPECT_EQ(record().options, 0);
  EXPECT_EQ(record().parityAddrChecking, 1);
  EXPECT_EQ(record().receivedFramesChecking, 1);
  for (const StationRecord& station : record().stations) {
    EXPECT_EQ(station.ip[0], '\0');
    EXPECT_EQ(station.port, 0);
    EXPECT_EQ(station.force_address, 0);
    EXPECT_EQ(station.socket, -1);
    EXPECT_EQ(station.numComms, 0u);
  }
  for (const BackupEntry& entry : record().backups) {
    EXPECT_EQ(entry.backupPlc, 0);
    EXPECT_EQ(entry.switchGateId, 0);
    EXPECT_EQ(entry.switchValue, 0.0);
  }
}

TEST_F(InitFile, NamesAreTriedInOrderTwoDigitsOneDigitBare) {
  struct Case {
    std::vector<std::string> files;
    int32_t driverNumber;
    std::string expectedName;
  };
  const Case cases[] = {
      {{"TOLDEX01.INT", "TOLDEX1.INT", "TOLDEX.INT"}, 1, "TOLDEX01.INT"},
      {{"TOLDEX1.INT", "TOLDEX.INT"}, 1, "TOLDEX1.INT"},
      {{"TOLDEX.INT"}, 1, "TOLDEX.INT"},
      {{"TOLDEX12.INT", "TOLDEX.INT"}, 12, "TOLDEX12.INT"},
      {{"TOLDEX02.INT", "TOLDEX.INT"}, 1, "TOLDEX.INT"},  // another driver's file
  };
  for (const Case& c : cases) {
    TempWorkDir dir;
    for (const std::string& name : c.files) dir.WriteFile(name, "SWAP = YES\n");
    dir.WriteFile(c.expectedName, "1 127.0.0.1\n");
    LogCapture log;
    InstanceBlock block(c.driverNumber);
    block.record().protocol = 'M';
    ReadInitFile(block.record(), c.driverNumber);
    EXPECT_TRUE(log.Has("TOLDEX: ColdStart() reading initfile '" + c.expectedName + "'", kDetail))
        << log.Dump();
    EXPECT_STREQ(block.record().stations[1].ip, "127.0.0.1") << c.expectedName;
    EXPECT_EQ(block.record().options, 0) << c.expectedName;
  }
}

TEST_F(InitFile, SummaryFollowsTheSettings) {
  Read(
      "BUS=J,H\nSWAP=YES\nFLOATSWAP=YES\nLONGADDR=YES\nPARITY_ADDR_CHECKING=NO\n"
      "RECEIVED_FRAMES_CHECKING=NO\n");
  const std::vector<std::string> expected = {
      "TOLDEX: ColdStart() reading initfile 'TOLDEX01.INT'",
      "TOLDEX: Protocol = J-Bus",
      "TOLDEX: Base = Hexadecimal",
      "TOLDEX: Word swap of int 32bit gates = YES",
      "TOLDEX: Word swap of float gates = YES",
      "TOLDEX: Long word addres mapping = YES",
      "TOLDEX: Analog 32 bits tags parity address checking = NO",
      "TOLDEX: Received Frames Checking = NO",
  };
  EXPECT_EQ(DetailLines(), expected);
  EXPECT_TRUE(Events().empty()) << log_.Dump();
  EXPECT_EQ(record().options, kOptionSwap | kOptionFloatSwap | kOptionLongAddr);

  Read("BUS=M,L\n");
  EXPECT_EQ(DetailLines()[2], "TOLDEX: Base = Long Decimal");
}

TEST_F(InitFile, NoBaseLineForAnUnknownBaseLetter) {
  // Only a caller that changes the base between reads can get here; the
  // summary then says nothing about the base.
  Read("");
  record().base = 'Q';
  log_.Clear();
  ASSERT_EQ(ReadInitFile(record(), 1), 0);  // resets to 'D' first
  EXPECT_EQ(DetailLines()[2], "TOLDEX: Base = Decimal");
}

TEST_F(InitFile, EveryReadStartsFromTheReset) {
  Read("BUS=J,H\nSWAP=YES\n1 127.0.0.1\nBACKUP_1 = 2\n");
  ASSERT_EQ(record().backups[1].backupPlc, 2);
  record().stations[1].numComms = 17;
  dir_.WriteFile("TOLDEX01.INT", "2 127.0.0.2\n");
  ReadInitFile(record(), 1);
  EXPECT_EQ(record().protocol, 'J');  // the reader leaves the protocol alone
  EXPECT_EQ(record().base, 'D');
  EXPECT_EQ(record().options, 0);
  EXPECT_EQ(record().stations[1].ip[0], '\0');
  EXPECT_EQ(record().stations[1].numComms, 0u);
  EXPECT_EQ(record().backups[1].backupPlc, 0);
  EXPECT_STREQ(record().stations[2].ip, "127.0.0.2");
}

// ---------------------------------------------------------------------------
// Key lines

const std::vector<std::string> kBusMessages = {
    "TOLDEX: Illegal format of Int File! - ",
    "TOLDEX: Default values used: Protocol=Modbus Base=Decimal"};

std::vector<std::string> YesNoMessages(const std::string& second) {
  return {"TOLDEX: Illegal format of Int File:", second};
}

const std::string kSwapCheck = "TOLDEX: Check for SWAP = in your int file. Assuming NO swap";
const std::string kFloatSwapCheck =
    "TOLDEX: Check for FLOATSWAP = in your int file. Assuming NO swap";
const std::string kLongAddrCheck =
    "TOLDEX: Check for LONGADDR = in your int file. Assuming NO switching";
const std::string kParityCheck =
    "TOLDEX: Check for PARITY_ADDR_CHECKING = in your int file. Assuming Parity Checking enabled";
const std::string kFramesCheck =
    "TOLDEX: Check for RECEIVED_FRAMES_CHECKING = in your int file. Assuming Received Frames "
    "Checking enabled";

auto Options(uint16_t expected) {
  return [expected](const InstanceRecord& r) { EXPECT_EQ(r.options, expected); };
}
auto Bus(char protocol, char base) {
  return [protocol, base](const InstanceRecord& r) {
    EXPECT_EQ(r.protocol, protocol);
    EXPECT_EQ(r.base, base);
  };
}
auto Checks(int32_t parity, int32_t frames) {
  return [parity, frames](const InstanceRecord& r) {
    EXPECT_EQ(r.parityAddrChecking, parity);
    EXPECT_EQ(r.receivedFramesChecking, frames);
  };
}

TEST_F(InitFile, BusLines) {
  const std::vector<LineCase> cases = {
      {"BUS=J,H\n", {}, Bus('J', 'H')},
      {"bus=j,l\n", {}, Bus('J', 'L')},
      {"  BUS=M , D\n", {}, Bus('M', 'D')},
      {"BUS=J,\tH", {}, Bus('J', 'H')},    // no line end at the end of the file
      {"BUS = J,H\n", {}, Bus('M', 'D')},  // a blank before "=": not a BUS line
      {"BUS= J,H\n", {}, Bus('M', 'D')},   // the blank is the protocol letter, no comma follows
      {"BUS= ,H\n", kBusMessages, Bus('M', 'D')},  // the blank is the protocol letter
      {"BUS=X,D\n", kBusMessages, Bus('M', 'D')},
      {"BUS=J,H\nBUS=X,D\n", kBusMessages, Bus('J', 'H')},  // a bad line changes nothing
      {"BUS=J,X\n", kBusMessages, Bus('M', 'D')},
      {"BUS=J;H\n", {}, Bus('M', 'D')},  // no comma: not a BUS line
      {"BUS=J,\n", {}, Bus('M', 'D')},   // one character only
      {"BUS=J,H\nBUS=M,L\n", {}, Bus('M', 'L')},
  };
  RunLineCases(cases);
}

TEST_F(InitFile, YesNoLines) {
  const std::vector<LineCase> cases = {
      {"swap = yes\n", {}, Options(kOptionSwap)},
      {"SWAP=YES\n", {}, Options(kOptionSwap)},
      {"\t SWAP\t=\tYES\n", {}, Options(kOptionSwap)},
      {"SWAP = YES\nSWAP = NO\n", {}, Options(0)},
      {"SWAP = YES\nSWAP = NOPE\n", {}, Options(0)},
      {"SWAP = YES\nSWAP = NONE\n", {}, Options(0)},
      {"SWAP = YESTERDAY\n", {}, Options(kOptionSwap)},
      {"SWAP = YES\nSWAP=YE", YesNoMessages(kSwapCheck), Options(0)},  // no line end
      {"SWAP = YES\nSWAP = YE\n", YesNoMessages(kSwapCheck), Options(0)},
      {"SWAP = YES\nSWAP = ON\n", YesNoMessages(kSwapCheck), Options(0)},
      {"SWAP = NO", {}, Options(0)},
      {"SWAP = YES\nSWAP = N", {}, Options(kOptionSwap)},  // one character: not a SWAP line
      {"SWAP = Y E S\n", YesNoMessages(kSwapCheck), Options(0)},
      {"SWAPS = YES\n", {}, Options(0)},
      {"FLOATSWAP = YES\n", {}, Options(kOptionFloatSwap)},
      {"FLOATSWAP = MAYBE\n", YesNoMessages(kFloatSwapCheck), Options(0)},
      {"LONGADDR = YES\nSWAP = YES\n", {}, Options(kOptionLongAddr | kOptionSwap)},
      {"LONGADDR = YES\nLONGADDR = 1\n", YesNoMessages(kLongAddrCheck), Options(0)},
      {"PARITY_ADDR_CHECKING = NO\n", {}, Checks(0, 1)},
      {"PARITY_ADDR_CHECKING = NO\nPARITY_ADDR_CHECKING = OFF\n", YesNoMessages(kParityCheck),
       Checks(1, 1)},
      {"RECEIVED_FRAMES_CHECKING = NO\n", {}, Checks(1, 0)},
      {"RECEIVED_FRAMES_CHECKING = NO\nRECEIVED_FRAMES_CHECKING = 0\n", YesNoMessages(kFramesCheck),
       Checks(1, 1)},
      {"RECEIVED_FRAMES_CHECKING = YES\n", {}, Checks(1, 1)},
  };
  RunLineCases(cases);
}

TEST_F(InitFile, LinesOfNoFormAreSkippedWithoutAMessage) {
  Read("; TOLDEX configuration\n\n   \n[STATIONS]\n# three PLCs\nPROTOCOL = J\n=\n,,\n");
  EXPECT_TRUE(Events().empty()) << log_.Dump();
  EXPECT_EQ(record().protocol, 'M');
  for (const StationRecord& station : record().stations) EXPECT_EQ(station.ip[0], '\0');
}

// ---------------------------------------------------------------------------
// Station lines

struct StationCase {
  std::string line;
  int station;
  std::string ip;
  int port;
  int forceAddress;
  std::string event;
};

TEST_F(InitFile, StationLinesStoreAddressPortAndUnit) {
  const StationCase cases[] = {
      {"1 127.0.0.10", 1, "127.0.0.10", 502, -1, "\tStation: 1   IP: 127.0.0.10 ,port = 502"},
      {"1 127.0.0.10 503", 1, "127.0.0.10", 503, -1, "\tStation: 1   IP: 127.0.0.10 ,port = 503"},
      {"1 127.0.0.10,503", 1, "127.0.0.10", 503, -1, "\tStation: 1   IP: 127.0.0.10 ,port = 503"},
      {"1 127.0.0.10 503,7", 1, "127.0.0.10", 503, 7,
       "\tStation: 1   IP: 127.0.0.10 ,port = 503, force_address = 7"},
      {"1 127.0.0.10, 503, 7", 1, "127.0.0.10", 503, 7,
       "\tStation: 1   IP: 127.0.0.10 ,port = 503, force_address = 7"},
      {"1 127.0.0.10 ,7", 1, "127.0.0.10", 502, 7,
       "\tStation: 1   IP: 127.0.0.10 ,port = 502, force_address = 7"},
      {"1 127.0.0.10 503 7", 1, "127.0.0.10", 503, -1, "\tStation: 1   IP: 127.0.0.10 ,port = 503"},
      {"7 127 . 0 . 0 . 1", 7, "127.0.0.1", 502, -1, "\tStation: 7   IP: 127.0.0.1 ,port = 502"},
      {"0 127.0.0.1", 0, "127.0.0.1", 502, -1, "\tStation: 0   IP: 127.0.0.1 ,port = 502"},
      {"255 127.0.0.1", 255, "127.0.0.1", 502, -1, "\tStation: 255   IP: 127.0.0.1 ,port = 502"},
      {"  12\t127.0.0.12", 12, "127.0.0.12", 502, -1, "\tStation: 12   IP: 127.0.0.12 ,port = 502"},
      {"+3 127.0.0.3", 3, "127.0.0.3", 502, -1, "\tStation: 3   IP: 127.0.0.3 ,port = 502"},
      {"3 127.0.0.3 ", 3, "127.0.0.3", 502, -1, "\tStation: 3   IP: 127.0.0.3 ,port = 502"},
      {"3 127.0.0.3 65535", 3, "127.0.0.3", 65535, -1,
       "\tStation: 3   IP: 127.0.0.3 ,port = 65535"},
      {"3 127.0.0.3 65538", 3, "127.0.0.3", 2, -1, "\tStation: 3   IP: 127.0.0.3 ,port = 2"},
      {"3 127.0.0.3 -5", 3, "127.0.0.3", 5, -1, "\tStation: 3   IP: 127.0.0.3 ,port = 5"},
      {"3 127.0.0.3 X", 3, "127.0.0.3", 502, -1, "\tStation: 3   IP: 127.0.0.3 ,port = 502"},
      {"3 127.0.0.3 , ", 3, "127.0.0.3", 502, -1, "\tStation: 3   IP: 127.0.0.3 ,port = 502"},
      {"3 127.0.0.3 503,", 3, "127.0.0.3", 503, -1, "\tStation: 3   IP: 127.0.0.3 ,port = 503"},
      {"3 127.0.0.3 503,70000", 3, "127.0.0.3", 503, 4464,
       "\tStation: 3   IP: 127.0.0.3 ,port = 503, force_address = 4464"},
      {"3 127.0.0.3 503,40000", 3, "127.0.0.3", 503, -25536,
       "\tStation: 3   IP: 127.0.0.3 ,port = 503, force_address = -25536"},
      // The station number may be followed by anything before the address.
      {"4 PLC 127.0.0.4", 4, "127.0.0.4", 502, -1, "\tStation: 4   IP: 127.0.0.4 ,port = 502"},
      // No range check of the address parts; the text is re-printed.
      {"5 127.000.0.0999", 5, "127.0.0.999", 502, -1, "\tStation: 5   IP: 127.0.0.999 ,port = 502"},
      // A tab is no separator: only a blank or a comma is.
      {"6 127.0.0.6\t503", 6, "127.0.0.6", 502, -1, "\tStation: 6   IP: 127.0.0.6 ,port = 502"},
  };
  for (const StationCase& c : cases) {
    for (const char* end : {"\n", ""}) {
      SCOPED_TRACE("line '" + c.line + "' end '" + end + "'");
      Read(c.line + end);
      EXPECT_EQ(Events(), std::vector<std::string>{c.event});
      const StationRecord& station = record().stations[c.station];
      EXPECT_STREQ(station.ip, c.ip.c_str());
      EXPECT_EQ(station.port, c.port);
      EXPECT_EQ(station.force_address, c.forceAddress);
      EXPECT_EQ(station.socket, -1);
      int configured = 0;
      for (const StationRecord& s : record().stations) configured += s.ip[0] != '\0';
      EXPECT_EQ(configured, 1);
    }
  }
}

TEST_F(InitFile, RejectedStationLinesNameTheirLineNumber) {
  struct Case {
    std::string line;
    std::string event;  // for the line as line 3 of the file
  };
  const Case cases[] = {
      {"256 127.0.0.1", "TOLDEX: InitFile: station number too big, line: 3"},
      {"99999999999 127.0.0.1", "TOLDEX: InitFile: station number too big, line: 3"},
      {"4294967297 127.0.0.1", "TOLDEX: InitFile: station number too big, line: 3"},
      {"-1 127.0.0.1", "TOLDEX: InitFile illegal line, line: 3"},
      {"-256 127.0.0.1", "TOLDEX: InitFile illegal line, line: 3"},
      {"3 PLC3", "TOLDEX: InitFile illegal line, line: 3"},
      {"3", "TOLDEX: InitFile illegal line, line: 3"},
      {"3 127.0.0", "TOLDEX: InitFile illegal line, line: 3"},
      {"3 127,0,0,1", "TOLDEX: InitFile illegal line, line: 3"},
  };
  for (const Case& c : cases) {
    for (const char* end : {"\n", ""}) {
      SCOPED_TRACE("line '" + c.line + "'");
      Read("; first\n2 127.0.0.2\n" + c.line + end);
      EXPECT_EQ(Events(),
                (std::vector<std::string>{"\tStation: 2   IP: 127.0.0.2 ,port = 502", c.event}));
      int configured = 0;
      for (const StationRecord& s : record().stations) configured += s.ip[0] != '\0';
      EXPECT_EQ(configured, 1);
    }
  }
}

TEST_F(InitFile, StationLineThroughTheRequest) {
  DriverRequest request{};
  request.instance = &record();
  Read("");
  log_.Clear();
  EXPECT_EQ(StationLine(&request, "9 127.0.0.9 1502,3\n", 17), 0);
  EXPECT_STREQ(record().stations[9].ip, "127.0.0.9");
  EXPECT_EQ(record().stations[9].port, 1502);
  EXPECT_EQ(record().stations[9].force_address, 3);
  EXPECT_EQ(StationLine(&request, "300 127.0.0.9\n", 17), 1);
  EXPECT_EQ(StationLine(&request, "SWAP = YES\n", 18), 1);
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "\tStation: 9   IP: 127.0.0.9 ,port = 1502, force_address = 3",
                          "TOLDEX: InitFile: station number too big, line: 17"}));
}

TEST(StationScanners, StopAtTheEndOfTheText) {
  const char text[] = "AB12 x";
  EXPECT_EQ(SkipToDigit(text), text + 2);
  EXPECT_EQ(SkipDigits(text + 2), text + 4);
  EXPECT_EQ(SkipToDigit(text + 4), text + 6);  // no digit left: the end
  EXPECT_EQ(SkipDigits(text + 6), text + 6);
  const char empty[] = "";
  EXPECT_EQ(SkipToDigit(empty), empty);
}

// ---------------------------------------------------------------------------
// Backup lines

TEST_F(InitFile, BackupLines) {
  const std::string bar = "TOLDEX: ============================";
  const std::vector<LineCase> cases = {
      {"BACKUP_3 = 5\n",
       {bar, "TOLDEX:  PLC # 3 Backup is PLC # 5", bar},
       [](const InstanceRecord& r) { EXPECT_EQ(r.backups[3].backupPlc, 5); }},
      {"backup_64=1",
       {bar, "TOLDEX:  PLC # 64 Backup is PLC # 1", bar},
       [](const InstanceRecord& r) {
         EXPECT_EQ(r.backups[64].backupPlc, 1);
         for (int plc = 1; plc < 64; ++plc) EXPECT_EQ(r.backups[plc].backupPlc, 0);
       }},
      {"BACKUP_3 5\n",
       {"TOLDEX: Illegal line in init file : BACKUP_3 5\n"},
       [](const InstanceRecord& r) { EXPECT_EQ(r.backups[3].backupPlc, 0); }},
      {"BACKUP_65 = 1\n",
       {"TOLDEX: Illegal PLC number: BACKUP_65 = 1\n"},
       [](const InstanceRecord& r) { EXPECT_EQ(r.backups[1].backupPlc, 0); }},
      {"BACKUP_0 = 2\n", {"TOLDEX: Illegal PLC number: BACKUP_0 = 2\n"}, nullptr},
      {"BACKUP_2 = 65",
       {"TOLDEX: Illegal PLC number: BACKUP_2 = 65"},
       [](const InstanceRecord& r) { EXPECT_EQ(r.backups[2].backupPlc, 0); }},
      {"BACKUP_-2 = 3\n", {"TOLDEX: Illegal PLC number: BACKUP_-2 = 3\n"}, nullptr},
      // Numbers that cannot be read.
      {"backup_x = 2\n", {"TOLDEX: Illegal PLC number: BACKUP_X = 2\n"}, nullptr},
      {"BACKUP_2 = \n",
       {"TOLDEX: Illegal PLC number: BACKUP_2 = \n"},
       [](const InstanceRecord& r) { EXPECT_EQ(r.backups[2].backupPlc, 0); }},
      {"BACKUP_ =", {"TOLDEX: Illegal PLC number: BACKUP_ ="}, nullptr},
      // A station line that is also a backup line is both; the port is the
      // first number after the blank.
      {"4 127.0.0.4 BACKUP_4 = 6\n",
       {"\tStation: 4   IP: 127.0.0.4 ,port = 4", bar, "TOLDEX:  PLC # 4 Backup is PLC # 6", bar},
       [](const InstanceRecord& r) {
         EXPECT_STREQ(r.stations[4].ip, "127.0.0.4");
         EXPECT_EQ(r.backups[4].backupPlc, 6);
       }},
      {"BACKUP_3 = 5\nBACKUP_3 = 7\n",
       {bar, "TOLDEX:  PLC # 3 Backup is PLC # 5", bar, bar, "TOLDEX:  PLC # 3 Backup is PLC # 7",
        bar},
       [](const InstanceRecord& r) { EXPECT_EQ(r.backups[3].backupPlc, 7); }},
  };
  RunLineCases(cases);
}

// ---------------------------------------------------------------------------
// Long, binary and unterminated lines

TEST_F(InitFile, LongLinesAreReadAsPiecesOf255Characters) {
  // 255 characters, then the rest of the same line, which is a key line.
  const std::string filler(255, 'X');
  Read(filler + "SWAP = YES\n256 127.0.0.1\n");
  EXPECT_EQ(record().options, kOptionSwap);
  EXPECT_EQ(Events(),
            std::vector<std::string>{"TOLDEX: InitFile: station number too big, line: 3"});

  // A line of exactly 255 characters and its line end: the line end is a
  // line of its own.
  Read(filler + "\n256 127.0.0.1\n");
  EXPECT_EQ(Events(),
            std::vector<std::string>{"TOLDEX: InitFile: station number too big, line: 3"});

  // 254 characters and the line end fit in one piece.
  Read(std::string(254, 'X') + "\n256 127.0.0.1\n");
  EXPECT_EQ(Events(),
            std::vector<std::string>{"TOLDEX: InitFile: station number too big, line: 2"});

  // A very long line without any line end.
  Read(std::string(100000, '7'));
  EXPECT_EQ(Events().size(), 393u);  // 393 pieces, each a station number too big
}

TEST_F(InitFile, BackupMessagesShowAtMost255Characters) {
  const std::string line = "BACKUP_99 = 1" + std::string(300, ' ') + "\n";
  Read(line);
  const auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "TOLDEX: Illegal PLC number: " + line.substr(0, 255));
}

TEST_F(InitFile, LineNumbersCountPast255And32767) {
  std::string content;
  for (int i = 0; i < 40000; ++i) content += (i % 2 == 0) ? "\n" : "; comment\n";
  content += "256 127.0.0.1\n";
  Read(content);
  EXPECT_EQ(Events(),
            std::vector<std::string>{"TOLDEX: InitFile: station number too big, line: 40001"});
}

TEST_F(InitFile, BinaryBytesAreReadAsText) {
  // A NUL ends what is examined of its line; the line still counts.
  Read(std::string("SWAP = YES\0XX\n\0BUS=J,H\n256 1\n", 29));
  EXPECT_EQ(record().options, kOptionSwap);
  EXPECT_EQ(record().protocol, 'M');
  EXPECT_EQ(Events(),
            std::vector<std::string>{"TOLDEX: InitFile: station number too big, line: 3"});

  // Bytes above 127 are left as they are by the upper-casing.
  Read("\xe9swap = yes\n1 127.0.0.1 \xff\xfe\n");
  EXPECT_EQ(record().options, 0);
  EXPECT_STREQ(record().stations[1].ip, "127.0.0.1");
  EXPECT_EQ(record().stations[1].port, 502);
}

TEST_F(InitFile, RandomBytesNeverReadOrWriteOutOfBounds) {
  // Run under the address sanitizer to make this test bite.
  std::mt19937 random(20061221);
  const std::string alphabet = "0123456789 .,=_\n\r\t\x1a\x00-+BACKUPSWAPbusJHLMDYESNO\x80\xff";
  for (int round = 0; round < 20; ++round) {
    std::string content;
    const int size = 1 + static_cast<int>(random() % 4000);
    for (int i = 0; i < size; ++i) {
      content += (random() % 4 == 0) ? static_cast<char>(random() & 0xFF)
                                     : alphabet[random() % alphabet.size()];
    }
    Read(content);
    EXPECT_TRUE(record().base == 'D' || record().base == 'H' || record().base == 'L');
    for (const StationRecord& station : record().stations) {
      EXPECT_LT(BoundedLength(station.ip, sizeof station.ip), static_cast<int>(sizeof station.ip));
    }
    for (const BackupEntry& entry : record().backups) EXPECT_LE(entry.backupPlc, 64);
  }
}

// ---------------------------------------------------------------------------
// Differences between the C libraries' text mode. The Windows C library turns
// CR LF into LF and ends the file at a Ctrl-Z; the others keep both.

TEST_F(InitFile, CarriageReturnsBeforeLineEnds) {
  Read(
      "BUS=J,H\r\nSWAP = NO\r\nFLOATSWAP = YES\r\n1 127.0.0.1 503\r\n2 127.0.0.2\r\n"
      "BACKUP_65 = 1\r\n");
  // The settings come out the same with both.
  EXPECT_EQ(record().protocol, 'J');
  EXPECT_EQ(record().base, 'H');
  EXPECT_EQ(record().options, kOptionFloatSwap);
  EXPECT_EQ(record().stations[1].port, 503);
  EXPECT_EQ(record().stations[2].port, 502);
  // The line shown in a backup message keeps its carriage return outside Windows.
#if defined(_WIN32)
  const std::string shown = "BACKUP_65 = 1\n";
#else
  const std::string shown = "BACKUP_65 = 1\r\n";
#endif
  EXPECT_EQ(Events().back(), "TOLDEX: Illegal PLC number: " + shown);
}

TEST_F(InitFile, CtrlZEndsTheFileOnlyOnWindows) {
  Read("SWAP = YES\n\x1a\nSWAP = NO\n");
#if defined(_WIN32)
  EXPECT_EQ(record().options, kOptionSwap);
#else
  EXPECT_EQ(record().options, 0);
#endif
}

TEST_F(InitFile, CarriageReturnsCountTowardsThe255Characters) {
  // 254 characters, CR, LF: one piece on Windows (the CR is gone), two elsewhere.
  Read(std::string(254, 'X') + "\r\n256 127.0.0.1\r\n");
#if defined(_WIN32)
  const std::string expected = "TOLDEX: InitFile: station number too big, line: 2";
#else
  const std::string expected = "TOLDEX: InitFile: station number too big, line: 3";
#endif
  EXPECT_EQ(Events(), std::vector<std::string>{expected});
}

// ---------------------------------------------------------------------------
// The examples of docs/configuration.md

class ConfigurationDocument : public InitFile {
 protected:
  std::string document_ = testing::ReadDocument("configuration.md");
};

TEST_F(ConfigurationDocument, ExampleFileGivesTheLogShown) {
  std::string content;
  for (const std::string& line : testing::FencedBlockAfter(document_, "example-file")) {
    content += line + "\n";
  }
  ASSERT_FALSE(content.empty());
  Read(content);
  std::vector<std::string> expected;
  for (const std::string& line : testing::FencedBlockAfter(document_, "example-log")) {
    expected.push_back(line);
  }
  std::vector<std::string> actual;
  for (const LogLine& line : log_.Lines()) {
    actual.push_back("[" + std::to_string(line.level) + "] " + line.text);
  }
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(record().options, kOptionSwap);
  EXPECT_EQ(record().stations[3].force_address, 7);
  EXPECT_EQ(record().backups[1].backupPlc, 4);
}

TEST_F(ConfigurationDocument, KeyLines) {
  for (const auto& row : testing::TableAfter(document_, "key-lines")) {
    ASSERT_EQ(row.size(), 3u);
    const std::string line = Unquoted(row[0]);
    SCOPED_TRACE(line);
    Read(line + "\n");
    EXPECT_EQ(Events(), CellLines(row[1]));
    const auto summary = DetailLines();
    EXPECT_NE(std::find(summary.begin(), summary.end(), Unquoted(row[2])), summary.end())
        << log_.Dump();
  }
}

TEST_F(ConfigurationDocument, StationLines) {
  for (const auto& row : testing::TableAfter(document_, "station-lines")) {
    ASSERT_EQ(row.size(), 5u);
    const std::string line = Unquoted(row[0]);
    SCOPED_TRACE(line);
    Read(line + "\n");
    const StationRecord& station = record().stations[CellNumber(row[1])];
    EXPECT_EQ(std::string(station.ip), Unquoted(row[2]));
    EXPECT_EQ(station.port, CellNumber(row[3]));
    EXPECT_EQ(station.force_address, CellNumber(row[4]));
    EXPECT_EQ(Events().size(), 1u) << log_.Dump();
  }
}

TEST_F(ConfigurationDocument, LineMessages) {
  for (const auto& row : testing::TableAfter(document_, "line-messages")) {
    ASSERT_EQ(row.size(), 2u);
    const std::string line = Unquoted(row[0]);
    SCOPED_TRACE(line);
    Read(line + "\n");
    std::vector<std::string> events = Events();
    // Messages that quote the line end with its line end, which the table leaves out.
    for (std::string& event : events) {
      if (!event.empty() && event.back() == '\n') event.pop_back();
    }
    EXPECT_EQ(events, CellLines(row[1]));
  }
}

}  // namespace
}  // namespace toldex

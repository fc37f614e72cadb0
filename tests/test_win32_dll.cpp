// TOLDEXDR.DLL as a Windows host meets it: loaded with LoadLibrary, its entry
// found with GetProcAddress("VpiMain"), its log lines written through the
// QIRPRO.dll of the process, its version resource read by the system.
#include <gtest/gtest.h>

#if defined(_WIN32)

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/host_records.h"
#include "support/log_capture.h"

namespace toldex {
namespace {

using testing::LogCapture;
using VpiMainFn = int32_t(__stdcall*)(DriverRequest*);

// The folder of this program, where the build puts the DLLs beside it.
std::wstring ProgramFolder() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L".";
    if (length < path.size()) break;
    path.resize(path.size() * 2);
  }
  std::wstring folder(path.data());
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring DriverPath() { return ProgramFolder() + L"\\TOLDEXDR.DLL"; }

class DriverDll : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(DriverPath().c_str());
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed with " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  VpiMainFn Entry() const {
    return reinterpret_cast<VpiMainFn>(reinterpret_cast<void*>(GetProcAddress(module_, "VpiMain")));
  }

  HMODULE module_ = nullptr;
};

TEST_F(DriverDll, ExportsVpiMainByItsPlainNameOnly) {
  EXPECT_NE(Entry(), nullptr);
  for (const char* decorated : {"VpiMain@4", "_VpiMain@4", "_VpiMain"}) {
    EXPECT_EQ(GetProcAddress(module_, decorated), nullptr) << decorated;
  }
  EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(2)), nullptr) << "a second export";
}

TEST_F(DriverDll, GetVpiInfoThroughTheLoadedEntry) {
  const VpiMainFn vpiMain = Entry();
  ASSERT_NE(vpiMain, nullptr);
  DriverInfo info;
  std::memset(&info, 0x5A, sizeof info);
  info.untouched24 = 0x01020304;
  DriverRequest request{};
  request.op = kOpGetVpiInfo;
  request.params = &info;
  ASSERT_EQ(vpiMain(&request), 0);
  EXPECT_EQ(info.infoValue, 80);
  EXPECT_STREQ(info.driverName, "Modicon Modbus TCP/IP");
  EXPECT_STREQ(info.driverBanner, "ModBus/J-BUS 32 Bit TCP/IP driver Installed.\n");
  EXPECT_GT(info.instanceSize, 0);
  EXPECT_EQ(info.infoType, 3);
  EXPECT_EQ(info.infoFlag1, 1);
  EXPECT_EQ(info.infoFlag2, 0);
  EXPECT_EQ(info.untouched24, 0x01020304);
  EXPECT_EQ(info.infoBits, 0x00880022);
}

TEST_F(DriverDll, CodesWithoutAnOperationReturnOne) {
  const VpiMainFn vpiMain = Entry();
  ASSERT_NE(vpiMain, nullptr);
  for (int32_t op : {8, 9, 0, 17}) {
    DriverRequest request{};
    request.op = op;
    EXPECT_EQ(vpiMain(&request), 1) << "op " << op;
  }
}

// The DLL imports err from QIRPRO.dll, the very module this program uses, so
// its lines arrive in the capture routed through the stand-in.
TEST_F(DriverDll, LogsThroughTheProcessHostLibrary) {
  const VpiMainFn vpiMain = Entry();
  ASSERT_NE(vpiMain, nullptr);
  DriverInfo info{};
  DriverRequest infoRequest{};
  infoRequest.op = kOpGetVpiInfo;
  infoRequest.params = &info;
  ASSERT_EQ(vpiMain(&infoRequest), 0);
  std::vector<unsigned char> instance(static_cast<size_t>(info.instanceSize), 0);

  LogCapture log;
  ChangeParams params{};
  params.newTimeoutMs = 250;
  DriverRequest request{};
  request.instance = instance.data();
  request.op = kOpChangeVpiParams;
  request.driverNumber = 1;
  request.params = &params;
  EXPECT_EQ(vpiMain(&request), 2);
  EXPECT_TRUE(log.Has("TOLDEX: ChangeVpiParams() entered", 8)) << log.Dump();
  EXPECT_TRUE(log.Has("TOLDEX: ChangeVpiParams() open new COM port failed", 32)) << log.Dump();
}

TEST_F(DriverDll, CarriesTheVersionOfTheProject) {
  const std::wstring path = DriverPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource";
  std::vector<unsigned char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_NE(fixed, nullptr);
  const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(HIWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(version, TOLDEX_VERSION);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

}  // namespace
}  // namespace toldex

#else

TEST(DriverDll, IsAWindowsProduct) {
  GTEST_SKIP() << "TOLDEXDR.DLL is tested in the Windows builds";
}

#endif

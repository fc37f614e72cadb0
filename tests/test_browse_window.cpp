// The "Tag Format" dialog of TOLDEXDR.DLL on Windows.
//
// The template is read from the DLL's resources and compared with the layout
// the dialog must have. The dialog itself is opened through the DLL's VpiMain
// on a thread of its own, as a host's tag editor would open it, and filled,
// checked and closed from the test's thread as a user would. Those cases need
// a display: they run when TOLDEX_GUI_TESTS is 1, which the script that runs
// this program in a virtual display sets. That script also takes the
// screenshots this program asks for (TOLDEX_SHOT_DIR).
#include <gtest/gtest.h>

#if defined(_WIN32)

#include <qirpro.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/host_records.h"
#include "support/driver_fixture.h"
#include "support/wait_for.h"

namespace toldex {
namespace {

constexpr char kDriverFile[] = "TOLDEXDR.DLL";
constexpr int kTemplateId = 101;
constexpr char kDialogTitle[] = "Tag Format";
constexpr char kDialogClass[] = "#32770";
constexpr int kIdMemoryType = 1006;
constexpr int kIdAddress = 1007;
constexpr int kIdBitNumber = 1022;
constexpr int kIdPlcSpin = 1036;
constexpr int kIdPlcNumber = 1037;
constexpr uint32_t kPatienceMs = 20000;
constexpr char kUntouched[] = "untouched";

using VpiMainFunction = int32_t(__stdcall*)(DriverRequest*);

// --- The template -------------------------------------------------------

struct TemplateControl {
  int id;
  std::string className;
  std::string text;
  int x, y, width, height;
  DWORD style;
  DWORD extendedStyle;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD extendedStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string caption;
  int fontPoints = 0;
  std::string fontName;
  std::vector<TemplateControl> controls;
};

// Reads an extended dialog template (DLGTEMPLATEEX and DLGITEMTEMPLATEEX).
class TemplateReader {
 public:
  TemplateReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  bool Read(DialogTemplate& dialog) {
    if (Word() != 1 || Word() != 0xFFFF) return false;  // version 1, extended signature
    Dword();                                           // help id
    dialog.extendedStyle = Dword();
    dialog.style = Dword();
    const int count = Word();
    dialog.x = Short();
    dialog.y = Short();
    dialog.width = Short();
    dialog.height = Short();
    NameOrOrdinal();  // menu
    NameOrOrdinal();  // window class
    dialog.caption = Text();
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
      dialog.fontPoints = Word();
      Word();  // weight
      Byte();  // italic
      Byte();  // character set
      dialog.fontName = Text();
    }
    for (int i = 0; i < count && ok_; ++i) {
      Align(4);
      TemplateControl control;
      Dword();  // help id
      control.extendedStyle = Dword();
      control.style = Dword();
      control.x = Short();
      control.y = Short();
      control.width = Short();
      control.height = Short();
      control.id = static_cast<int32_t>(Dword());
      control.className = ClassName();
      control.text = NameOrOrdinal();
      const int extra = Word();
      position_ += static_cast<std::size_t>(extra);
      dialog.controls.push_back(control);
    }
    return ok_ && position_ <= size_;
  }

 private:
  unsigned Byte() {
    if (position_ + 1 > size_) return Fail();
    return data_[position_++];
  }
  unsigned Word() {
    const unsigned low = Byte();
    return low | (Byte() << 8);
  }
  int Short() { return static_cast<int16_t>(Word()); }
  DWORD Dword() {
    const DWORD low = Word();
    return low | (static_cast<DWORD>(Word()) << 16);
  }
  void Align(std::size_t to) { position_ = (position_ + to - 1) / to * to; }
  std::string Text() {
    std::string text;
    for (unsigned c = Word(); c != 0 && ok_; c = Word()) text += static_cast<char>(c);
    return text;
  }
  std::string NameOrOrdinal() {
    if (position_ + 2 <= size_ && data_[position_] == 0xFF && data_[position_ + 1] == 0xFF) {
      Word();
      std::string ordinal = "#";
      ordinal += std::to_string(Word());
      return ordinal;
    }
    return Text();
  }
  // Predefined classes may be written as names or as their atoms.
  std::string ClassName() {
    std::string name = NameOrOrdinal();
    const char* const atoms[][2] = {{"#128", "BUTTON"},  {"#129", "EDIT"},
                                    {"#130", "STATIC"},  {"#131", "LISTBOX"},
                                    {"#132", "SCROLLBAR"}, {"#133", "COMBOBOX"}};
    for (const auto& atom : atoms) {
      if (name == atom[0]) return atom[1];
    }
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  }
  unsigned Fail() {
    ok_ = false;
    return 0;
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool ok_ = true;
};

TEST(TagFormatTemplate, IsTheDialogTheDriverShows) {
  const HMODULE driver = LoadLibraryExA(kDriverFile, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(driver, nullptr) << "error " << GetLastError();
  const HRSRC resource = FindResourceA(driver, MAKEINTRESOURCEA(kTemplateId), RT_DIALOG);
  ASSERT_NE(resource, nullptr) << "no dialog template " << kTemplateId;
  const HGLOBAL loaded = LoadResource(driver, resource);
  const auto* data = static_cast<const unsigned char*>(LockResource(loaded));
  ASSERT_NE(data, nullptr);
  DialogTemplate dialog;
  ASSERT_TRUE(TemplateReader(data, SizeofResource(driver, resource)).Read(dialog))
      << "not an extended dialog template";

  EXPECT_EQ(dialog.caption, "Tag Format");
  EXPECT_EQ(dialog.width, 262);
  EXPECT_EQ(dialog.height, 111);
  EXPECT_EQ(dialog.style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME),
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME));
  EXPECT_EQ(dialog.style & (WS_CHILD | WS_SYSMENU | WS_THICKFRAME), 0u);
  EXPECT_EQ(dialog.fontName, "MS Sans Serif");
  EXPECT_EQ(dialog.fontPoints, 8);

  constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
  const TemplateControl expected[] = {
      {1037, "EDIT", "", 57, 22, 23, 12, kShown | ES_UPPERCASE | ES_AUTOHSCROLL | WS_TABSTOP,
       WS_EX_STATICEDGE | WS_EX_CLIENTEDGE},
      {1006, "COMBOBOX", "", 56, 42, 157, 145,
       kShown | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0},
      {1007, "EDIT", "", 56, 63, 27, 12, kShown | ES_UPPERCASE | WS_BORDER | WS_TABSTOP, 0},
      {1022, "LISTBOX", "", 56, 82, 35, 11,
       kShown | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_WANTKEYBOARDINPUT | WS_VSCROLL |
           WS_BORDER | WS_TABSTOP,
       0},
      {IDOK, "BUTTON", "OK", 214, 70, 40, 14, kShown | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
      {IDCANCEL, "BUTTON", "Cancel", 214, 87, 40, 14, kShown | BS_PUSHBUTTON | WS_TABSTOP, 0},
      {1036, "SCROLLBAR", "", 80, 23, 11, 12, kShown | SBS_VERT, 0},
      {-1, "STATIC", "PLC number:", 7, 21, 45, 8, kShown | SS_LEFT | WS_GROUP, 0},
      {-1, "STATIC", "Memory type:", 7, 42, 47, 10, kShown | SS_LEFT | WS_GROUP, 0},
      {-1, "STATIC", "Address:", 7, 62, 44, 8, kShown | SS_LEFT | WS_GROUP, 0},
      {-1, "STATIC", "Bit number:", 7, 82, 38, 10, kShown | SS_LEFT | WS_GROUP, 0},
      {-1, "BUTTON", "", 56, 18, 36, 18, kShown | BS_GROUPBOX, 0},
  };
  ASSERT_EQ(dialog.controls.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const TemplateControl& want = expected[i];
    const TemplateControl& got = dialog.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " (" + want.className + " " +
                 std::to_string(want.id) + ")");
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.className, want.className);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    EXPECT_EQ(got.style, want.style) << std::hex << got.style << " " << want.style;
    EXPECT_EQ(got.extendedStyle, want.extendedStyle);
  }
  FreeLibrary(driver);
}

// --- The dialog on a display -----------------------------------------------

bool GuiTestsWanted() {
  const char* wanted = std::getenv("TOLDEX_GUI_TESTS");
  return wanted != nullptr && std::strcmp(wanted, "1") == 0;
}

std::string TextOf(HWND window) {
  char text[256] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ItemText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

// Asks the script around this program for a screenshot of the given windows
// and waits until it was taken. Nothing happens outside that script.
void Screenshot(const std::string& name, std::initializer_list<HWND> windows) {
  const char* folder = std::getenv("TOLDEX_SHOT_DIR");
  if (folder == nullptr || folder[0] == '\0') return;
  RECT area{};
  bool first = true;
  for (HWND window : windows) {
    RECT rect;
    if (window == nullptr || !GetWindowRect(window, &rect)) continue;
    if (first) {
      area = rect;
      first = false;
    } else {
      UnionRect(&area, &area, &rect);
    }
  }
  for (HWND window : windows) {
    if (window != nullptr) RedrawWindow(window, nullptr, nullptr,
                                        RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
  const std::filesystem::path base = std::filesystem::path(folder) / name;
  const std::filesystem::path request = base.string() + ".request";
  const std::filesystem::path ready = base.string() + ".ready";
  const std::filesystem::path taken = base.string() + ".taken";
  {
    std::ofstream out(request);
    out << (area.right - area.left) << "x" << (area.bottom - area.top) << "+" << area.left << "+"
        << area.top << "\n";
  }
  std::filesystem::rename(request, ready);
  EXPECT_TRUE(testing::WaitFor([&] { return std::filesystem::exists(taken); }, kPatienceMs))
      << "no screenshot " << name;
}

// One call of BrowseAddress through the DLL, on a thread of its own that
// owns a host window, as a host's user-interface thread would.
struct MessageBoxSearch {
  HWND dialog;
  HWND found;
};

BOOL CALLBACK MatchMessageBox(HWND window, LPARAM raw) {
  auto* search = reinterpret_cast<MessageBoxSearch*>(raw);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, kDialogClass) == 0 && IsWindowVisible(window) &&
      GetWindow(window, GW_OWNER) == search->dialog) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

class BrowseCall {
 public:
  BrowseCall(VpiMainFunction vpiMain, int32_t driverNumber, bool withOwner)
      : vpiMain_(vpiMain), driverNumber_(driverNumber), withOwner_(withOwner) {
    std::strcpy(buffer_, kUntouched);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }

  ~BrowseCall() {
    if (thread_ == nullptr) return;
    if (WaitForSingleObject(thread_, 0) != WAIT_OBJECT_0) {
      // A failed case must not leave the dialog open: close what is open.
      for (int round = 0; round < 50 && WaitForSingleObject(thread_, 100) != WAIT_OBJECT_0;
           ++round) {
        CloseMessageBoxes();
        if (HWND dialog = FindWindowA(kDialogClass, kDialogTitle)) {
          PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
      }
    }
    CloseHandle(thread_);
  }

  HWND WaitForDialog() {
    HWND dialog = nullptr;
    testing::WaitFor(
        [&] {
          dialog = FindWindowA(kDialogClass, kDialogTitle);
          return dialog != nullptr && IsWindowVisible(dialog);
        },
        kPatienceMs);
    return dialog;
  }

  // The operation's status once the dialog has closed, -1 if it did not.
  int32_t Finish() {
    if (WaitForSingleObject(thread_, kPatienceMs) != WAIT_OBJECT_0) return -1;
    return status_.load();
  }

  std::string buffer() const { return buffer_; }
  HWND owner() const { return owner_.load(); }

  // The message box the dialog shows, nullptr when none.
  static HWND FindMessageBox(HWND dialog) {
    MessageBoxSearch search{dialog, nullptr};
    EnumWindows(MatchMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

 private:
  static DWORD WINAPI Run(void* raw) {
    auto* self = static_cast<BrowseCall*>(raw);
    HWND owner = nullptr;
    if (self->withOwner_) {
      owner = CreateWindowExA(0, "STATIC", "TOLDEX test host", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                              100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
      self->owner_.store(owner);
    }
    DriverRequest request{};
    request.op = kOpBrowseAddress;
    request.driverNumber = self->driverNumber_;
    BrowseParams params{self->buffer_, owner};
    request.params = &params;
    self->status_.store(self->vpiMain_(&request));
    if (owner != nullptr) DestroyWindow(owner);
    return 0;
  }

  static void CloseMessageBoxes() {
    if (HWND dialog = FindWindowA(kDialogClass, kDialogTitle)) {
      if (HWND box = FindMessageBox(dialog)) PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }

  VpiMainFunction vpiMain_;
  int32_t driverNumber_;
  bool withOwner_;
  char buffer_[16];
  std::atomic<int32_t> status_{-1};
  std::atomic<HWND> owner_{nullptr};
  HANDLE thread_ = nullptr;
};

BOOL CALLBACK CollectText(HWND child, LPARAM raw) {
  *reinterpret_cast<std::string*>(raw) += TextOf(child) + "\n";
  return TRUE;
}

// The texts of a window's controls, one a line.
std::string ChildTexts(HWND window) {
  std::string texts;
  EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

class TagFormatDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GuiTestsWanted()) GTEST_SKIP() << "needs a display (TOLDEX_GUI_TESTS=1)";
    QirCtlReset();
    QirCtlSetVersion(820);
    driver_ = LoadLibraryA(kDriverFile);
    ASSERT_NE(driver_, nullptr) << "error " << GetLastError();
    vpiMain_ = reinterpret_cast<VpiMainFunction>(
        reinterpret_cast<void*>(GetProcAddress(driver_, "VpiMain")));
    ASSERT_NE(vpiMain_, nullptr);
  }
  void TearDown() override {
    QirCtlSetFailure("QirMkClient", 0);
    QirCtlSetVersion(820);
    if (driver_ != nullptr) FreeLibrary(driver_);
  }

  void Spin(HWND dialog, int code) {
    SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(code, 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, kIdPlcSpin)));
  }
  void Type(HWND dialog, int id, const char* keys) {
    const HWND control = GetDlgItem(dialog, id);
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    for (const char* key = keys; *key != '\0'; ++key) {
      SendMessageA(control, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(*key)), 1);
    }
  }
  void ChooseMemoryType(HWND dialog, char code) {
    const HWND list = GetDlgItem(dialog, kIdMemoryType);
    const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      char text[64] = {};
      SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      if (text[0] == code) {
        SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        return;
      }
    }
    ADD_FAILURE() << "no memory type " << code;
  }
  // Scrolls the one-row bit list to the item.
  void ChooseBit(HWND dialog, int item) {
    SendDlgItemMessageA(dialog, kIdBitNumber, LB_SETTOPINDEX, static_cast<WPARAM>(item), 0);
  }
  // Presses OK and returns the message box it brings up (nullptr when none).
  HWND PressOkExpectingRefusal(HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    HWND box = nullptr;
    testing::WaitFor([&] { return (box = BrowseCall::FindMessageBox(dialog)) != nullptr; },
                     kPatienceMs);
    return box;
  }
  void CloseMessageBox(HWND box) {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(testing::WaitFor([&] { return !IsWindow(box); }, kPatienceMs));
  }

  HMODULE driver_ = nullptr;
  VpiMainFunction vpiMain_ = nullptr;
};

TEST_F(TagFormatDialog, StartsWithPlcOneAndTheListsFilled) {
  BrowseCall call(vpiMain_, 1, true);
  const HWND dialog = call.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), call.owner());
  EXPECT_EQ(ItemText(dialog, kIdPlcNumber), "01");
  GUITHREADINFO input{};
  input.cbSize = sizeof input;
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &input));
  EXPECT_EQ(input.hwndFocus, GetDlgItem(dialog, kIdPlcNumber)) << "the first tab stop has the focus";
  EXPECT_EQ(ItemText(dialog, kIdAddress), "");
  const HWND memoryTypes = GetDlgItem(dialog, kIdMemoryType);
  ASSERT_EQ(SendMessageA(memoryTypes, CB_GETCOUNT, 0, 0), 8);
  EXPECT_EQ(SendMessageA(memoryTypes, CB_GETCURSEL, 0, 0), CB_ERR);
  const char* const expectedTypes[] = {
      "0: Coils (only for Modicon PLC's)",
      "1: Inputs (only for Modicon PLC's)",
      "3: Input Registers (only for Modicon PLC's)",
      "4: Holding Registers (only for Modicon PLC's)",
      "5: Input Registers (32 bits floating point)",
      "6: Input Registers (32 bits unsigned long)",
      "7: Holding Registers (32 bits floating point)",
      "8: Holding Registers (32 bits unsigned long)",
  };
  for (int i = 0; i < 8; ++i) {
    char text[64] = {};
    SendMessageA(memoryTypes, CB_GETLBTEXT, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, expectedTypes[i]);
  }
  const HWND bits = GetDlgItem(dialog, kIdBitNumber);
  ASSERT_EQ(SendMessageA(bits, LB_GETCOUNT, 0, 0), 17);
  EXPECT_EQ(SendMessageA(bits, LB_GETTOPINDEX, 0, 0), 0);
  const char* const expectedBits = "0123456789ABCDEF";
  for (int i = 0; i < 17; ++i) {
    char text[16] = {};
    SendMessageA(bits, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::string(text), i == 0 ? std::string("None") : std::string(1, expectedBits[i - 1]));
  }
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(call.Finish(), kStatusNoAddress);
}

TEST_F(TagFormatDialog, OkWritesTheComposedAddress) {
  BrowseCall call(vpiMain_, 1, true);
  const HWND dialog = call.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  for (int i = 0; i < 4; ++i) Spin(dialog, SB_LINEUP);
  EXPECT_EQ(ItemText(dialog, kIdPlcNumber), "05");
  Spin(dialog, SB_LINEDOWN);
  Spin(dialog, SB_PAGEUP);  // only the arrows step
  SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(SB_LINEUP, 0), 0);  // not from the spin arrows
  EXPECT_EQ(ItemText(dialog, kIdPlcNumber), "04");
  Spin(dialog, SB_LINEUP);
  ChooseMemoryType(dialog, '4');
  Type(dialog, kIdAddress, "0100");
  ChooseBit(dialog, 11);  // "A"
  EXPECT_EQ(SendDlgItemMessageA(dialog, kIdBitNumber, LB_GETTOPINDEX, 0, 0), 11);
  Screenshot("tag-format-dialog", {dialog});
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(call.Finish(), kStatusOk);
  EXPECT_EQ(call.buffer(), "0540100A");
  EXPECT_EQ(FindWindowA(kDialogClass, kDialogTitle), nullptr);
}

TEST_F(TagFormatDialog, CancelAndEscapeLeaveTheBufferAlone) {
  {
    BrowseCall call(vpiMain_, 1, true);
    const HWND dialog = call.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    ChooseMemoryType(dialog, '3');
    Type(dialog, kIdAddress, "0001");
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(call.Finish(), kStatusNoAddress);
    EXPECT_EQ(call.buffer(), kUntouched);
  }
  {
    BrowseCall call(vpiMain_, 1, true);
    const HWND dialog = call.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    PostMessageA(GetDlgItem(dialog, kIdPlcNumber), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(call.Finish(), kStatusNoAddress);
    EXPECT_EQ(call.buffer(), kUntouched);
  }
}

TEST_F(TagFormatDialog, RefusalsShowTheirMessageAndKeepTheDialogOpen) {
  BrowseCall call(vpiMain_, 1, true);
  const HWND dialog = call.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  struct Step {
    char memoryType;  // 0: none chosen
    const char* plc;
    const char* address;
    const char* message;
    const char* screenshot;
  };
  const Step steps[] = {
      {0, "5", "12", "missing value!", nullptr},
      // Both are wrong: only the address is reported.
      {'8', "5", "12", "Wrong address! (4 decimal digits)", "tag-format-refusal"},
      {'8', "5", "0012", "Wrong PLC number! (2 decimal digits)", nullptr},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.message);
    if (step.memoryType != 0) ChooseMemoryType(dialog, step.memoryType);
    Type(dialog, kIdPlcNumber, step.plc);
    Type(dialog, kIdAddress, step.address);
    const HWND box = PressOkExpectingRefusal(dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(TextOf(box), "Error");
    const std::string texts = ChildTexts(box);
    EXPECT_NE(texts.find(step.message), std::string::npos) << texts;
    if (step.message[0] == 'W' && texts.find("Wrong PLC number!") != std::string::npos) {
      EXPECT_STREQ(step.message, "Wrong PLC number! (2 decimal digits)") << texts;
    }
    if (step.screenshot != nullptr) {
      // Wine centres the box on the screen; beside the dialog both fit one picture.
      RECT dialogRect;
      GetWindowRect(dialog, &dialogRect);
      SetWindowPos(box, nullptr, dialogRect.right + 8, dialogRect.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      Screenshot(step.screenshot, {dialog, box});
    }
    CloseMessageBox(box);
    EXPECT_TRUE(IsWindowVisible(dialog));
  }
  Type(dialog, kIdPlcNumber, "05");
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(call.Finish(), kStatusOk);
  EXPECT_EQ(call.buffer(), "0580012");
}

TEST_F(TagFormatDialog, HexadecimalBaseFromTheFileCapitalsAndSpinToFF) {
  testing::TempWorkDir folder;
  folder.WriteFile("TOLDEX07.INT", "BUS=M,H\n");
  BrowseCall call(vpiMain_, 7, true);
  const HWND dialog = call.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kIdPlcNumber, "fe");
  EXPECT_EQ(ItemText(dialog, kIdPlcNumber), "FE");
  Spin(dialog, SB_LINEUP);
  EXPECT_EQ(ItemText(dialog, kIdPlcNumber), "FF");
  Spin(dialog, SB_LINEUP);
  EXPECT_EQ(ItemText(dialog, kIdPlcNumber), "FF");
  Type(dialog, kIdPlcNumber, "1f");
  ChooseMemoryType(dialog, '7');
  Type(dialog, kIdAddress, "00ff");
  EXPECT_EQ(ItemText(dialog, kIdAddress), "00FF");
  // Enter presses the default button, OK.
  PostMessageA(GetDlgItem(dialog, kIdAddress), WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(call.Finish(), kStatusOk);
  EXPECT_EQ(call.buffer(), "1F700FF");
}

TEST_F(TagFormatDialog, LongDecimalBaseTakesFiveDigits) {
  testing::TempWorkDir folder;
  folder.WriteFile("TOLDEX08.INT", "BUS=M,L\n");
  BrowseCall call(vpiMain_, 8, true);
  const HWND dialog = call.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  Type(dialog, kIdPlcNumber, "05");
  ChooseMemoryType(dialog, '3');
  // Set, not typed: the field is 27 units wide with no horizontal scroll, and
  // Wine draws "MS Sans Serif" with a wider substitute, in which a fifth
  // typed digit no longer fits and is refused.
  SetDlgItemTextA(dialog, kIdAddress, "12345");
  EXPECT_EQ(ItemText(dialog, kIdAddress), "12345");
  ChooseBit(dialog, 4);  // "3"
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(call.Finish(), kStatusOk);
  EXPECT_EQ(call.buffer(), "053123453");
}

TEST_F(TagFormatDialog, OwnedByTheHostWindowOnlyFromARecentHostLibrary) {
  struct Case {
    uint16_t version;
    const char* failure;
    bool owned;
  };
  const Case cases[] = {{820, nullptr, true}, {819, nullptr, false}, {900, "QirMkClient", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE("version " + std::to_string(c.version));
    QirCtlSetVersion(c.version);
    QirCtlSetFailure("QirMkClient", c.failure != nullptr ? 5 : 0);
    BrowseCall call(vpiMain_, 1, true);
    const HWND dialog = call.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(call.owner(), nullptr);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), c.owned ? call.owner() : nullptr);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(call.Finish(), kStatusNoAddress);
    EXPECT_EQ(QirCtlClientCount(), 0);
  }
}

TEST_F(TagFormatDialog, ASecondCallWhileOpenGets53AndTheNextShowsItAgain) {
  {
    BrowseCall first(vpiMain_, 1, false);
    const HWND dialog = first.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    char buffer[16] = "untouched";
    BrowseParams params{buffer, nullptr};
    DriverRequest request{};
    request.op = kOpBrowseAddress;
    request.driverNumber = 1;
    request.params = &params;
    EXPECT_EQ(vpiMain_(&request), kStatusNoAddress);
    EXPECT_STREQ(buffer, kUntouched);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(first.Finish(), kStatusNoAddress);
  }
  BrowseCall next(vpiMain_, 1, false);
  const HWND dialog = next.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(next.Finish(), kStatusNoAddress);
}

}  // namespace
}  // namespace toldex

#else

TEST(TagFormatDialog, DrivenOnWindowsOnly) {
  GTEST_SKIP() << "the dialog window is a Windows resource";
}

#endif

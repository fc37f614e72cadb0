// The "Tag Format" form as the modal dialog template 101 of the driver's own
// module. The dialog procedure runs the caller's rules on the real controls.
#include "platform/dialog.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/tag_format_dialog_ids.h"

namespace toldex::platform {
namespace {

constexpr char kDriverModuleName[] = "TOLDEXDR.DLL";
constexpr std::size_t kListTextSize = 64;

// What the dialog procedure works with; reached through the dialog's user data.
struct DialogContext {
  const TagFormRules* rules;
  TagFormFields* fields;
};

// Any object of this module, to find the module when it was loaded under
// another name (or linked into a program).
const char kModuleAnchor = 0;

// The module that holds the dialog template: the driver's file when it is
// loaded, otherwise the module that contains this code.
HMODULE DialogModule() {
  if (HMODULE driver = GetModuleHandleA(kDriverModuleName)) return driver;
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          &kModuleAnchor, &self)) {
    return nullptr;
  }
  return self;
}

DialogContext& ContextOf(HWND dialog) {
  return *reinterpret_cast<DialogContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void Initialise(HWND dialog, const TagFormRules& rules) {
  for (int i = 0; i < rules.bitChoiceCount; ++i) {
    SendDlgItemMessageA(dialog, IDC_TAG_BIT_NUMBER, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(rules.bitChoices[i]));
  }
  for (int i = 0; i < rules.memoryTypeChoiceCount; ++i) {
    SendDlgItemMessageA(dialog, IDC_TAG_MEMORY_TYPE, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(rules.memoryTypeChoices[i]));
  }
  SetWindowTextA(GetDlgItem(dialog, IDC_TAG_PLC_NUMBER), rules.initialPlcText);
}

void Spin(HWND dialog, const TagFormRules& rules, SpinDirection direction) {
  const HWND plcNumber = GetDlgItem(dialog, IDC_TAG_PLC_NUMBER);
  char text[kFormSpinTextSize] = {};
  GetWindowTextA(plcNumber, text, sizeof text);
  char next[kFormSpinTextSize];
  rules.spinPlcNumber(rules.addressBase, text, direction, next);
  SetWindowTextA(plcNumber, next);
}

// The bit list is one row high: the item scrolled into view is the choice.
void ReadTopBit(HWND dialog, char (&bitText)[kFormBitTextSize]) {
  bitText[0] = '\0';
  const LRESULT top = SendDlgItemMessageA(dialog, IDC_TAG_BIT_NUMBER, LB_GETTOPINDEX, 0, 0);
  const LRESULT length =
      SendDlgItemMessageA(dialog, IDC_TAG_BIT_NUMBER, LB_GETTEXTLEN, static_cast<WPARAM>(top), 0);
  if (top == LB_ERR || length == LB_ERR || length >= static_cast<LRESULT>(kListTextSize)) return;
  char item[kListTextSize];
  SendDlgItemMessageA(dialog, IDC_TAG_BIT_NUMBER, LB_GETTEXT, static_cast<WPARAM>(top),
                      reinterpret_cast<LPARAM>(item));
  std::snprintf(bitText, sizeof bitText, "%s", item);
}

void Confirm(HWND dialog, const DialogContext& context) {
  TagFormFields read{};
  GetDlgItemTextA(dialog, IDC_TAG_PLC_NUMBER, read.plcText, sizeof read.plcText);
  GetDlgItemTextA(dialog, IDC_TAG_MEMORY_TYPE, read.memoryTypeText, sizeof read.memoryTypeText);
  GetDlgItemTextA(dialog, IDC_TAG_ADDRESS, read.addressText, sizeof read.addressText);
  ReadTopBit(dialog, read.bitText);
  const TagFormRules& rules = *context.rules;
  if (const char* refusal = rules.checkFields(rules.addressBase, read)) {
    MessageBoxA(dialog, refusal, rules.errorCaption, MB_OK);
    return;
  }
  *context.fields = read;
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK TagFormatProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      Initialise(dialog, *reinterpret_cast<DialogContext*>(lParam)->rules);
      return TRUE;  // the focus goes to the first tab stop, the PLC number
    case WM_VSCROLL: {
      const int code = LOWORD(wParam);
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IDC_TAG_PLC_SPIN) &&
          (code == SB_LINEUP || code == SB_LINEDOWN)) {
        Spin(dialog, *ContextOf(dialog).rules,
             code == SB_LINEUP ? SpinDirection::kUp : SpinDirection::kDown);
      }
      return FALSE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          Confirm(dialog, ContextOf(dialog));
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

FormResult ShowTagFormatForm(const TagFormRules& rules, void* ownerWindow,
                             TagFormFields& fields) {
  const HMODULE module = DialogModule();
  if (module == nullptr) return FormResult::kUnavailable;
  TagFormFields accepted{};
  DialogContext context{&rules, &accepted};
  const INT_PTR result =
      DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_TAG_FORMAT), static_cast<HWND>(ownerWindow),
                      TagFormatProcedure, reinterpret_cast<LPARAM>(&context));
  if (result == IDOK) {
    fields = accepted;
    return FormResult::kAccepted;
  }
  return result == IDCANCEL ? FormResult::kCancelled : FormResult::kUnavailable;
}

}  // namespace toldex::platform

// The "Tag Format" form, in which the user builds a gate address: a PLC number
// with spin arrows, a memory type from a list, an address and a bit from a list.
//
// Windows shows it as the modal dialog template 101 of the driver's own module,
// owned by `ownerWindow` when that is not null. POSIX shows a text form on the
// controlling terminal (/dev/tty) and ignores `ownerWindow`.
//
// The platform only shows controls and reads them back. Every decision (the
// choices offered, the spin step, the checks on OK and their messages) comes
// from the caller's TagFormRules, so both sides decide alike. The call blocks
// until the user closes the form; it is not reentrant (the caller keeps a
// second one away). It may allocate; it never throws.
#pragma once

#include <cstddef>

namespace toldex::platform {

// The texts read back from the form, as much of each as the form reads.
constexpr std::size_t kFormPlcTextSize = 5;         // PLC number, up to 4 characters
constexpr std::size_t kFormMemoryTypeTextSize = 3;  // the chosen item's start, e.g. "4:"
constexpr std::size_t kFormAddressTextSize = 7;     // up to 6 characters
constexpr std::size_t kFormBitTextSize = 5;         // the chosen item, up to 4 characters
constexpr std::size_t kFormSpinTextSize = 3;        // a spun PLC number: 2 characters

struct TagFormFields {
  char plcText[kFormPlcTextSize];
  char memoryTypeText[kFormMemoryTypeTextSize];  // empty: nothing chosen
  char addressText[kFormAddressTextSize];
  char bitText[kFormBitTextSize];
};

enum class SpinDirection { kUp, kDown };

struct TagFormRules {
  char addressBase;  // handed back to the two functions below; the form does not read it
  const char* const* memoryTypeChoices;  // in the order shown
  int memoryTypeChoiceCount;
  const char* const* bitChoices;  // in the order shown; the first is chosen at start
  int bitChoiceCount;
  const char* initialPlcText;
  const char* errorCaption;  // caption of every refusal message
  // What the PLC number and the address take (e.g. "2 decimal digits"), for a
  // form that prompts in words; the dialog has labels only.
  const char* plcNumberHint;
  const char* addressHint;
  // One step of the spin arrows: the PLC number text (as many characters as
  // kFormSpinTextSize - 1 of it) becomes `next`.
  void (*spinPlcNumber)(char addressBase, const char* plcText, SpinDirection direction,
                        char (&next)[kFormSpinTextSize]);
  // Checked on OK: the message that refuses the fields (the form stays open),
  // or nullptr to accept them and close.
  const char* (*checkFields)(char addressBase, const TagFormFields& fields);
};

enum class FormResult {
  kAccepted,     // fields hold what the user confirmed
  kCancelled,    // closed without OK
  kUnavailable,  // could not be shown (no dialog resource, no terminal)
};

// Shows the form until it is accepted or closed. `fields` is written only on
// kAccepted.
FormResult ShowTagFormatForm(const TagFormRules& rules, void* ownerWindow,
                             TagFormFields& fields);

}  // namespace toldex::platform

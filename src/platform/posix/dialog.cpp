// The "Tag Format" form as text on the controlling terminal: one question per
// field, each answered by a line, then OK or Cancel. A refused OK shows its
// message and goes round the fields again, as the dialog stays open.
//
// Only a process in the terminal's foreground group uses it: a background one
// would be stopped by the terminal on its first read, so for it, as for a
// process without a terminal, the form is not available.
#include "platform/dialog.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace toldex::platform {
namespace {

constexpr char kTerminalPath[] = "/dev/tty";
constexpr std::size_t kLineSize = 256;
constexpr std::size_t kPrintSize = 512;
constexpr char kEscape = '\x1b';
constexpr char kSpinUp = '+';
constexpr char kSpinDown = '-';
constexpr int kNoChoice = -1;

// The terminal in line mode with echo for the form's life, as it was afterwards.
class Terminal {
 public:
  Terminal() = default;
  ~Terminal() { Close(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool Open() {
    fd_ = open(kTerminalPath, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return false;
    if (!isatty(fd_) || tcgetpgrp(fd_) != getpgrp()) {
      Close();
      return false;
    }
    if (tcgetattr(fd_, &saved_) == 0) {
      termios lineMode = saved_;
      lineMode.c_lflag |= ICANON | ECHO | ECHOE;
      lineMode.c_iflag |= ICRNL;
      lineMode.c_oflag |= OPOST | ONLCR;
      restore_ = tcsetattr(fd_, TCSANOW, &lineMode) == 0;
    }
    return true;
  }

  [[gnu::format(printf, 2, 3)]] void Print(const char* format, ...) {
    char text[kPrintSize];
    va_list values;
    va_start(values, format);
    const int length = std::vsnprintf(text, sizeof text, format, values);
    va_end(values);
    if (length <= 0) return;
    std::size_t left = static_cast<std::size_t>(length) < sizeof text
                           ? static_cast<std::size_t>(length)
                           : sizeof text - 1;
    const char* next = text;
    while (left > 0) {
      const ssize_t written = write(fd_, next, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      next += written;
      left -= static_cast<std::size_t>(written);
    }
  }

  // One line without its end, cut to the buffer; false at the end of input.
  bool ReadLine(char (&line)[kLineSize]) {
    std::size_t length = 0;
    for (;;) {
      char c;
      const ssize_t got = read(fd_, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        line[length] = '\0';
        return length > 0;
      }
      if (c == '\n') break;
      if (length + 1 < sizeof line) line[length++] = c;
    }
    line[length] = '\0';
    return true;
  }

 private:
  void Close() {
    if (fd_ < 0) return;
    if (restore_) tcsetattr(fd_, TCSANOW, &saved_);
    close(fd_);
    fd_ = -1;
    restore_ = false;
  }

  int fd_ = -1;
  termios saved_{};
  bool restore_ = false;
};

enum class Reply { kKeep, kClear, kText, kCancel };

char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Reads one answer. Enter alone keeps the value, blanks alone clear it,
// Escape or the end of input cancels; any other answer comes without its
// surrounding blanks.
Reply Ask(Terminal& terminal, char (&answer)[kLineSize]) {
  char line[kLineSize];
  if (!terminal.ReadLine(line) || std::strchr(line, kEscape) != nullptr) return Reply::kCancel;
  const char* start = line;
  while (*start == ' ' || *start == '\t') ++start;
  std::size_t length = std::strlen(start);
  while (length > 0 && (start[length - 1] == ' ' || start[length - 1] == '\t' ||
                        start[length - 1] == '\r')) {
    --length;
  }
  if (length == 0) return line[0] == '\0' ? Reply::kKeep : Reply::kClear;
  std::memcpy(answer, start, length);
  answer[length] = '\0';
  return Reply::kText;
}

// What an edit field holds after the answer: capitals (the fields turn letters
// into capitals as they are typed), as much as the form reads back.
template <std::size_t Size>
void StoreEdited(char (&field)[Size], const char* answer) {
  std::size_t i = 0;
  for (; i + 1 < Size && answer[i] != '\0'; ++i) field[i] = UpperCase(answer[i]);
  field[i] = '\0';
}

template <std::size_t Size>
void StoreText(char (&field)[Size], const char* text) {
  std::snprintf(field, Size, "%s", text);
}

bool IsSpinAnswer(const char* answer) {
  return std::strspn(answer, "+-") == std::strlen(answer);
}

bool SameLetters(const char* a, const char* b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (UpperCase(a[i]) != UpperCase(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

// The choice named by the answer: one equal to it, or else the only one that
// begins with it, letters in either case.
int FindChoice(const char* const* choices, int count, const char* answer) {
  const std::size_t length = std::strlen(answer);
  int found = kNoChoice;
  for (int i = 0; i < count; ++i) {
    if (SameLetters(choices[i], answer, length + 1)) return i;
    if (SameLetters(choices[i], answer, length)) found = found == kNoChoice ? i : count;
  }
  return found == count ? kNoChoice : found;
}

struct FormState {
  TagFormFields fields;  // the edit fields; the two lists by their choices below
  int memoryTypeChoice;
  int bitChoice;
};

// Returns false when the user cancels.
bool AskPlcNumber(Terminal& terminal, const TagFormRules& rules, FormState& state) {
  char answer[kLineSize];
  for (;;) {
    terminal.Print("PLC number (%s; + or - steps it) [%s]: ", rules.plcNumberHint,
                   state.fields.plcText);
    switch (Ask(terminal, answer)) {
      case Reply::kCancel: return false;
      case Reply::kKeep: return true;
      case Reply::kClear: state.fields.plcText[0] = '\0'; return true;
      case Reply::kText: break;
    }
    if (!IsSpinAnswer(answer)) {
      StoreEdited(state.fields.plcText, answer);
      return true;
    }
    for (const char* step = answer; *step != '\0'; ++step) {
      char next[kFormSpinTextSize];
      rules.spinPlcNumber(rules.addressBase, state.fields.plcText,
                          *step == kSpinUp ? SpinDirection::kUp : SpinDirection::kDown, next);
      StoreText(state.fields.plcText, next);
    }
  }
}

void ListChoices(Terminal& terminal, const char* label, const char* const* choices, int count) {
  terminal.Print("%ss:\n", label);
  for (int i = 0; i < count; ++i) terminal.Print("  %s\n", choices[i]);
}

// A list whose items are long is shown as a list (the first time round and
// after a wrong answer); a list of short items is named in the prompt.
bool AskChoice(Terminal& terminal, const char* label, const char* const* choices, int count,
               bool longItems, bool showList, int& choice) {
  if (longItems && showList) ListChoices(terminal, label, choices, count);
  char answer[kLineSize];
  for (;;) {
    terminal.Print("%s", label);
    if (!longItems) {
      terminal.Print(" (");
      for (int i = 0; i < count; ++i) terminal.Print(i == 0 ? "%s" : " %s", choices[i]);
      terminal.Print(")");
    }
    terminal.Print(" [%s]: ", choice == kNoChoice ? "none" : choices[choice]);
    switch (Ask(terminal, answer)) {
      case Reply::kCancel: return false;
      case Reply::kKeep:
      case Reply::kClear: return true;  // a list always keeps a choice once made
      case Reply::kText: break;
    }
    const int found = FindChoice(choices, count, answer);
    if (found != kNoChoice) {
      choice = found;
      return true;
    }
    terminal.Print("Not in the list: %s\n", answer);
    if (longItems) ListChoices(terminal, label, choices, count);
  }
}

template <std::size_t Size>
bool AskEdit(Terminal& terminal, const char* label, const char* hint, char (&field)[Size]) {
  char answer[kLineSize];
  terminal.Print("%s (%s) [%s]: ", label, hint, field);
  switch (Ask(terminal, answer)) {
    case Reply::kCancel: return false;
    case Reply::kKeep: return true;
    case Reply::kClear: field[0] = '\0'; return true;
    case Reply::kText: StoreEdited(field, answer); return true;
  }
  return true;
}

// True for OK, false for Cancel.
bool AskConfirmation(Terminal& terminal) {
  char answer[kLineSize];
  for (;;) {
    terminal.Print("OK or Cancel (O/C) [O]: ");
    switch (Ask(terminal, answer)) {
      case Reply::kCancel: return false;
      case Reply::kKeep:
      case Reply::kClear: return true;
      case Reply::kText: break;
    }
    if (SameLetters(answer, "OK", std::strlen(answer) + 1) || SameLetters(answer, "O", 2)) {
      return true;
    }
    if (SameLetters(answer, "CANCEL", std::strlen(answer) + 1) || SameLetters(answer, "C", 2)) {
      return false;
    }
  }
}

// The texts the dialog's controls would give back for the state.
void ReadBack(const TagFormRules& rules, const FormState& state, TagFormFields& fields) {
  fields = state.fields;
  fields.memoryTypeText[0] = '\0';
  if (state.memoryTypeChoice != kNoChoice) {
    StoreText(fields.memoryTypeText, rules.memoryTypeChoices[state.memoryTypeChoice]);
  }
  StoreText(fields.bitText, rules.bitChoices[state.bitChoice]);
}

}  // namespace

FormResult ShowTagFormatForm(const TagFormRules& rules, void*, TagFormFields& fields) {
  Terminal terminal;
  if (!terminal.Open()) return FormResult::kUnavailable;

  FormState state{};
  StoreText(state.fields.plcText, rules.initialPlcText);
  state.memoryTypeChoice = kNoChoice;
  state.bitChoice = 0;

  terminal.Print("\nTag Format\n");
  terminal.Print("Enter keeps the value in brackets, blanks clear it; Escape or Ctrl-D cancels.\n");
  bool listMemoryTypes = true;
  for (;;) {
    if (!AskPlcNumber(terminal, rules, state) ||
        !AskChoice(terminal, "Memory type", rules.memoryTypeChoices, rules.memoryTypeChoiceCount,
                   true, listMemoryTypes, state.memoryTypeChoice) ||
        !AskEdit(terminal, "Address", rules.addressHint, state.fields.addressText) ||
        !AskChoice(terminal, "Bit number", rules.bitChoices, rules.bitChoiceCount, false,
                   false, state.bitChoice) ||
        !AskConfirmation(terminal)) {
      terminal.Print("Cancelled.\n");
      return FormResult::kCancelled;
    }
    TagFormFields readBack;
    ReadBack(rules, state, readBack);
    const char* refusal = rules.checkFields(rules.addressBase, readBack);
    if (refusal == nullptr) {
      fields = readBack;
      return FormResult::kAccepted;
    }
    terminal.Print("%s: %s\n", rules.errorCaption, refusal);
    listMemoryTypes = false;
  }
}

}  // namespace toldex::platform

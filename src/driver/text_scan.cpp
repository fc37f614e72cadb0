#include "driver/text_scan.h"

#include <limits>

namespace toldex {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

const char* SkipSpace(const char* text) {
  while (IsScanSpace(*text)) ++text;
  return text;
}

int DigitValue(char c, int radix) {
  if (c >= '0' && c <= '9') return c - '0';
  if (radix == 16) {
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  }
  return -1;
}

// %d and %x. `width` 0 means no limit. On success stores the value and moves
// `text` past what was read.
bool ScanNumber(const char*& text, int radix, int width, int32_t& value) {
  const char* position = SkipSpace(text);
  int remaining = width > 0 ? width : std::numeric_limits<int>::max();
  bool negative = false;
  if (remaining > 0 && (*position == '+' || *position == '-')) {
    negative = *position == '-';
    ++position;
    --remaining;
  }
  bool anyDigit = false;
  if (radix == 16 && remaining >= 2 && position[0] == '0' &&
      (position[1] == 'x' || position[1] == 'X')) {
    // "0x" alone reads as 0, as the C library does.
    position += 2;
    remaining -= 2;
    anyDigit = true;
  }
  int64_t magnitude = 0;
  while (remaining > 0 && DigitValue(*position, radix) >= 0) {
    if (magnitude <= kInt32Max + 1) magnitude = magnitude * radix + DigitValue(*position, radix);
    anyDigit = true;
    ++position;
    --remaining;
  }
  if (!anyDigit) return false;
  int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > kInt32Max) signedValue = kInt32Max;
  if (signedValue < kInt32Min) signedValue = kInt32Min;
  value = static_cast<int32_t>(signedValue);
  text = position;
  return true;
}

}  // namespace

bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

int BoundedLength(const char* text, int limit) {
  int length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

int ScanText(const char* text, const char* format, std::initializer_list<ScanTarget> targets) {
  const ScanTarget* target = targets.begin();
  int stored = 0;
  while (*format != '\0') {
    if (IsScanSpace(*format)) {
      text = SkipSpace(text);
      while (IsScanSpace(*format)) ++format;
      continue;
    }
    if (*format != '%' || format[1] == '%') {
      if (*format == '%') ++format;  // "%%" matches one '%'
      if (*text == '\0' || *text != *format) return stored;
      ++text;
      ++format;
      continue;
    }
    ++format;
    int width = 0;
    while (IsDecimalDigit(*format)) width = width * 10 + (*format++ - '0');
    const char conversion = *format++;
    if (target == targets.end()) return stored;
    if (conversion == 'c') {
      if (target->character == nullptr || *text == '\0') return stored;
      *target->character = *text++;
    } else if (conversion == 'd' || conversion == 'x') {
      int32_t value = 0;
      if (target->number == nullptr ||
          !ScanNumber(text, conversion == 'x' ? 16 : 10, width, value)) {
        return stored;
      }
      *target->number = value;
    } else {
      return stored;
    }
    ++target;
    ++stored;
  }
  return stored;
}

}  // namespace toldex

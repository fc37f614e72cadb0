// A small formatted-input scanner with the matching rules of the C library's
// sscanf, for the few forms the driver reads from its initialisation file and
// from gate addresses. It behaves the same with every C library, reads nothing
// past the terminating NUL, and has no undefined case: a number beyond the
// 32-bit range reads as the nearest limit.
//
// Directives of the format:
//   white space  skips any amount of white space in the text, none included;
//   %c, %1c      takes the next character, whatever it is (not the NUL);
//   %d, %Nd      skips white space, then reads an optional sign and decimal
//                digits, at most N characters (sign included) when N is given;
//   %x, %Nx      the same with hexadecimal digits and an optional 0x prefix;
//   other        must match the next character exactly.
// Scanning stops at the first directive that fails; targets of the failed and
// later conversions are left untouched.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace toldex {

// One conversion's destination: a character for %c, a number for %d and %x.
struct ScanTarget {
  ScanTarget(char* target) : character(target) {}
  ScanTarget(int32_t* target) : number(target) {}
  char* character = nullptr;
  int32_t* number = nullptr;
};

// The number of conversions stored (0 when the first one failed).
int ScanText(const char* text, const char* format, std::initializer_list<ScanTarget> targets);

// The white space of the C locale: blank, tab, line feed, vertical tab, form
// feed, carriage return.
bool IsScanSpace(char c);
bool IsDecimalDigit(char c);

// The length of text, or `limit` when no NUL comes within the first `limit`
// characters; never reads past that.
int BoundedLength(const char* text, int limit);

}  // namespace toldex

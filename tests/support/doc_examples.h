// Reads the checked examples of the integrator documents in docs/: a marker
// comment "<!-- checked: NAME -->" precedes a fenced block or a table whose
// contents the tests run against the driver, so the documents cannot drift
// from what the driver does.
#pragma once

#include <string>
#include <vector>

namespace toldex::testing {

// The text of docs/<name>; fails the calling test when it cannot be read.
std::string ReadDocument(const std::string& name);

// The names of every marker whose name begins with `prefix`, in order.
std::vector<std::string> MarkersOf(const std::string& document, const std::string& prefix);

// The lines of the first fenced block after the marker; empty when none.
std::vector<std::string> FencedBlockAfter(const std::string& document, const std::string& marker);

// The body rows of the first table after the marker (header and separator
// row left out), each cell trimmed of blanks.
std::vector<std::vector<std::string>> TableAfter(const std::string& document,
                                                 const std::string& marker);

// A cell's text without its enclosing backticks.
std::string Unquoted(const std::string& cell);
// A cell of several lines written as `one`<br>`two`, each unquoted; a cell of
// "none" gives no lines.
std::vector<std::string> CellLines(const std::string& cell);
// The leading integer of a cell ("-1 (none)" gives -1; "0x1F" is hexadecimal).
long CellNumber(const std::string& cell);

}  // namespace toldex::testing

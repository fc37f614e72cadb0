// Loading a dynamic library at run time, as a host loads its drivers.
//
// A library is opened by file name or path (the system's search rules apply to
// a bare name), a function is found by its exported name, and the library is
// closed again. Used by the command-line host; the driver itself never loads
// another library this way.
#pragma once

#include <cstddef>

namespace toldex::platform {

using LibraryHandle = void*;
constexpr LibraryHandle kNoLibrary = nullptr;

// The library, or kNoLibrary with the system's reason in `reason` (a text of
// at most reasonSize - 1 characters; may be null).
LibraryHandle LibraryOpen(const char* path, char* reason, std::size_t reasonSize);
// The address of the exported function or data `name`, or null when the
// library has no such export.
void* LibraryFind(LibraryHandle library, const char* name);
// 0, or -1 when the system refused to unload it.
int LibraryClose(LibraryHandle library);
// The file the code at `address` was loaded from (a function of a loaded
// library or of the program), written into `path`; false when unknown.
bool LibraryPathOf(const void* address, char* path, std::size_t pathSize);
// The running program's own file; false when unknown.
bool ProgramPath(char* path, std::size_t pathSize);

}  // namespace toldex::platform

// Loading a library on Windows: LoadLibraryA and GetProcAddress, as a host
// loads its driver DLLs.
#include "platform/library_loader.h"

#include <windows.h>

#include <cstdio>

namespace toldex::platform {

LibraryHandle LibraryOpen(const char* path, char* reason, std::size_t reasonSize) {
  HMODULE library = LoadLibraryA(path);
  if (library == nullptr && reason != nullptr && reasonSize > 0) {
    const DWORD code = GetLastError();
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    // System texts end with a line break; a reason is one line.
    DWORD end = length;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '.')) --end;
    text[end] = '\0';
    std::snprintf(reason, reasonSize, "error %lu%s%s", static_cast<unsigned long>(code),
                  end > 0 ? ": " : "", text);
  }
  return library;
}

void* LibraryFind(LibraryHandle library, const char* name) {
  if (library == kNoLibrary) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

int LibraryClose(LibraryHandle library) {
  if (library == kNoLibrary) return 0;
  return FreeLibrary(static_cast<HMODULE>(library)) ? 0 : -1;
}

bool LibraryPathOf(const void* address, char* path, std::size_t pathSize) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return false;
  }
  const DWORD length = GetModuleFileNameA(module, path, static_cast<DWORD>(pathSize));
  return length > 0 && length < pathSize;
}

bool ProgramPath(char* path, std::size_t pathSize) {
  const DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(pathSize));
  return length > 0 && length < pathSize;
}

}  // namespace toldex::platform

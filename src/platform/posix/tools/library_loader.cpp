// Loading a library on POSIX: dlopen with local binding, so that the loaded
// library's symbols never interpose on the program's or another library's.
#include "platform/library_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

namespace toldex::platform {
namespace {

void Explain(char* reason, std::size_t reasonSize) {
  if (reason == nullptr || reasonSize == 0) return;
  const char* text = dlerror();
  std::snprintf(reason, reasonSize, "%s", text != nullptr ? text : "unknown error");
}

}  // namespace

LibraryHandle LibraryOpen(const char* path, char* reason, std::size_t reasonSize) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) Explain(reason, reasonSize);
  return library;
}

void* LibraryFind(LibraryHandle library, const char* name) {
  if (library == kNoLibrary) return nullptr;
  return dlsym(library, name);
}

int LibraryClose(LibraryHandle library) {
  if (library == kNoLibrary) return 0;
  return dlclose(library) == 0 ? 0 : -1;
}

bool LibraryPathOf(const void* address, char* path, std::size_t pathSize) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || pathSize == 0) return false;
  std::snprintf(path, pathSize, "%s", info.dli_fname);
  return true;
}

bool ProgramPath(char* path, std::size_t pathSize) {
  if (pathSize == 0) return false;
  const ssize_t length = readlink("/proc/self/exe", path, pathSize - 1);
  if (length <= 0) return false;
  path[length] = '\0';
  return true;
}

}  // namespace toldex::platform

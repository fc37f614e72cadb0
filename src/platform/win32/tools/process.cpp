// Running a program on Windows: CreateProcessA with inheritable file handles
// for its output, an environment block of the caller's variables and the
// extra ones, and a wait that terminates it at the time limit.
#include "platform/process.h"

#include <windows.h>

#include <cstring>

namespace toldex::platform {
namespace {

HANDLE OpenOutput(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Quoting by the rules that the C run-time's argument parser undoes.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string EnvironmentBlock(const std::vector<std::string>& extra) {
  std::string block;
  char* current = GetEnvironmentStringsA();
  for (const char* entry = current; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
    bool replaced = false;
    for (const std::string& added : extra) {
      const size_t name = added.find('=') + 1;
      replaced = replaced || _strnicmp(entry, added.c_str(), name) == 0;
    }
    if (!replaced) block.append(entry).push_back('\0');
  }
  if (current != nullptr) FreeEnvironmentStringsA(current);
  for (const std::string& added : extra) block.append(added).push_back('\0');
  block.push_back('\0');
  return block;
}

}  // namespace

int RunProcess(const ProcessRun& run) {
  if (run.arguments.empty()) return kProcessNotStarted;
  std::string commandLine;
  for (const std::string& argument : run.arguments) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += Quoted(argument);
  }
  HANDLE output = OpenOutput(run.outputPath);
  HANDLE error = OpenOutput(run.errorPath);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process{};
  std::string environment = EnvironmentBlock(run.environment);
  const BOOL created = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, environment.data(),
                                     nullptr, &startup, &process);
  CloseHandle(output);
  CloseHandle(error);
  CloseHandle(input);
  if (!created) return kProcessNotStarted;
  int result = kProcessNotStarted;
  if (WaitForSingleObject(process.hProcess, run.timeoutMs == 0 ? INFINITE : run.timeoutMs) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    result = kProcessTimedOut;
  } else {
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result = static_cast<int>(code);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

}  // namespace toldex::platform

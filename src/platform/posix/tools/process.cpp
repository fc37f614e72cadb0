// Running a program on POSIX: posix_spawn with the output files opened by the
// spawn itself, and a wait that kills the child at the time limit.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace toldex::platform {
namespace {

constexpr long kPollNanoseconds = 5 * 1000 * 1000;
constexpr int kOutputMode = 0644;

uint64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

int RunProcess(const ProcessRun& run) {
  if (run.arguments.empty()) return kProcessNotStarted;
  std::vector<char*> argv;
  for (const std::string& argument : run.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  std::vector<std::string> names;
  for (const std::string& entry : run.environment) names.push_back(entry.substr(0, entry.find('=') + 1));
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool replaced = false;
    for (const std::string& name : names) replaced = replaced || std::strncmp(*entry, name.c_str(), name.size()) == 0;
    if (!replaced) envp.push_back(*entry);
  }
  for (const std::string& entry : run.environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, run.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   kOutputMode);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, run.errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   kOutputMode);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return kProcessNotStarted;

  const uint64_t deadline = run.timeoutMs == 0 ? 0 : NowMs() + run.timeoutMs;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, deadline == 0 ? 0 : WNOHANG);
    if (done == child) break;
    if (done < 0) return kProcessNotStarted;
    if (NowMs() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return kProcessTimedOut;
    }
    const timespec pause{0, kPollNanoseconds};
    nanosleep(&pause, nullptr);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return kProcessNotStarted;
}

}  // namespace toldex::platform

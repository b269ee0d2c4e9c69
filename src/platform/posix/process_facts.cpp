#include "platform/posix/process_facts.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tv {

bool standardOutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

std::string executablePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

namespace {

std::string environment(const char* name) {
  // systemd's protocol hands its facts over in the environment; they are no
  // settings of the program.
  const char* s = std::getenv(name);
  return s == nullptr ? std::string() : std::string(s);
}

}  // namespace

bool startedBySystemd() {
  if (environment("INVOCATION_ID").empty() && environment("NOTIFY_SOCKET").empty()) return false;
  const std::string execPid = environment("SYSTEMD_EXEC_PID");
  return execPid.empty() || execPid == std::to_string(::getpid());
}

std::string notifySocket() {
  return environment("NOTIFY_SOCKET");
}

}  // namespace tv

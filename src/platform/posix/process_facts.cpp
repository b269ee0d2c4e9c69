#include "platform/posix/process_facts.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tv {

bool standardOutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

std::string executablePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string notifySocket() {
  // systemd's protocol hands the socket over in the environment; it is no
  // setting of the program.
  const char* s = std::getenv("NOTIFY_SOCKET");
  return s == nullptr ? std::string() : std::string(s);
}

}  // namespace tv

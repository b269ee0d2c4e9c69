#include "platform/posix/proc_system_info.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace tv {

std::optional<MemoryStatus> ProcSystemInfo::parse(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::optional<std::uint64_t> total, available;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    std::uint64_t kib = 0;
    if (!(fields >> key >> kib)) continue;
    if (key == "MemTotal:") total = kib * 1024;
    if (key == "MemAvailable:") available = kib * 1024;
  }
  if (!total || !available || *total == 0 || *available > *total) return std::nullopt;
  MemoryStatus s;
  s.totalBytes = *total;
  s.availableBytes = *available;
  s.loadPercent = static_cast<std::uint32_t>((*total - *available) * 100 / *total);
  return s;
}

std::optional<MemoryStatus> ProcSystemInfo::memory() {
  std::ifstream in(path_);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return parse(text.str());
}

std::string ProcSystemInfo::errorText(const SystemError& error) {
  // On Linux the platform's numbers and the C library's are both errno
  // values. The log keeps a line break at the end of the text, as the
  // Windows formatter writes one.
  return std::string(std::strerror(error.value())) + "\n";
}

}  // namespace tv

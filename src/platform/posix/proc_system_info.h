// Memory use from /proc/meminfo: used = MemTotal - MemAvailable, load = used
// / total in percent; error texts from the C library's strerror.
#pragma once

#include <string>

#include "ports/system_info.h"

namespace tv {

class ProcSystemInfo : public SystemInfo {
 public:
  explicit ProcSystemInfo(std::string path = "/proc/meminfo") : path_(std::move(path)) {}
  [[nodiscard]] std::optional<MemoryStatus> memory() override;
  [[nodiscard]] std::string errorText(const SystemError& error) override;

  // The status of a meminfo text; none when a field is missing.
  [[nodiscard]] static std::optional<MemoryStatus> parse(const std::string& text);

 private:
  std::string path_;
};

}  // namespace tv

// What the log asks of the operating system: memory use and the text of a
// system error code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tv {

struct MemoryStatus {
  std::uint64_t totalBytes = 0;
  std::uint64_t availableBytes = 0;
  std::uint32_t loadPercent = 0;
};

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  [[nodiscard]] virtual std::optional<MemoryStatus> memory() = 0;
};

}  // namespace tv

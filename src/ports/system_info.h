// What the log asks of the operating system: memory use and the text of a
// system error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ports/system_error.h"

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
  // The platform's text of an error, as its own error formatter gives it,
  // the line break at its end included: the log appends it to a message.
  [[nodiscard]] virtual std::string errorText(const SystemError& error) = 0;
};

}  // namespace tv

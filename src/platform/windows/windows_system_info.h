// Memory use from GlobalMemoryStatusEx and the system's text of a Win32 error
// code from FormatMessageW, the two things the log asks of Windows.
#pragma once

#include <cstdint>
#include <string>

#include "ports/system_info.h"

namespace tv::win {

class WindowsSystemInfo : public SystemInfo {
 public:
  [[nodiscard]] std::optional<MemoryStatus> memory() override;
  // A platform error is a Win32 code; a C library condition (errc) has the
  // C library's text.
  [[nodiscard]] std::string errorText(const SystemError& error) override;

  // The system's text of a Win32 error code in the user's language, with
  // the line break the system puts at its end written "\n" like every other
  // line of the log; "(Error <code>)" when the system has no text for it.
  [[nodiscard]] static std::string errorText(std::uint32_t code);
};

}  // namespace tv::win

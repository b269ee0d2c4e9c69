// A failure the operating system reported, as one neutral value: a number in
// its category. Ports report numbers in the platform's own numbering
// (std::system_category: errno values on Linux, Win32 error codes on
// Windows); the C library's calls in its errno numbering on every platform
// (std::generic_category); std::filesystem hands over its own error_code.
// The product never reads the number: it passes the value to the log, and
// the platform's SystemInfo port gives the text. Where the product finds a
// failure itself (a name too long for the server, no account to be found)
// it names the condition with std::errc.
#pragma once

#include <system_error>

namespace tv {

using SystemError = std::error_code;

// The number a port reported ("0 or a system error number" in the port contracts).
[[nodiscard]] inline SystemError platformError(int code) {
  return {code, std::system_category()};
}

// A failure the product names itself.
[[nodiscard]] inline SystemError systemError(std::errc condition) {
  return std::make_error_code(condition);
}

// The C library's error of the call that has just failed (fopen, fwrite, fclose).
[[nodiscard]] SystemError lastCLibraryError();

}  // namespace tv

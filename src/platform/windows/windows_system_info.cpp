#include "platform/windows/windows_system_info.h"

#include <windows.h>

#include "platform/windows/wide.h"

namespace tv::win {

std::optional<MemoryStatus> WindowsSystemInfo::memory() {
  MEMORYSTATUSEX m{};
  m.dwLength = sizeof m;
  if (!GlobalMemoryStatusEx(&m) || m.ullTotalPhys == 0) return std::nullopt;
  MemoryStatus s;
  s.totalBytes = m.ullTotalPhys;
  s.availableBytes = m.ullAvailPhys;
  s.loadPercent = m.dwMemoryLoad;
  return s;
}

std::string WindowsSystemInfo::errorText(const SystemError& error) {
  if (error.category() == std::system_category()) {
    return errorText(static_cast<std::uint32_t>(error.value()));
  }
  return error.message() + "\n";
}

std::string WindowsSystemInfo::errorText(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
      0, nullptr);
  if (n == 0 || buffer == nullptr) return "(Error " + std::to_string(code) + ")";
  std::string text = toUtf8(std::wstring_view(buffer, n));
  LocalFree(buffer);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace tv::win

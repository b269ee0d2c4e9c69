#include "platform/windows/wide.h"

#include <windows.h>

#include <climits>

namespace tv::win {

std::wstring toWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int n = static_cast<int>(utf8.size());
  const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(chars), L'\0');
  if (chars > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, out.data(), chars);
  return out;
}

std::string toUtf8(std::wstring_view utf16) {
  if (utf16.empty() || utf16.size() > INT_MAX) return {};
  const int n = static_cast<int>(utf16.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), n, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace tv::win

#include "platform/windows/process_facts.h"

#include <windows.h>

#include "platform/windows/wide.h"

namespace tv::win {

bool standardOutputIsConsole() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_CHAR;
}

std::string executablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return toUtf8(path);
    }
    path.resize(path.size() * 2);  // cut: the path is longer than the buffer
  }
}

std::vector<std::string> utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> out;
  for (int i = 1; i < argc; ++i) out.push_back(toUtf8(argv[i]));
  return out;
}

}  // namespace tv::win

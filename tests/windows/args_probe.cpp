// A child program for the process runner's tests:
//   args_probe.exe <report file> <exit code> [--write-handle=N] [arguments…]
// writes what it received to the report file (UTF-8, one item per line) and
// ends with the exit code:
//   cmdline=<its command line>     cwd=<its working directory>
//   show=<show-window state, or -1 when none was given>
//   handle=<wrote|none>            (whether handle N was usable: inherited)
//   arg=<each argument as the C runtime split it>
//   split=<each argument as CommandLineToArgvW split it>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>
#include <fstream>
#include <string>

#include "platform/windows/wide.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  using tv::win::toUtf8;
  std::string report = "cmdline=" + toUtf8(GetCommandLineW()) + "\n";
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  report += "cwd=" + toUtf8(cwd) + "\n";
  STARTUPINFOW si{};
  GetStartupInfoW(&si);
  report +=
      "show=" +
      std::to_string((si.dwFlags & STARTF_USESHOWWINDOW) ? static_cast<int>(si.wShowWindow) : -1) +
      "\n";
  int first = 3;
  if (argc > 3 && std::wcsncmp(argv[3], L"--write-handle=", 15) == 0) {
    HANDLE h =
        reinterpret_cast<HANDLE>(static_cast<INT_PTR>(std::wcstoll(argv[3] + 15, nullptr, 10)));
    DWORD written = 0;
    const bool wrote = WriteFile(h, "x", 1, &written, nullptr) && written == 1;
    report += std::string("handle=") + (wrote ? "wrote" : "none") + "\n";
    first = 4;
  }
  for (int i = first; i < argc; ++i) report += "arg=" + toUtf8(argv[i]) + "\n";
  int n = 0;
  if (LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = first; i < n; ++i) report += "split=" + toUtf8(split[i]) + "\n";
    LocalFree(split);
  }
  std::ofstream(argv[1], std::ios::binary) << report;
  return static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
}

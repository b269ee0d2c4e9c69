// A child program for the process runner's tests:
//   args_probe.exe <report file> <exit code> [options…] [arguments…]
// writes what it received to the report file (UTF-8, one item per line),
// then does what the options ask and ends with the exit code:
//   cmdline=<its command line>     cwd=<its working directory>
//   show=<show-window state, or -1 when none was given>
//   handle=<wrote|none>            (whether handle N was usable: inherited)
//   child=<process id>             (the sleeper it started)
//   arg=<each argument as the C runtime split it>
//   split=<each argument as CommandLineToArgvW split it>
// Options: --write-handle=N, --print=TEXT (to standard output),
// --print-bytes=N (that many "x"), --spawn-sleeper=REPORT (starts
// "args_probe REPORT 0 --sleep=60000" and leaves it running), --sleep=MS.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>
#include <fstream>
#include <string>

#include "platform/windows/wide.h"

namespace {

bool option(const wchar_t* arg, const wchar_t* name, const wchar_t** value) {
  const std::size_t n = std::wcslen(name);
  if (std::wcsncmp(arg, name, n) != 0) return false;
  *value = arg + n;
  return true;
}

void writeOut(const std::string& bytes) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

}  // namespace

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
  DWORD sleep = 0;
  for (const wchar_t* value = nullptr; first < argc; ++first) {
    if (option(argv[first], L"--write-handle=", &value)) {
      HANDLE h = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(std::wcstoll(value, nullptr, 10)));
      DWORD written = 0;
      const bool wrote = WriteFile(h, "x", 1, &written, nullptr) && written == 1;
      report += std::string("handle=") + (wrote ? "wrote" : "none") + "\n";
    } else if (option(argv[first], L"--print=", &value)) {
      writeOut(toUtf8(value));
    } else if (option(argv[first], L"--print-bytes=", &value)) {
      writeOut(std::string(std::wcstoul(value, nullptr, 10), 'x'));
    } else if (option(argv[first], L"--sleep=", &value)) {
      sleep = std::wcstoul(value, nullptr, 10);
    } else if (option(argv[first], L"--spawn-sleeper=", &value)) {
      wchar_t self[MAX_PATH];
      GetModuleFileNameW(nullptr, self, MAX_PATH);
      std::wstring line = L"\"" + std::wstring(self) + L"\" \"" + value + L"\" 0 --sleep=60000";
      STARTUPINFOW child{};
      child.cb = sizeof child;
      PROCESS_INFORMATION pi{};
      if (CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &child,
                         &pi)) {
        report += "child=" + std::to_string(pi.dwProcessId) + "\n";
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
      }
    } else {
      break;
    }
  }
  for (int i = first; i < argc; ++i) report += "arg=" + toUtf8(argv[i]) + "\n";
  int n = 0;
  if (LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = first; i < n; ++i) report += "split=" + toUtf8(split[i]) + "\n";
    LocalFree(split);
  }
  std::ofstream(argv[1], std::ios::binary) << report;
  if (sleep > 0) Sleep(sleep);
  return static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
}

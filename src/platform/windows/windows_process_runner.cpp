#include "platform/windows/windows_process_runner.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <optional>

#include "platform/windows/command_line.h"
#include "platform/windows/wide.h"

namespace tv::win {
namespace {

bool isSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool isRelative(const std::wstring& p) {
  if (p.empty() || isSeparator(p[0])) return false;
  return !(p.size() >= 2 && p[1] == L':');
}

bool isFile(const std::wstring& p) {
  const DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The file to start when the name alone would be searched in the wrong
// place: a relative name with a separator, taken from the working directory.
std::wstring resolveProgram(const std::wstring& program, const std::wstring& cwd) {
  const bool hasSeparator = std::any_of(program.begin(), program.end(), isSeparator);
  if (cwd.empty() || !hasSeparator || !isRelative(program)) return {};
  std::wstring full = cwd;
  if (!isSeparator(full.back())) full += L'\\';
  full += program;
  std::replace(full.begin(), full.end(), L'/', L'\\');
  if (isFile(full)) return full;
  if (isFile(full + L".exe")) return full + L".exe";
  return {};
}

bool isBatch(const std::wstring& program) {
  if (program.size() < 4) return false;
  std::wstring ext = program.substr(program.size() - 4);
  for (wchar_t& c : ext) c = static_cast<wchar_t>(std::towlower(c));
  return ext == L".bat" || ext == L".cmd";
}

std::wstring cmdExe() {
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"cmd.exe";
  return std::wstring(dir, n) + L"\\cmd.exe";
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  [[nodiscard]] HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace

std::optional<std::string> batchCommandLine(const std::string& script,
                                            const std::vector<std::string>& args) {
  if (script.find('"') != std::string::npos) return std::nullopt;
  // Inside double quotes cmd.exe takes & | < > ( ) ^ and blanks literally;
  // it still expands %…% and ends the quote at the next ", and a line break
  // ends the command. Those cannot be passed at all.
  std::string line = "/d /e:on /v:off /s /c \"\"" + script + "\"";
  for (const std::string& a : args) {
    if (a.find_first_of("\"%\r\n") != std::string::npos || a.find('\0') != std::string::npos) {
      return std::nullopt;
    }
    const bool plain = !a.empty() && a.find_first_of(" \t&|<>()^,;=!") == std::string::npos;
    line += plain ? " " + a : " \"" + a + "\"";
  }
  return line + "\"";
}

ProcessResult WindowsProcessRunner::run(const std::vector<std::string>& argv,
                                        const std::string& cwd) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.startError = ERROR_FILE_NOT_FOUND;
    return result;
  }
  const std::wstring wcwd = toWide(cwd);
  std::wstring program = resolveProgram(toWide(argv[0]), wcwd);
  const std::wstring named = program.empty() ? toWide(argv[0]) : program;

  std::wstring application;  // empty: the command line's first word is searched
  std::optional<std::string> line;
  if (isBatch(named)) {
    std::vector<std::string> args(argv.begin() + 1, argv.end());
    line = batchCommandLine(toUtf8(named), args);
    if (!line) {
      result.startError = ERROR_INVALID_PARAMETER;
      return result;
    }
    application = cmdExe();
    line = "cmd.exe " + *line;
  } else {
    line = commandLine(argv);
    if (!line) {
      result.startError = ERROR_INVALID_NAME;
      return result;
    }
    application = program;
  }
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::wstring wline = toWide(*line);
  wline.push_back(L'\0');

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEPOSITION;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), wline.data(), nullptr,
                      nullptr, FALSE, 0, nullptr, wcwd.empty() ? nullptr : wcwd.c_str(), &si,
                      &pi)) {
    result.startError = static_cast<int>(GetLastError());
    return result;
  }
  Handle process(pi.hProcess);
  CloseHandle(pi.hThread);
  result.started = true;
  result.waitResult = WaitForSingleObject(process.get(), INFINITE);
  DWORD code = kStillActive;
  if (!GetExitCodeProcess(process.get(), &code)) code = kStillActive;
  result.exitCode = code;
  return result;
}

ProcessResult WindowsProcessRunner::runForOutput(const std::vector<std::string>&, std::string&) {
  ProcessResult result;
  result.startError = ERROR_CALL_NOT_IMPLEMENTED;
  return result;
}

void WindowsProcessRunner::endAfterStop(std::chrono::milliseconds) {}

}  // namespace tv::win

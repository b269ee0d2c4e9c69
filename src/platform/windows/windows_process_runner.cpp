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

constexpr std::size_t kOutputBytes = 65536;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      close();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  [[nodiscard]] HANDLE get() const { return h_; }

 private:
  void close() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = nullptr;
  }
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

WindowsProcessRunner::~WindowsProcessRunner() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
}

ProcessResult WindowsProcessRunner::run(const std::vector<std::string>& argv,
                                        const std::string& cwd) {
  return start(argv, cwd, nullptr);
}

ProcessResult WindowsProcessRunner::runForOutput(const std::vector<std::string>& argv,
                                                 std::string& output) {
  output.clear();
  return start(argv, "", &output);
}

ProcessResult WindowsProcessRunner::start(const std::vector<std::string>& argv,
                                          const std::string& cwd, std::string* output) {
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

  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEPOSITION;
  si.StartupInfo.wShowWindow = SW_HIDE;
  DWORD flags = CREATE_SUSPENDED;

  // The pipe for the output: our end is never inheritable, the program's end
  // only in the copy made for it below.
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (output != nullptr && !CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
    result.startError = static_cast<int>(GetLastError());
    return result;
  }
  Handle reader(readEnd);
  Handle writer(writeEnd);
  Handle job(CreateJobObjectW(nullptr, nullptr));

  PROCESS_INFORMATION pi{};
  BOOL created = FALSE;
  DWORD startError = 0;
  std::uint64_t id = 0;
  {
    // Inheritable handles exist only inside this lock, and every start of
    // this runner takes it, so no other program of ours can inherit them.
    static std::mutex inheriting;
    std::lock_guard inheritLock(inheriting);
    std::lock_guard lock(mutex_);
    HANDLE childOut = nullptr;
    HANDLE nul = INVALID_HANDLE_VALUE;
    std::vector<char> attributes;
    bool inherit = false;
    if (output != nullptr) {
      SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
      nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &sa, OPEN_EXISTING, 0, nullptr);
      if (nul == INVALID_HANDLE_VALUE ||
          !DuplicateHandle(GetCurrentProcess(), writeEnd, GetCurrentProcess(), &childOut, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
        startError = GetLastError();
      } else {
        HANDLE list[2] = {nul, childOut};
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes.resize(size);
        si.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (!InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size) ||
            !UpdateProcThreadAttribute(si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                       list, sizeof list, nullptr, nullptr)) {
          startError = GetLastError();
          si.lpAttributeList = nullptr;
        } else {
          flags |= EXTENDED_STARTUPINFO_PRESENT;
          si.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
          si.StartupInfo.hStdInput = nul;
          si.StartupInfo.hStdOutput = childOut;
          si.StartupInfo.hStdError = nul;
          inherit = true;
        }
      }
    }
    if (startError == 0) {
      created = CreateProcessW(application.empty() ? nullptr : application.c_str(), wline.data(),
                               nullptr, nullptr, inherit, flags, nullptr,
                               wcwd.empty() ? nullptr : wcwd.c_str(), &si.StartupInfo, &pi);
      if (!created) startError = GetLastError();
    }
    if (si.lpAttributeList != nullptr) DeleteProcThreadAttributeList(si.lpAttributeList);
    if (childOut != nullptr) CloseHandle(childOut);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (created) {
      // In its job before its first instruction, so nothing it starts can
      // escape the job. Where the job cannot be had, the program alone is
      // ended after a stop.
      HANDLE jobHandle = job.get();
      if (jobHandle == nullptr || !AssignProcessToJobObject(jobHandle, pi.hProcess)) {
        jobHandle = nullptr;
      }
      id = ++nextChild_;
      children_[id] = Child{jobHandle, pi.hProcess, Clock::now(), false};
      ResumeThread(pi.hThread);
      CloseHandle(pi.hThread);
    }
  }
  writer = Handle(nullptr);  // the program holds the only write end now
  if (!created) {
    result.startError = static_cast<int>(startError);
    return result;
  }
  changed_.notify_all();
  Handle process(pi.hProcess);
  result.started = true;

  if (output != nullptr) {
    char buf[4096];
    DWORD n = 0;
    // Ends when every holder of the write end is gone: the program and
    // whatever it handed the pipe to, or the job the watchdog ended.
    while (ReadFile(reader.get(), buf, sizeof buf, &n, nullptr) && n > 0) {
      const std::size_t room = kOutputBytes - std::min(kOutputBytes, output->size());
      output->append(buf, std::min(room, static_cast<std::size_t>(n)));
    }
  }
  result.waitResult = WaitForSingleObject(process.get(), INFINITE);
  DWORD code = kStillActive;
  if (!GetExitCodeProcess(process.get(), &code)) code = kStillActive;
  result.exitCode = code;
  {
    std::lock_guard lock(mutex_);
    result.endedAfterStop = children_[id].ended;
    children_.erase(id);
  }
  changed_.notify_all();
  return result;
}

void WindowsProcessRunner::endAfterStop(std::chrono::milliseconds grace) {
  {
    std::lock_guard lock(mutex_);
    if (!stopAt_) {
      stopAt_ = Clock::now();
      grace_ = grace;
    }
    if (!watchdog_.joinable()) watchdog_ = std::thread([this] { watch(); });
  }
  changed_.notify_all();
}

void WindowsProcessRunner::watch() {
  std::unique_lock lock(mutex_);
  while (!closing_) {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> next;
    for (auto& [id, child] : children_) {
      if (child.ended) continue;
      const Clock::time_point deadline = std::max(*stopAt_, child.started) + grace_;
      if (deadline <= now) {
        if (child.job != nullptr) {
          TerminateJobObject(child.job, 1);
        } else {
          TerminateProcess(child.process, 1);
        }
        child.ended = true;
      } else if (!next || deadline < *next) {
        next = deadline;
      }
    }
    if (next) {
      changed_.wait_until(lock, *next);
    } else {
      changed_.wait(lock);
    }
  }
}

}  // namespace tv::win

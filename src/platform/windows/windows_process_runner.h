// Child processes on Windows: CreateProcessW with the Windows command line of
// the argument vector (command_line.h), a hidden window, no inherited handles,
// waited for without a time-out. Wait result and exit code are the ones
// WaitForSingleObject and GetExitCodeProcess give, so 259 (STILL_ACTIVE) and
// WAIT_FAILED reach the product as the platform reports them.
//
// A relative program name with a path separator is found from the working
// directory, as on Linux ("script/7za.exe" below the data folder); a bare name
// is searched the Windows way (PATH).
//
// Batch files (.bat, .cmd) run through cmd.exe, which reads & | < > ( ) ^
// and % in its command line. They are started through cmd.exe explicitly
// with each such argument in double quotes, and an argument that cmd.exe
// would still read (a double quote, %, a line break) is refused before
// anything starts (ERROR_INVALID_PARAMETER): a name from a job file never
// becomes a command.
//
// Every program starts suspended in a job object of its own and only then
// runs, so whatever it starts belongs to the same job. After endAfterStop() a
// watchdog thread ends, with TerminateJobObject (exit code 1), the whole job
// of every program that outlives its grace; a job is let go of before its
// handles are closed, so the watchdog never ends a job that is no longer ours.
//
// runForOutput gives the program the NUL device as standard input and error
// and a pipe as standard output, and nothing else: the pipe's end is made
// inheritable only for the moment of the start and only that program gets it
// (its explicit handle list), so no other program keeps the pipe open.
// Output beyond the first 64 KiB is read and dropped, so the program never
// blocks on a full pipe.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ports/process_runner.h"

namespace tv::win {

class WindowsProcessRunner : public ProcessRunner {
 public:
  WindowsProcessRunner() = default;
  ~WindowsProcessRunner() override;
  WindowsProcessRunner(const WindowsProcessRunner&) = delete;
  WindowsProcessRunner& operator=(const WindowsProcessRunner&) = delete;

  // startError is a Win32 error code.
  ProcessResult run(const std::vector<std::string>& argv, const std::string& cwd) override;
  ProcessResult runForOutput(const std::vector<std::string>& argv, std::string& output) override;
  void endAfterStop(std::chrono::milliseconds grace) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Child {
    HANDLE job = nullptr;      // the program's job, or null when it has none
    HANDLE process = nullptr;  // ended alone when there is no job
    Clock::time_point started;
    bool ended = false;  // the watchdog ended it
  };

  ProcessResult start(const std::vector<std::string>& argv, const std::string& cwd,
                      std::string* output);
  void watch();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::uint64_t, Child> children_;
  std::uint64_t nextChild_ = 0;
  std::optional<Clock::time_point> stopAt_;
  std::chrono::milliseconds grace_{0};
  bool closing_ = false;
  std::thread watchdog_;
};

// The command line cmd.exe gets for a batch file and its arguments
// ("/d /e:on /v:off /s /c \"...\""), or none when an argument cannot be
// passed to a batch file safely.
[[nodiscard]] std::optional<std::string> batchCommandLine(const std::string& script,
                                                          const std::vector<std::string>& args);

}  // namespace tv::win

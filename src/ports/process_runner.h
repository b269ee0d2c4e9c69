// Starting external programs (hook scripts, the archiver, the UNI-login
// program). Always an argument vector, never a shell: whatever a job file
// puts into an argument stays one argument.
//
// A program starts with the platform's default signal handling, whatever the
// service itself ignores or blocks, and in a process group of its own, so that
// it can be ended together with everything it started.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tv {

// Wait results and the exit code of a process still running, numbered as
// the platform's wait call and exit-code query number them.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitAbandoned = 0x80;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kStillActive = 259;

struct ProcessResult {
  bool started = false;          // false: the program could not be started
  int startError = 0;            // system error number of the platform when !started
  std::uint32_t waitResult = 0;  // 0 when the wait ended normally (WAIT_OBJECT_0)
  std::uint32_t exitCode = 0;    // 259 while still active; a signal gives 128 + signal
  bool endedAfterStop = false;   // still running when the grace after a stop ran out
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // Runs argv[0] with argv, working directory cwd (empty: unchanged), waits
  // for it without a time-out.
  virtual ProcessResult run(const std::vector<std::string>& argv, const std::string& cwd) = 0;
  // The same, with the program's standard output (its first 64 KiB) in output.
  virtual ProcessResult runForOutput(const std::vector<std::string>& argv, std::string& output) = 0;
  // The service is stopping: from now on the wait for a program ends after
  // grace, counted from now or from the program's start when that is later;
  // a program still running then is ended with its whole process group, and
  // its result says so.
  virtual void endAfterStop(std::chrono::milliseconds grace) = 0;
};

}  // namespace tv

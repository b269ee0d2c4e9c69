// Starting external programs (hook scripts, the archiver, the UNI-login
// program). Always an argument vector, never a shell: whatever a job file
// puts into an argument stays one argument.
#pragma once

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
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // Runs argv[0] with argv, working directory cwd (empty: unchanged), waits
  // for it without a time-out.
  virtual ProcessResult run(const std::vector<std::string>& argv, const std::string& cwd) = 0;
};

}  // namespace tv

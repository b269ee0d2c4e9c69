// Child processes started with posix_spawn from an argument vector (never a
// shell) and waited for with waitid/waitpid. The child gets /dev/null as
// standard input and none of the program's other descriptors (the log file
// stays ours), every signal at its default disposition and unblocked, and a
// process group of its own.
//
// After endAfterStop() a watchdog thread ends, with SIGKILL to its process
// group, every child that outlives its grace. A child is reaped only after
// the watchdog has let go of it, so a process group id is never signalled
// once the system could have given it to someone else.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "ports/process_runner.h"

namespace tv {

class PosixProcessRunner : public ProcessRunner {
 public:
  PosixProcessRunner() = default;
  ~PosixProcessRunner() override;
  PosixProcessRunner(const PosixProcessRunner&) = delete;
  PosixProcessRunner& operator=(const PosixProcessRunner&) = delete;

  ProcessResult run(const std::vector<std::string>& argv, const std::string& cwd) override;
  ProcessResult runForOutput(const std::vector<std::string>& argv, std::string& output) override;
  void endAfterStop(std::chrono::milliseconds grace) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Child {
    Clock::time_point started;
    bool ended = false;  // the watchdog ended its group
  };

  ProcessResult spawnAndWait(const std::vector<std::string>& argv, const std::string& cwd,
                             std::string* output);
  void watch();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<pid_t, Child> children_;
  std::optional<Clock::time_point> stopAt_;
  std::chrono::milliseconds grace_{0};
  bool closing_ = false;
  std::thread watchdog_;
};

}  // namespace tv

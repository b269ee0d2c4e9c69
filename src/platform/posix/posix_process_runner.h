// Child processes started with posix_spawn from an argument vector (never a
// shell) and waited for with waitpid. The child gets /dev/null as standard
// input and none of the program's other descriptors (the log file stays ours).
#pragma once

#include "ports/process_runner.h"

namespace tv {

class PosixProcessRunner : public ProcessRunner {
 public:
  ProcessResult run(const std::vector<std::string>& argv, const std::string& cwd) override;
};

}  // namespace tv

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
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/process_runner.h"

namespace tv::win {

class WindowsProcessRunner : public ProcessRunner {
 public:
  // startError is a Win32 error code.
  ProcessResult run(const std::vector<std::string>& argv, const std::string& cwd) override;
  // Not yet built for Windows: reports ERROR_CALL_NOT_IMPLEMENTED.
  ProcessResult runForOutput(const std::vector<std::string>& argv, std::string& output) override;
  void endAfterStop(std::chrono::milliseconds grace) override;
};

// The command line cmd.exe gets for a batch file and its arguments
// ("/d /e:on /v:off /s /c \"...\""), or none when an argument cannot be
// passed to a batch file safely.
[[nodiscard]] std::optional<std::string> batchCommandLine(const std::string& script,
                                                          const std::vector<std::string>& args);

}  // namespace tv::win

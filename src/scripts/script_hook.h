// The school's hook scripts: a configured command line with the event's
// arguments appended, started without a shell from the data folder and waited
// for without a time-out. In test mode (IDrift off) a hook is only logged.
//
// The command line is split into an argument vector the way Windows splits
// one: blanks separate arguments, double quotes group them, and nothing else
// is special — a single quote is an ordinary character, so a login such as
// "O'Brien", "x;touch f" or "$(id)" reaches the script as it stands and is
// never interpreted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/process_runner.h"

namespace tv {

struct Runtime;
class Log;

inline constexpr std::size_t kCommandLineChars = 287;

// Appends a double quote when the line holds an odd number of them, then a
// single quote when it holds an odd number of those.
[[nodiscard]] std::string balanceQuotes(std::string line);

// Blank-separated arguments; a double-quoted stretch belongs to its argument
// without the quotes. An unterminated quote runs to the end.
[[nodiscard]] std::vector<std::string> splitCommandLine(const std::string& line);

// "<script> <argument>", cut and balanced. Live mode logs " Kører Script: "
// and runs it; test mode logs the "IDrift = 0: Test af Script" line only.
void runScript(Runtime& rt, const std::string& script, const std::string& argument,
               const std::string& label);

// "<script> <first> <second>", run whatever the mode (the caller decides).
// Returns the exit code, 0 when it could not be started.
std::uint32_t runScript(Runtime& rt, const std::string& script, const std::string& first,
                        const std::string& second, const std::string& label);

// Runs a built command line; the exit code, 0 when it could not be started.
std::uint32_t runCommand(Runtime& rt, const std::string& commandLine, const std::string& label);

// The wait-result line of a finished program: an error line for an abandoned,
// timed-out or failed wait, an Info line with the value otherwise.
void logWaitResult(Log& log, std::uint32_t waitResult);

// The line for a program that was still running when the grace after a stop
// ran out, and was ended with everything it started; nothing otherwise.
void logEndedAfterStop(Runtime& rt, const ProcessResult& result, const std::string& program);

}  // namespace tv

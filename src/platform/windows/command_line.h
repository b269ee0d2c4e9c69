// The Windows command line of an argument vector. A Windows program receives
// one string and splits it itself (the C runtime and CommandLineToArgvW agree
// on the rules), so each argument is written so that the split gives it back
// unchanged: double quotes around an argument with blanks, tabs or quotes,
// a quote inside as \", and backslashes doubled only where they come before a
// quote. Single quotes mean nothing to Windows and are passed as they are.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tv::win {

// One argument (not the program name) as the command line writes it.
[[nodiscard]] std::string quoteArgument(const std::string& argument);

// The whole command line; none when the program name holds a double quote,
// which no Windows file name can and no quoting can carry.
[[nodiscard]] std::optional<std::string> commandLine(const std::vector<std::string>& argv);

}  // namespace tv::win

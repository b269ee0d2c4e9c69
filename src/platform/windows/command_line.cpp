#include "platform/windows/command_line.h"

namespace tv::win {

std::string quoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there each one is doubled and
    // the quote itself escaped.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  // The closing quote follows, so trailing backslashes are doubled too.
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::optional<std::string> commandLine(const std::vector<std::string>& argv) {
  if (argv.empty()) return std::nullopt;
  const std::string& program = argv[0];
  // The program name is split by simpler rules: up to the first blank, or
  // between two quotes with no escapes at all.
  if (program.find('"') != std::string::npos) return std::nullopt;
  std::string line = program.find_first_of(" \t") == std::string::npos && !program.empty()
                         ? program
                         : "\"" + program + "\"";
  for (std::size_t i = 1; i < argv.size(); ++i) line += " " + quoteArgument(argv[i]);
  return line;
}

}  // namespace tv::win

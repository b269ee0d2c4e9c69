// The process's command line: one of "-i [path]", "-u", "-d", or nothing (run
// as a service, or show the usage text at a terminal). Only the first option
// argument is examined, and only when it is exactly a dash and one letter.
// "--config-root DIR" (the folder of the install keys) and "--unit-folder DIR"
// (where "-i" puts the service unit) may come first, each at most once.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tv {

struct CommandLine {
  enum class Mode { kInstall, kUninstall, kDebug, kServiceOrUsage };
  Mode mode = Mode::kServiceOrUsage;
  std::string installPath;  // "-i": the data folder, "." when absent or empty
  std::optional<std::string> configRoot;
  std::optional<std::string> unitFolder;
};

// args excludes the program name.
[[nodiscard]] CommandLine parseCommandLine(const std::vector<std::string>& args);

// The usage text, line by line as written to standard error.
[[nodiscard]] std::string usageText();

}  // namespace tv

#include "service/command_line.h"

#include "config/version.h"
#include "text/text.h"

namespace tv {

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  std::size_t first = 0;
  while (first < args.size()) {
    std::optional<std::string>* target = args[first] == "--config-root"   ? &cl.configRoot
                                         : args[first] == "--unit-folder" ? &cl.unitFolder
                                                                          : nullptr;
    if (target == nullptr) break;
    // A folder option without its folder, or given twice, makes the whole
    // line no command: it shows the usage rather than guessing.
    if (target->has_value() || first + 1 >= args.size() || args[first + 1].empty()) {
      return CommandLine{};
    }
    *target = args[first + 1];
    first += 2;
  }
  if (first >= args.size()) return cl;
  const std::string& opt = args[first];
  if (opt.size() != 2 || opt[0] != '-') return cl;
  switch (opt[1]) {
    case 'i':
      cl.mode = CommandLine::Mode::kInstall;
      cl.installPath = first + 1 < args.size() && !args[first + 1].empty() ? args[first + 1] : ".";
      break;
    case 'u':
      cl.mode = CommandLine::Mode::kUninstall;
      break;
    case 'd':
      cl.mode = CommandLine::Mode::kDebug;
      break;
    default:
      break;
  }
  return cl;
}

std::string usageText() {
  return format("Tavlevagt ver. %s (%s) - (%s %s %s)\n", kVersion, kReleaseDate, kPlatform,
                buildDate(), buildTime()) +
         format("Usage: %s -i path|-u|-d\n", "Tavlevagt") +
         "  -i path      Install service. Datafile reside in 'path'\n"
         "  -u           Uninstall service\n"
         "  -d           Debug: run as console program\n"
         "\n";
}

}  // namespace tv

// Fuzz target for the command line: the input is split at zero bytes into
// arguments. Whatever they hold, parsing must not fail, the mode must follow
// from the first non-folder argument alone, and "-i" always yields a path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "service/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  if (size == 0) args.clear();
  tv::CommandLine cl = tv::parseCommandLine(args);
  if (cl.mode == tv::CommandLine::Mode::kInstall && cl.installPath.empty()) std::abort();
  if (cl.mode != tv::CommandLine::Mode::kInstall && !cl.installPath.empty()) std::abort();
  if (cl.configRoot && cl.configRoot->empty()) std::abort();
  if (cl.unitFolder && cl.unitFolder->empty()) std::abort();
  // With no folder option in front the mode comes from the first argument alone.
  if (!args.empty() && args[0].rfind("--", 0) != 0) {
    bool option = args[0].size() == 2 && args[0][0] == '-' &&
                  (args[0][1] == 'i' || args[0][1] == 'u' || args[0][1] == 'd');
    if (option == (cl.mode == tv::CommandLine::Mode::kServiceOrUsage)) std::abort();
  }
  return 0;
}

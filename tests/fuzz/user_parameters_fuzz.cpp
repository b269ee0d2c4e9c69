// Fuzz target: the terminal-services userParameters blob. Any bytes must
// either be refused or parse into properties that build back to a blob that
// parses the same; setting the profile path must keep every other property.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sync/terminal_services.h"

namespace tv::fuzz {

int userParametersFuzzOne(const std::uint8_t* data, std::size_t size) {
  const std::string blob(reinterpret_cast<const char*>(data), size);
  auto parsed = parseUserParameters(blob);
  if (!parsed) return 0;
  (void)tsStringProperty(*parsed, kTsProfilePath);
  const std::string rebuilt = buildUserParameters(*parsed);
  auto again = parseUserParameters(rebuilt);
  if (!again || again->properties.size() != parsed->properties.size()) __builtin_trap();
  auto updated = withTerminalProfilePath(blob, "\\\\srv\\ts\\anbe");
  if (!updated) __builtin_trap();
  auto back = parseUserParameters(*updated);
  if (!back || tsStringProperty(*back, kTsProfilePath) != "\\\\srv\\ts\\anbe") __builtin_trap();
  for (const TsProperty& p : parsed->properties) {
    if (p.name == kTsProfilePath) continue;
    bool kept = false;
    for (const TsProperty& q : back->properties)
      kept = kept || (q.name == p.name && q.value == p.value);
    if (!kept) __builtin_trap();
  }
  return 0;
}

}  // namespace tv::fuzz

#ifndef TAVLEVAGT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tv::fuzz::userParametersFuzzOne(data, size);
}
#endif

// Fuzz target: LDIF snapshots. Any input must load or be refused with a
// reason; a snapshot that loads must save and load again to the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/memory/memory_directory.h"

namespace tv::fuzz {

int ldifFuzzOne(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  MemoryDirectory dir;
  if (!dir.loadLdif(text).empty()) return 0;
  const std::string saved = dir.saveLdif();
  MemoryDirectory again;
  if (!again.loadLdif(saved).empty()) __builtin_trap();
  if (again.saveLdif() != saved) __builtin_trap();
  return 0;
}

}  // namespace tv::fuzz

#ifndef TAVLEVAGT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tv::fuzz::ldifFuzzOne(data, size);
}
#endif

// Fuzz target: search filters as the memory directory parses and evaluates
// them. Any input must give a parse result or an error, never a crash, and a
// filter that parses must run as a search without failing the directory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "directory/hresult.h"
#include "platform/memory/filter.h"
#include "platform/memory/memory_directory.h"

namespace tv::fuzz {

int filterFuzzOne(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto parsed = memdir::parseFilter(text);
  if (!parsed.filter) return 0;
  static MemoryDirectory* dir = [] {
    auto* d = new MemoryDirectory();
    auto base = d->bind("LDAP://CN=Users,DC=skole,DC=test");
    auto user = base.value->create("user", "CN=anbe");
    (void)user.value->put("sAMAccountName", "anbe");
    (void)user.value->setInfo();
    return d;
  }();
  const Hresult hr = dir->search("DC=skole,DC=test", text, {"name"}, SearchScope::kSubtree, 20,
                                 [](const SearchRow&) { return true; });
  if (hr != kSOk) __builtin_trap();
  return 0;
}

}  // namespace tv::fuzz

#ifndef TAVLEVAGT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tv::fuzz::filterFuzzOne(data, size);
}
#endif

// Fuzz target: the SMB adapter's texts from outside, the security descriptor
// text libsmbclient hands back and a credentials file. Any bytes must parse
// without harm; an access list that parsed must format and parse back to the
// same entries.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/smb/smb_file_server.h"

namespace tv::fuzz {

int smbDescriptorFuzzOne(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto entries = parseSecurityDescriptor(text);
  auto again = parseSecurityDescriptor(formatAccessList(entries));
  if (again.size() != entries.size()) __builtin_trap();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // A SID text with a separator inside cannot come back whole; all else must.
    if (entries[i].sid.find_first_of(",\t\n") != std::string::npos) continue;
    if (!(again[i] == entries[i])) __builtin_trap();
  }
  (void)parseSmbCredentials(text);
  (void)smbUrl(text);
  return 0;
}

}  // namespace tv::fuzz

#ifndef TAVLEVAGT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tv::fuzz::smbDescriptorFuzzOne(data, size);
}
#endif

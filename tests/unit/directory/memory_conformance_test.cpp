// The conformance suite over the memory directory, in a domain with and
// without the mail server's schema attributes.
#include "conformance/directory_conformance.h"

#include "platform/memory/memory_directory.h"

namespace tv::test {
namespace {

ConformanceTarget memoryTarget(bool mail) {
  ConformanceTarget t;
  t.baseDn = "OU=Konformitet,DC=skole,DC=test";
  t.mailSchema = mail;
  t.open = [mail]() -> std::unique_ptr<Directory> {
    MemoryDirectoryOptions options;
    options.mailAttributes = mail;
    auto dir = std::make_unique<MemoryDirectory>(options);
    auto domain = dir->bind("LDAP://DC=skole,DC=test");
    if (!domain.ok()) return nullptr;
    auto ou = domain.value->create("organizationalUnit", "OU=Konformitet");
    if (!ou.ok() || ou.value->setInfo() != 0) return nullptr;
    return dir;
  };
  return t;
}

INSTANTIATE_TEST_SUITE_P(Memory, DirectoryConformance,
                         ::testing::Values(memoryTarget(false), memoryTarget(true)),
                         conformanceTargetName);

}  // namespace
}  // namespace tv::test

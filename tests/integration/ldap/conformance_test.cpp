// The directory conformance suite over LDAP against the test domain
// controller. The same program runs once per schema variant of the domain;
// the harness says which one is running.
#include "conformance/directory_conformance.h"

#include <cstdlib>

#include "integration/ldap/ldap_test_support.h"
#include "platform/ldap/ldap_directory.h"
#include "support/fakes.h"

namespace tv::test {
namespace {

ConformanceTarget sambaTarget() {
  std::string why;
  static const std::optional<SambaDc> dc = loadSambaDc(&why);
  if (!dc) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::abort();
  }
  static LogFixture log;
  ConformanceTarget t;
  t.baseDn = "OU=Konformitet," + dc->baseDn;
  t.mailSchema = dc->variant == "mail";
  t.open = [base = t.baseDn]() -> std::unique_ptr<Directory> {
    if (freshOu(*dc, base) != 0) return nullptr;
    return openLdapDirectory(adminSettings(*dc, dc->adminPasswordFile), log.log);
  };
  return t;
}

INSTANTIATE_TEST_SUITE_P(Samba, DirectoryConformance, ::testing::Values(sambaTarget()),
                         conformanceTargetName);

}  // namespace
}  // namespace tv::test

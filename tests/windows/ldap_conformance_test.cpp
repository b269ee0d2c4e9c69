// The directory conformance suite through the wldap32 adapter, under Wine,
// against the test domain controller: Negotiate (NTLM through Samba's
// ntlm_auth) with signing and sealing on 389, as a domain-joined service
// binds, only with explicit credentials (Wine cannot bind as the machine).
#include <cstdio>
#include <cstdlib>

#include "conformance/directory_conformance.h"
#include "platform/windows/wldap32_directory.h"
#include "windows/samba_domain.h"

namespace tv::wintest {
using test::DirectoryConformance;

namespace {

// The adapter's log lines (a failed connection …) go to the test's output.
class StderrLog : public LogSink {
 public:
  void write(unsigned, std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
};

test::ConformanceTarget sambaTarget() {
  std::string why;
  static const std::optional<SambaDomain> dc = loadSambaDomain(&why);
  if (!dc) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::abort();
  }
  static StderrLog log;
  test::ConformanceTarget t;
  t.baseDn = "OU=Konformitet," + dc->baseDn;
  t.open = [base = t.baseDn]() -> std::unique_ptr<Directory> {
    std::unique_ptr<Directory> dir = openWldapDirectory(negotiateSettings(*dc), log);
    if (!dir) return nullptr;
    const Hresult hr = freshContainer(*dir, base);
    if (hr < 0) {
      std::fprintf(stderr, "cannot make %s afresh: 0x%08X\n", base.c_str(),
                   static_cast<unsigned>(hr));
      return nullptr;
    }
    return dir;
  };
  return t;
}

INSTANTIATE_TEST_SUITE_P(Wldap32, DirectoryConformance, ::testing::Values(sambaTarget()),
                         test::conformanceTargetName);

}  // namespace
}  // namespace tv::wintest

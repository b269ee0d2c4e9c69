// The job scenarios against a real domain controller: each data folder's
// snapshot is loaded into the test domain, the same cycle runs over the LDAP
// adapter, and the job's log must read exactly as the expected log while the
// domain must end as the memory directory ends (both normalised alike) and
// the change reports must read as the memory directory's. The
// test-mode jobs show that nothing is written; the live jobs of the user
// scenarios that creating, moving, renaming and disabling accounts leave a
// real domain as they leave the memory directory.
//
// The school's subtree (OU=ZEB) is cleared and filled for every scenario, so
// nothing else may write there while this runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "integration/samba/samba_env.h"
#include "integration/scenario/normalised_tree.h"
#include "integration/scenario/snapshot_loader.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/memory/ldif.h"
#include "platform/memory/memory_directory.h"
#include "scenario.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {
namespace fs = std::filesystem;

const SambaDc& dc() {
  return requireSambaDc();
}

ScenarioBackend normalisingMemoryBackend() {
  ScenarioBackend b = memoryBackend();
  b.snapshot = [](Directory& d) { return normalisedTree(d, dc().baseDn); };
  return b;
}

ScenarioBackend sambaBackend() {
  ScenarioBackend b;
  b.open = [](const std::string& folder, Clock&, Log& log,
              std::string* error) -> std::unique_ptr<Directory> {
    const std::string ldif = readWholeFile((fs::path(folder) / "directory.ldif").string());
    std::unique_ptr<Directory> directory;
    for (int attempt = 0; attempt < 20; ++attempt) {
      {
        LogFixture loaderLog;
        std::unique_ptr<Directory> loader = openLdapDirectory(adminSettings(dc()), loaderLog.log);
        if (!loader) {
          *error = "cannot reach the domain controller";
          return nullptr;
        }
        *error = loadSnapshot(*loader, dc().baseDn, ldif);
        if (!error->empty()) return nullptr;
      }
      directory = openLdapDirectory(adminSettings(dc()), log);
      if (!directory || sharedIdentificationsInNameOrder(*directory, dc().baseDn)) break;
    }
    return directory;
  };
  b.snapshot = [](Directory& d) { return normalisedTree(d, dc().baseDn); };
  return b;
}

// The entries of the snapshot that lie in the school's subtree.
std::size_t zebEntries(const std::string& ldif) {
  const std::string zeb = toLower("OU=ZEB," + dc().baseDn);
  std::size_t n = 0;
  for (const memdir::LdifRecord& r : memdir::parseLdif(ldif).records) {
    const std::string dn = toLower(r.dn);
    if (dn == zeb || dn.ends_with("," + zeb)) ++n;
  }
  return n;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
  return n;
}

class ScenarioOnSamba : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioOnSamba, JobLogAsExpectedAndDomainEndsAsMemoryDirectory) {
  const fs::path dir = GetParam();
  if (fs::exists(dir / "mail-schema") && dc().variant != "mail") {
    GTEST_SKIP() << "needs the domain with the mail server's schema";
  }
  const ScenarioOutcome memory = runScenario(dir.string(), normalisingMemoryBackend());
  const ScenarioOutcome samba = runScenario(dir.string(), sambaBackend());

  // The domain holds what the snapshot holds, entry for entry.
  const std::string snapshot = readWholeFile((dir / "directory.ldif").string());
  EXPECT_EQ(count(memory.before, "dn: "), zebEntries(snapshot));
  EXPECT_EQ(samba.before, memory.before);

  const std::string expectedJob = jobPart(readWholeFile((dir / "expected.log").string()));
  ASSERT_FALSE(expectedJob.empty()) << "expected.log has no job part";
  EXPECT_EQ(maskExtendedErrors(jobPart(samba.log)), maskExtendedErrors(expectedJob));
  EXPECT_EQ(samba.directory, memory.directory);
  EXPECT_EQ(samba.report, memory.report);
  if (readWholeFile((dir / "Tavlevagt.ini").string()).find("IDrift=Ja") == std::string::npos) {
    EXPECT_EQ(samba.directory, samba.before) << "a test run changed the domain";
  }
  EXPECT_EQ(samba.jobs, memory.jobs);
  int expectedExit = -1;
  if (fs::exists(dir / "expected-exit")) {
    expectedExit = std::stoi(readWholeFile((dir / "expected-exit").string()));
  }
  EXPECT_EQ(samba.exitCode, expectedExit);
}

// The test-mode jobs and the live jobs of the user scenarios.
INSTANTIATE_TEST_SUITE_P(Jobs, ScenarioOnSamba,
                         ::testing::ValuesIn(scenarioFolders({TAVLEVAGT_SCENARIO_DATA,
                                                              TAVLEVAGT_LIVE_SCENARIO_DATA})),
                         [](const auto& info) { return scenarioTestName(info.param); });

TEST(ExtendedErrorMask, HidesOnlyTheDirectorysOwnText) {
  EXPECT_EQ(
      maskExtendedErrors("** Fejl: (hresult: 0x8007200A)\nError Code: 8202\n"
                         "Error Text: 00000057: x Error Code: 1\nProvider: LDAP Provider\n\n"
                         "   OU OU=Inaktive oprettes\n"),
      "** Fejl: (hresult: 0x8007200A)\nError Code: 8202\n"
      "Error Text: <the directory's>\nProvider: LDAP Provider\n\n   OU OU=Inaktive oprettes\n");
  // The same words elsewhere in a line are the product's and stay.
  EXPECT_EQ(maskExtendedErrors("   x Error Text: 16\n"), "   x Error Text: 16\n");
}

// The comparison is only worth something if the loaded domain matches the
// snapshot and a difference in the domain shows in the normalised text.
TEST(SnapshotInDomain, MatchesMemoryDirectoryAndShowsADifference) {
  const std::string ldif =
      "dn: " + dc().baseDn +
      "\nobjectClass: domainDNS\n\n"
      "dn: OU=ZEB," +
      dc().baseDn +
      "\nobjectClass: organizationalUnit\n\n"
      "dn: OU=Grupper,OU=ZEB," +
      dc().baseDn +
      "\nobjectClass: organizationalUnit\n\n"
      "dn: CN=7A,OU=Grupper,OU=ZEB," +
      dc().baseDn +
      "\nobjectClass: group\nsAMAccountName: 7A\ndescription: Autooprettet af ZEB\n"
      "member: CN=ole,OU=Elev,OU=ZEB," +
      dc().baseDn + "\nmember: CN=bo,OU=Elev,OU=ZEB," + dc().baseDn +
      "\n\n"
      "dn: OU=Elev,OU=ZEB," +
      dc().baseDn +
      "\nobjectClass: organizationalUnit\n\n"
      "dn: CN=ole,OU=Elev,OU=ZEB," +
      dc().baseDn +
      "\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
      "objectClass: user\nsAMAccountName: ole\nuserAccountControl: 514\n"
      "employeeNumber: p1000000000000000000000000000000\n\n"
      "dn: CN=bo,OU=Elev,OU=ZEB," +
      dc().baseDn +
      "\nobjectClass: user\nsAMAccountName: bo\nuserAccountControl: 512\n"
      "objectGUID:: aZsXBuiY3XH420Oj6QVMJg==\nwhenCreated: 20220617104252.0Z\n\n";
  LogFixture logs;
  auto samba = openLdapDirectory(adminSettings(dc()), logs.log);
  ASSERT_NE(samba, nullptr);
  ASSERT_EQ(loadSnapshot(*samba, dc().baseDn, ldif), "");
  MemoryDirectory memory;
  ASSERT_EQ(memory.loadLdif(ldif), "");
  const std::string loaded = normalisedTree(*samba, dc().baseDn);
  EXPECT_EQ(loaded, normalisedTree(memory, dc().baseDn));
  const std::string base = dc().baseDn;
  EXPECT_EQ(loaded,
            "dn: CN=7A,OU=Grupper,OU=ZEB," + base + "\nclass: group\nsAMAccountName: 7A\n" +
                "description: Autooprettet af ZEB\n" + "member: CN=bo,OU=Elev,OU=ZEB," + base +
                "\nmember: CN=ole,OU=Elev,OU=ZEB," + base + "\n\n" + "dn: CN=bo,OU=Elev,OU=ZEB," +
                base + "\nclass: user\nsAMAccountName: bo\ndisabled: no\n\n" +
                "dn: CN=ole,OU=Elev,OU=ZEB," + base + "\nclass: user\nsAMAccountName: ole\n" +
                "employeeNumber: p1000000000000000000000000000000\ndisabled: yes\n\n" +
                "dn: OU=Elev,OU=ZEB," + base + "\nclass: organizationalUnit\n\n" +
                "dn: OU=Grupper,OU=ZEB," + base + "\nclass: organizationalUnit\n\n" +
                "dn: OU=ZEB," + base + "\nclass: organizationalUnit\n\n");

  AdminLdap admin(dc());
  ASSERT_EQ(admin.replace("CN=bo,OU=Elev,OU=ZEB," + base, "userAccountControl", {"514"}), 0);
  const std::string changed = normalisedTree(*samba, dc().baseDn);
  EXPECT_NE(changed, loaded);
  EXPECT_NE(changed.find("sAMAccountName: bo\ndisabled: yes\n"), std::string::npos) << changed;
}

}  // namespace
}  // namespace tv::test

// The tools the scenario runs against a domain controller rest on, checked
// against the memory directory: the normalised tree (what it keeps, what it
// smooths), the job part of a log, and the counting directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "integration/scenario/normalised_tree.h"
#include "platform/memory/memory_directory.h"
#include "scenario.h"
#include "support/counting_directory.h"

namespace tv::test {
namespace {

constexpr const char* kTree =
    "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
    "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Grupper,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: CN=Zoe,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
    "objectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
    "objectClass: user\nsAMAccountName: zoe\nuserAccountControl: 66050\n"
    "employeeNumber: p2000000000000000000000000000000\nemployeeType: 4711\n"
    "description: Autooprettet af ZEB (4711)\nobjectGUID:: aZsXBuiY3XH420Oj6QVMJg==\n"
    "givenName: Zoe\n\n"
    "dn: CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
    "objectClass: user\nsAMAccountName: adam\nuserAccountControl: 512\n\n"
    "dn: CN=7A,OU=Grupper,OU=ZEB,DC=skole,DC=test\nobjectClass: group\n"
    "sAMAccountName: 7A\nmember: CN=Zoe,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
    "member: CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test\n\n"
    "dn: CN=Users,DC=skole,DC=test\nobjectClass: container\n\n"
    "dn: CN=outside,CN=Users,DC=skole,DC=test\nobjectClass: user\nsAMAccountName: outside\n"
    "userAccountControl: 512\n\n";

std::unique_ptr<MemoryDirectory> loaded(const std::string& ldif) {
  auto d = std::make_unique<MemoryDirectory>();
  EXPECT_EQ(d->loadLdif(ldif), "");
  return d;
}

TEST(NormalisedTree, KeepsTheSchoolSubtreeInDnOrderWithOnlyTheComparedFacts) {
  auto d = loaded(kTree);
  EXPECT_EQ(normalisedTree(*d, "DC=skole,DC=test"),
            "dn: CN=7A,OU=Grupper,OU=ZEB,DC=skole,DC=test\nclass: group\nsAMAccountName: 7A\n"
            "member: CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
            "member: CN=Zoe,OU=Elev,OU=ZEB,DC=skole,DC=test\n\n"
            "dn: CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test\nclass: user\nsAMAccountName: adam\n"
            "disabled: no\n\n"
            "dn: CN=Zoe,OU=Elev,OU=ZEB,DC=skole,DC=test\nclass: user\nsAMAccountName: zoe\n"
            "employeeNumber: p2000000000000000000000000000000\nemployeeType: 4711\n"
            "description: Autooprettet af ZEB (4711)\ndisabled: yes\n\n"
            "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nclass: organizationalUnit\n\n"
            "dn: OU=Grupper,OU=ZEB,DC=skole,DC=test\nclass: organizationalUnit\n\n"
            "dn: OU=ZEB,DC=skole,DC=test\nclass: organizationalUnit\n\n");
}

TEST(NormalisedTree, SmoothsOnlyTheNamedDifferences) {
  const std::string base = normalisedTree(*loaded(kTree), "DC=skole,DC=test");
  auto variant = [&base](std::string from, const std::string& to) {
    std::string ldif = kTree;
    const std::size_t p = ldif.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    ldif.replace(p, from.size(), to);
    return normalisedTree(*loaded(ldif), "DC=skole,DC=test") == base;
  };
  // Smoothed: other flags than the disabled bit, the class chain, member order.
  EXPECT_TRUE(variant("userAccountControl: 66050", "userAccountControl: 546"));
  EXPECT_TRUE(
      variant("objectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n", ""));
  EXPECT_TRUE(
      variant("member: CN=Zoe,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
              "member: CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test\n",
              "member: CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
              "member: CN=Zoe,OU=Elev,OU=ZEB,DC=skole,DC=test\n"));
  // Not in the comparison: attributes the scenarios do not touch, entries
  // outside the school's subtree.
  EXPECT_TRUE(variant("givenName: Zoe", "givenName: Zoey"));
  EXPECT_TRUE(variant("sAMAccountName: outside", "sAMAccountName: ude"));
  // Shown: everything a job changes.
  EXPECT_FALSE(variant("userAccountControl: 66050", "userAccountControl: 66048"));
  EXPECT_FALSE(variant("sAMAccountName: zoe", "sAMAccountName: zoe1"));
  EXPECT_FALSE(variant("employeeNumber: p2", "employeeNumber: p3"));
  EXPECT_FALSE(variant("employeeType: 4711", "employeeType: 4712"));
  EXPECT_FALSE(variant("description: Autooprettet af ZEB (4711)", "description: x"));
  EXPECT_FALSE(variant("member: CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test\n", ""));
  EXPECT_FALSE(variant("dn: CN=adam,OU=Elev", "dn: CN=adam,OU=Grupper"));
  EXPECT_FALSE(variant("dn: CN=7A,OU=Grupper,OU=ZEB,DC=skole,DC=test\nobjectClass: group",
                       "dn: CN=7A,OU=Grupper,OU=ZEB,DC=skole,DC=test\nobjectClass: contact"));
}

TEST(NormalisedTree, NamesAMissingSchoolSubtree) {
  auto d = loaded("dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n");
  EXPECT_EQ(normalisedTree(*d, "DC=skole,DC=test"), "<no OU=ZEB: hresult 0x80072030>\n");
}

TEST(JobPart, StartsAtTheFirstMoveOfAJobFile) {
  EXPECT_EQ(jobPart("Inifil: x\nLDAP-LdapBind: gssapi\n\n-Fri\n Flytter a.dat til a.behandler\n"
                    "SetTrimPers()\n Flytter a.behandler til a.slut\n"),
            " Flytter a.dat til a.behandler\nSetTrimPers()\n Flytter a.behandler til a.slut\n");
  EXPECT_EQ(jobPart(" Flytter a.dat til a.behandler\n"), " Flytter a.dat til a.behandler\n");
  // Only at the start of a line, with the leading blank.
  EXPECT_EQ(jobPart("x Flytter y\nFlytter z\n"), "");
  EXPECT_EQ(jobPart(""), "");
}

TEST(CountingDirectory, CountsRoundTripsAndPassesResultsThrough) {
  auto memory = loaded(kTree);
  CountingDirectory d(*memory);
  EXPECT_EQ(d.counts(), DirectoryCounts{});

  unsigned rows = 0;
  EXPECT_EQ(d.search("OU=Elev,OU=ZEB,DC=skole,DC=test", "(objectClass=user)", {"sAMAccountName"},
                     SearchScope::kOneLevel, 1,
                     [&rows](const SearchRow&) {
                       ++rows;
                       return true;
                     }),
            kSOk);
  EXPECT_EQ(rows, 2u);
  // A failing search counts too, and its result passes through.
  EXPECT_EQ(d.search("OU=Nowhere,DC=skole,DC=test", "(objectClass=*)", {}, SearchScope::kBase, 10,
                     [](const SearchRow&) { return true; }),
            kNoSuchObject);

  auto elev = d.bind("LDAP://OU=Elev,OU=ZEB,DC=skole,DC=test");
  ASSERT_TRUE(elev.ok());
  EXPECT_EQ(d.bind("LDAP://CN=nobody,DC=skole,DC=test").hr, kNoSuchObject);
  auto created = elev.value->create("user", "CN=ny");
  ASSERT_TRUE(created.ok());
  EXPECT_EQ(created.value->put("sAMAccountName", "ny"), kSOk);
  EXPECT_EQ(created.value->setInfo(), kSOk);  // an add
  EXPECT_EQ(created.value->put("description", "x"), kSOk);
  EXPECT_EQ(created.value->setInfo(), kSOk);  // a modify
  auto group = d.bind("LDAP://CN=7A,OU=Grupper,OU=ZEB,DC=skole,DC=test");
  ASSERT_TRUE(group.ok());
  EXPECT_EQ(group.value->addMember("LDAP://CN=ny,OU=Elev,OU=ZEB,DC=skole,DC=test"), kSOk);
  EXPECT_EQ(group.value->removeMember("LDAP://CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test"), kSOk);
  auto grupper = d.bind("LDAP://OU=Grupper,OU=ZEB,DC=skole,DC=test");
  ASSERT_TRUE(grupper.ok());
  auto moved = grupper.value->moveHere("LDAP://CN=ny,OU=Elev,OU=ZEB,DC=skole,DC=test", "CN=ny2");
  ASSERT_TRUE(moved.ok());
  EXPECT_EQ(moved.value->dn(), "CN=ny2,OU=Grupper,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(moved.value->put("description", "y"), kSOk);
  EXPECT_EQ(moved.value->setInfo(), kSOk);  // objects from moves are counted too
  auto children = elev.value->children("user");
  ASSERT_TRUE(children.ok());
  EXPECT_EQ(children.value.size(), 2u);
  SearchRow row;
  row.dn = "CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test";
  EXPECT_TRUE(d.bindRow(row).ok());

  // Reads: a bound object answers from what the bind read; after a commit
  // or a member change the next read loads it again; a row-bound object
  // answers the row's columns and loads for any other; queued values and a
  // new object's reads stay local.
  (void)elev.value->get("ou");                          // read by the bind
  (void)group.value->get("description");                // members changed: one load
  (void)group.value->get("sAMAccountName");             // loaded whole now
  EXPECT_EQ(moved.value->get("description").hr, kSOk);  // committed: one load
  auto fresh = elev.value->create("user", "CN=neu");
  ASSERT_TRUE(fresh.ok());
  (void)fresh.value->put("sAMAccountName", "neu");
  (void)fresh.value->get("sAMAccountName");  // new: never read
  SearchRow seeded;
  seeded.dn = "CN=adam,OU=Elev,OU=ZEB,DC=skole,DC=test";
  seeded.attributes.push_back({"sAMAccountName", AdsType::kCaseIgnoreString, {"adam"}});
  auto adam = d.bindRow(seeded);
  ASSERT_TRUE(adam.ok());
  (void)adam.value->get("SAMACCOUNTNAME");  // from the row
  (void)adam.value->put("title", "x");
  (void)adam.value->get("title");        // from the queue
  (void)adam.value->get("description");  // neither: one load
  (void)adam.value->get("cn");           // loaded whole now

  DirectoryCounts want;
  want.loads = 3;
  want.rowBinds = 2;
  want.searches = 3;  // two searches and one child listing
  want.searchRows = 2;
  want.binds = 4;
  want.commits = 3;
  want.changes = 3;  // add member, remove member, move
  EXPECT_EQ(d.counts(), want);
  // What passed through reached the directory underneath.
  auto again = memory->bind("LDAP://CN=ny2,OU=Grupper,OU=ZEB,DC=skole,DC=test");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.value->get("description").value, "y");
  d.reset();
  EXPECT_EQ(d.counts(), DirectoryCounts{});
}

// The memory scenario run through the normalising snapshot: a test-mode job
// leaves the school's subtree as it was.
TEST(ScenarioBackends, NormalisedMemoryRunOfATestModeJob) {
  ScenarioBackend b = memoryBackend();
  b.snapshot = [](Directory& d) { return normalisedTree(d, "DC=skole,DC=test"); };
  const ScenarioOutcome out = runScenario(
      (std::filesystem::path(TAVLEVAGT_SCENARIO_DATA) / "test-mode-full-lists").string(), b);
  EXPECT_EQ(out.jobs, 1u);
  EXPECT_EQ(out.directory, out.before);
  EXPECT_NE(out.before.find("dn: CN=emil_inaktiv,OU=Inaktive,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
                            "class: user\nsAMAccountName: emil_inaktiv\n"
                            "description: Autooprettet af ZEB (1)\ndisabled: yes\n\n"),
            std::string::npos)
      << out.before;
}

}  // namespace
}  // namespace tv::test

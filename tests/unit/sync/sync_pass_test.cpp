#include "sync/sync_pass.h"

#include <gtest/gtest.h>

#include "runtime/trim.h"
#include "school_fixture.h"
#include "service/job_dispatch.h"
#include "users/user_queries.h"

namespace tv {
namespace {

using test::idOf;
using test::pupilLine;
using test::School;

// Runs a "@*PERS" section of the given record lines in test mode.
SectionEnd runPupilPass(School& s, const std::string& records, PassCounts& counts) {
  selectPupils(s.rt);
  s.clearLog();
  JobReader reader(s.rt.log, records, "brovalt-1.behandler");
  JobLine line;
  return synchronisationPass(s.rt, reader, line, counts);
}

TEST(SynchronisationPass, TestModeSortsUsersIntoTheThreePhases) {
  School s;
  s.addUser("anna", "OU=Elev", idOf("a"));
  s.addUser("bo", "OU=Elev", idOf("b"));
  std::string before = s.directory.saveLdif();
  PassCounts counts;
  auto end = runPupilPass(
      s, pupilLine("anna", idOf("a")) + "\n" + pupilLine("cai", idOf("c")) + "\n", counts);
  EXPECT_EQ(end, SectionEnd::kEndOfFile);
  EXPECT_EQ(counts.deactivated, 1u);
  EXPECT_EQ(counts.created, 1u);
  EXPECT_EQ(counts.updated, 1u);
  EXPECT_EQ(s.logs.text(),
            " Synkroniserer 'Elev':\n"
            "FilBruger ikke fundet fra pers_id: 0, eller AccountName 'bo'\n"
            "   Start NedlægBrugere\n"
            "   IDrift = 0: Test af Nedlæg bruger bo \n"
            "   Start OpretBrugere\n"
            "   IDrift = 0: Test af Opret/Ret bruger cai \n"
            "   Start OpdaterBrugere\n"
            "   IDrift = 0: Test af Opdater bruger anna \n"
            "- 1 brugere gjort inaktiv.\n- 1 brugere oprettet.\n- 1 brugere opdateret.\n");
  EXPECT_EQ(s.directory.saveLdif(), before) << "test mode must not touch the directory";
}

TEST(SynchronisationPass, AccountWithoutIdentificationAdoptsTheFileUsersOne) {
  School s;
  s.rt.settings.BrugUuidDrift = true;
  s.rt.settings.IDrift = true;
  s.addUser("dorte_inaktiv", "OU=Elev", "");
  PassCounts counts;
  runPupilPass(s, pupilLine("dorte", idOf("d")) + "\n", counts);
  EXPECT_EQ(counts.updated, 1u) << "paired by login, so updated rather than recreated";
  EXPECT_EQ(counts.created, 0u);
  EXPECT_EQ(counts.deactivated, 0u);
  // The live update then takes the account on (it carries no marking, so it
  // is archived); the adopted identification went with it.
  auto found = findUserByIdentification(s.rt, "DC=skole,DC=test", idOf("d"));
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found.value.object->get("sAMAccountName").value, "dorte_inaktiv");
  EXPECT_NE(s.logs.text().find("FilBruger ikke fundet fra pers_id: 0. Fandt AccountName "
                               "'dorte_inaktiv'\n      employeeNumber sættes til '" +
                               idOf("d") + "' for bruger: 'dorte_inaktiv'\n"),
            std::string::npos)
      << s.logs.text();
}

TEST(SynchronisationPass, AdoptionIsOnlyLoggedInTestModeAndWithoutBrugUuidDrift) {
  School s;
  s.addUser("erik", "OU=Elev", "");
  std::string before = s.directory.saveLdif();
  PassCounts counts;
  runPupilPass(s, pupilLine("erik", idOf("e")) + "\n", counts);
  EXPECT_NE(s.logs.text().find("Brug_uuid mangler! Tilstand forhindrer at sætte brug_uuid for: "
                               "erik, Fornavn Efternavn, BrugerID: " +
                               idOf("e") + "\n"),
            std::string::npos);
  // The adopted identification stands in memory, so the pair is an update.
  EXPECT_EQ(counts.updated, 1u);

  s.rt.settings.BrugUuidDrift = true;  // on, but the run is still a test run
  runPupilPass(s, pupilLine("erik", idOf("e")) + "\n", counts);
  EXPECT_NE(s.logs.text().find("   IDrift = 0: Test af SaetAttribut employeeNumber"),
            std::string::npos);
  EXPECT_EQ(s.directory.saveLdif(), before);
}

TEST(SynchronisationPass, ForeignIdentificationIsNotApproved) {
  School s;
  s.addUser("finn", "OU=Elev", idOf("x"));
  PassCounts counts;
  runPupilPass(s, pupilLine("finn", idOf("f")) + "\n", counts);
  EXPECT_NE(s.logs.text().find("Ikke godkendt: \nAd - '" + idOf("x") + "' - 'finn', \nFil - '" +
                               idOf("f") + "' - 'finn'.\n"),
            std::string::npos);
  EXPECT_EQ(counts.deactivated, 1u);
  EXPECT_EQ(counts.created, 1u);
}

TEST(SynchronisationPass, DuplicateIdentificationsEndWithCode20) {
  School s;
  s.rt.settings.BrugUuidDrift = true;
  s.addUser("gry", "OU=Elev", idOf("g"));
  s.addUser("gry2", "OU=Elev", idOf("g"));
  PassCounts counts;
  EXPECT_EQ(runPupilPass(s, pupilLine("gry", idOf("g")) + "\n", counts), SectionEnd::kFatal);
  EXPECT_EQ(s.exitCode, 20);
  std::string log = s.logs.text();
  EXPECT_NE(log.find("FEJL - Samme Bruguuid er registreret to steder. (gr"), std::string::npos);
  EXPECT_EQ(log.find("Start NedlægBrugere"), std::string::npos) << "no user may be touched";
}

TEST(SynchronisationPass, ExceptedUsersAreLeftAloneAndAnEmptyListDeactivatesTheRest) {
  School s;
  s.rt.settings.PersUndtaget = "hans:ida";
  s.addUser("hans", "OU=Elev", idOf("h"));
  s.addUser("jens", "OU=Elev", idOf("j"));
  PassCounts counts;
  runPupilPass(s, pupilLine("ida", idOf("i")) + "\n", counts);
  EXPECT_EQ(counts.deactivated, 1u);  // jens only
  EXPECT_EQ(counts.created, 0u);      // ida is excepted
  EXPECT_NE(s.logs.text().find("Test af Nedlæg bruger jens"), std::string::npos);
  EXPECT_EQ(s.logs.text().find("hans \n"), std::string::npos);
}

TEST(SynchronisationPass, MalformedDirectoryIdentificationEndsWithCode25) {
  School s;
  s.addUser("kim", "OU=Elev", std::string(31, '1'));
  PassCounts counts;
  EXPECT_EQ(runPupilPass(s, "", counts), SectionEnd::kFatal);
  EXPECT_EQ(s.exitCode, 25);
  EXPECT_NE(s.logs.text().find(" FEJL I BRUGERIDENTIFIKATIONSFELTET PÅ AD 'kim', '" +
                               std::string(31, '1') +
                               "', 31 :\n Skift 'BrugerIdentifikation' "
                               "i ini-filen til et tomt/brug_uuid felt.\n"),
            std::string::npos);
}

TEST(SynchronisationPass, LiveModeCreatesUpdatesAndDeactivates) {
  School s;
  s.rt.settings.IDrift = true;
  s.rt.settings.BrugUuidDrift = true;
  s.rt.settings.ElevFelter = {{"givenName", "fornavn"}};
  s.addUser("anna", "OU=Elev", idOf("a"));
  s.addUser("bo", "OU=Elev", idOf("b"));
  // Both accounts carry the marking, as accounts this system made do.
  for (const char* cn : {"anna", "bo"}) {
    auto o = s.directory.bind(std::string("LDAP://CN=") + cn + ",OU=Elev,OU=ZEB,DC=skole,DC=test");
    ASSERT_TRUE(o.ok());
    (void)o.value->put("description", "Autooprettet af ZEB (1)");
    ASSERT_EQ(o.value->setInfo(), kSOk);
  }
  PassCounts counts;
  std::string records = pupilLine("anna", idOf("a")) + "\n" + pupilLine("cai", idOf("c")) + "\n";
  runPupilPass(s, records, counts);
  EXPECT_EQ(counts.deactivated, 1u);
  EXPECT_EQ(counts.created, 1u);
  EXPECT_EQ(counts.updated, 1u);
  auto value = [&](const std::string& dn, const char* attr) {
    auto o = s.directory.bind("LDAP://" + dn);
    if (!o.ok()) return std::string("<no object>");
    auto v = o.value->get(attr);
    return v.ok() ? v.value : std::string("<none>");
  };
  EXPECT_EQ(value("CN=anna,OU=Elev,OU=ZEB,DC=skole,DC=test", "givenName"), "Fornavn")
      << s.logs.text();
  EXPECT_EQ(value("CN=cai,OU=Elev,OU=ZEB,DC=skole,DC=test", "employeeNumber"), idOf("c"));
  EXPECT_EQ(value("CN=bo_inaktiv,OU=Inaktive,OU=Elev,OU=ZEB,DC=skole,DC=test", "sAMAccountName"),
            "bo_inaktiv");
  EXPECT_NE(s.logs.text().find("   Nedlægger brugeren bo \n"), std::string::npos);
  EXPECT_NE(s.logs.text().find("   Oprettede brugeren cai \n"), std::string::npos);
  EXPECT_NE(s.logs.text().find("   Opdaterer bruger ('anna')\n"), std::string::npos);
}

TEST(UserSections, CreationAndRemovalSectionsInTestMode) {
  School s;
  s.rt.settings.PersUndtaget = "ole";
  selectPupils(s.rt);
  s.clearLog();
  std::string records = pupilLine("nina", idOf("n")) + "\n" + pupilLine("ole", idOf("o")) + "\n";
  {
    JobReader reader(s.rt.log, records, "x");
    JobLine line;
    EXPECT_EQ(BrugerOprettelse(s.rt, reader, line), SectionEnd::kEndOfFile);
  }
  {
    JobReader reader(s.rt.log, records, "x");
    JobLine line;
    EXPECT_EQ(BrugerNedleggelse(s.rt, reader, line), SectionEnd::kEndOfFile);
  }
  EXPECT_EQ(s.logs.text(),
            "   Start BrugerOprettelse\n"
            "   IDrift = 0: Test af BrugerOprettelse nina \n"
            "   Bruger undtaget - ole \n"
            "   Start BrugerNedleggelse\n"
            "   IDrift = 0: Test af BrugerNedleggelse nina \n"
            "   Bruger undtaget - ole \n");
}

TEST(UserQueries, HostileLoginsMatchNothingElse) {
  School s;
  s.addUser("abc", "OU=Elev", idOf("a"));
  for (const char* hostile : {"*", "*)(cn=*", "abc)(|(cn=*", "a,OU=x", "\\2a"}) {
    auto found = findUserByLogin(s.rt, "DC=skole,DC=test", hostile);
    EXPECT_EQ(found.hr, kEFail) << hostile;
    EXPECT_EQ(found.value.object, nullptr);
  }
  auto found = findUserByLogin(s.rt, "DC=skole,DC=test", "abc");
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found.value.object->get("sAMAccountName").value, "abc");
  auto byId = findUserByIdentification(s.rt, "DC=skole,DC=test", "*");
  EXPECT_EQ(byId.hr, kEFail);
}

TEST(UserQueries, ListLeavesOutExceptionsAndOptionallyDisabledAccounts) {
  School s;
  selectPupils(s.rt);
  s.rt.settings.WritePersId = "employeeType";
  s.addUser("p1", "OU=Elev", idOf("1"));
  s.addUser("p2", "OU=Elev", idOf("2"), true);
  s.addUser("p3", "OU=Elev", idOf("3"));
  auto all = GetADBrugerListe(s.rt, s.rt.trim.ldapPath, true, {"p3"});
  ASSERT_EQ(all.users.size(), 2u);
  auto enabled = GetADBrugerListe(s.rt, s.rt.trim.ldapPath, false, {});
  ASSERT_EQ(enabled.users.size(), 2u);
  for (auto& u : enabled.users) EXPECT_NE(u.accountName, "p2");
  EXPECT_EQ(all.users[0].path.rfind("LDAP://CN=p", 0), 0u);

  auto missing = GetADBrugerListe(s.rt, "LDAP://OU=Nowhere,DC=skole,DC=test", true, {});
  EXPECT_TRUE(missing.users.empty());
  EXPECT_NE(s.logs.text().find("** Fejl: GetADBrugerListe() - ADsGetObject(LDAP://OU=Nowhere"),
            std::string::npos);
}

TEST(UserQueries, IndexSearchFindsEveryKeyInOneOrder) {
  std::vector<std::string> keys = {"ærø", "zed", "abe", "Øst", "æble", "a", "b", "ab"};
  for (std::size_t n : {1u, 2u, 4u, 8u}) {
    std::vector<std::string> list(keys.begin(), keys.begin() + static_cast<long>(n));
    auto self = [](const std::string& s) -> const std::string& { return s; };
    Index index = buildIndex(list, self, 24);
    for (std::size_t i = 0; i < n; ++i) {
      auto hit = findInIndex(list, index, self, 24, list[i]);
      ASSERT_TRUE(hit.has_value()) << list[i];
      EXPECT_EQ(*hit, i);
    }
    EXPECT_FALSE(findInIndex(list, index, self, 24, "åå").has_value());
  }
}

TEST(UserQueries, EnsureOrganizationalUnitCreatesTheFirstPart) {
  School s;
  EXPECT_EQ(ensureOrganizationalUnit(s.rt, "LDAP://OU=A,OU=Elev,OU=ZEB,DC=skole,DC=test"), kSOk);
  EXPECT_TRUE(s.directory.bind("LDAP://OU=A,OU=Elev,OU=ZEB,DC=skole,DC=test").ok());
  EXPECT_EQ(s.logs.text(), "   OU OU=A oprettes i LDAP://OU=Elev,OU=ZEB,DC=skole,DC=test.\n");
  EXPECT_EQ(ensureOrganizationalUnit(s.rt, "LDAP://OU=NoComma"), kSFalse);
}

}  // namespace
}  // namespace tv

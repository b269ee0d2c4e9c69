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

TEST(SynchronisationPass, TestModeWritesAdoptedIdentificationsOnlyWithBrugUuidDrift) {
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
  EXPECT_EQ(s.directory.saveLdif(), before);

  // On, in a test run: the identification is stamped on the account, so the
  // school goes live with its accounts paired; nothing else changes.
  s.rt.settings.BrugUuidDrift = true;
  runPupilPass(s, pupilLine("erik", idOf("e")) + "\n", counts);
  EXPECT_NE(s.logs.text().find("      employeeNumber sættes til '" + idOf("e") +
                               "' for bruger: 'erik'\n"),
            std::string::npos)
      << s.logs.text();
  EXPECT_NE(s.logs.text().find("   IDrift = 0: Test af Opdater bruger erik \n"), std::string::npos);
  School expected;
  expected.addUser("erik", "OU=Elev", "");
  auto erik = expected.directory.bind("LDAP://CN=erik,OU=Elev,OU=ZEB,DC=skole,DC=test");
  ASSERT_TRUE(erik.ok());
  ASSERT_EQ(erik.value->put("employeeNumber", idOf("e")), kSOk);
  ASSERT_EQ(erik.value->setInfo(), kSOk);
  EXPECT_EQ(s.directory.saveLdif(), expected.directory.saveLdif());
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

TEST(SynchronisationPass, DuplicateIdentificationsEndTheJobBeforeAnythingIsWritten) {
  struct Account {
    std::string cn, container, id;
  };
  struct Case {
    const char* what;
    bool live;
    std::vector<Account> accounts;
    std::string records;
    std::string lines;  // the duplicate lines, in order
  };
  const Case cases[] = {
      {"one identification on two accounts",
       false,
       {{"gry", "OU=Elev", idOf("g")}, {"gry2", "OU=Elev", idOf("g")}},
       pupilLine("gry", idOf("g")),
       "FEJL - Samme Bruguuid er registreret to steder. (gry og (gry2)\n"},
      // Both pair with the file login xyz and would both get its identification.
      {"two accounts adopt one identification, live",
       true,
       {{"xyz", "OU=Elev", ""}, {"xyz_inaktiv", "OU=Inaktive,OU=Elev", ""}},
       pupilLine("xyz", idOf("x")),
       "FEJL - Samme Bruguuid er registreret to steder. (xyz og (xyz_inaktiv)\n"},
      {"two accounts adopt one identification, test run",
       false,
       {{"xyz", "OU=Elev", ""}, {"xyz_inaktiv", "OU=Inaktive,OU=Elev", ""}},
       pupilLine("xyz", idOf("x")),
       "FEJL - Samme Bruguuid er registreret to steder. (xyz og (xyz_inaktiv)\n"},
      // The directory lists bo first (OU=Elev's own accounts before its
      // sub-containers); the lines follow the DNs.
      {"ties in DN order",
       false,
       {{"bo", "OU=Elev", idOf("t")},
        {"anne", "OU=X,OU=Elev", idOf("t")},
        {"cai", "OU=X,OU=Elev", idOf("t")}},
       pupilLine("bo", idOf("t")),
       "FEJL - Samme Bruguuid er registreret to steder. (anne og (bo)\n"
       "FEJL - Samme Bruguuid er registreret to steder. (bo og (cai)\n"},
  };
  for (const Case& c : cases) {
    School s;
    s.rt.settings.BrugUuidDrift = true;
    s.rt.settings.IDrift = c.live;
    s.addOu("OU=Inaktive,OU=Elev");
    s.addOu("OU=X,OU=Elev");
    for (const Account& a : c.accounts) s.addUser(a.cn, a.container, a.id);
    const std::string before = s.directory.saveLdif();
    PassCounts counts;
    EXPECT_EQ(runPupilPass(s, c.records + "\n", counts), SectionEnd::kFatal) << c.what;
    EXPECT_EQ(s.exitCode, 20) << c.what;
    const std::string log = s.logs.text();
    EXPECT_NE(log.find(c.lines), std::string::npos) << c.what << "\n" << log;
    EXPECT_EQ(log.find("Start NedlægBrugere"), std::string::npos) << c.what;
    EXPECT_EQ(log.find("sættes til"), std::string::npos) << c.what;
    EXPECT_EQ(s.directory.saveLdif(), before)
        << c.what << ": a job that ends with 20 writes nothing";
  }
}

// An account whose name differs from its login only in case (cn hans, login
// Hans) is renamed once; the next pass finds it where it belongs.
TEST(SynchronisationPass, CaseOnlyRenameIsMadeOnceAndTheNextPassWritesNothing) {
  for (const char* account : {"Hans", "hans"}) {
    School s;
    s.rt.settings.IDrift = true;
    s.rt.settings.BrugUuidDrift = true;
    s.rt.settings.RunScriptPreRenameElev = "script/omdoeb.cmd";
    s.addUser("hans", "OU=Elev", idOf("h"), false, "description: Autooprettet af ZEB (1)\n");
    if (std::string(account) != "hans") {
      auto o = s.directory.bind("LDAP://CN=hans,OU=Elev,OU=ZEB,DC=skole,DC=test");
      ASSERT_TRUE(o.ok());
      ASSERT_EQ(o.value->put("sAMAccountName", account), kSOk);
      ASSERT_EQ(o.value->setInfo(), kSOk);
    }
    PassCounts counts;
    runPupilPass(s, pupilLine("Hans", idOf("h")) + "\n", counts);
    auto renamed = s.directory.bind("LDAP://CN=Hans,OU=Elev,OU=ZEB,DC=skole,DC=test");
    ASSERT_TRUE(renamed.ok());
    EXPECT_EQ(renamed.value->name(), "CN=Hans") << account << "\n" << s.logs.text();
    EXPECT_EQ(renamed.value->get("sAMAccountName").value, "Hans") << account;

    const std::string before = s.directory.saveLdif();
    runPupilPass(s, pupilLine("Hans", idOf("h")) + "\n", counts);
    EXPECT_EQ(s.directory.saveLdif(), before) << account << "\n" << s.logs.text();
    EXPECT_EQ(s.logs.text().find("Retter login"), std::string::npos) << account;
    EXPECT_EQ(s.processes.calls.size(), 1u) << account << ": the rename hook ran once";
  }
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

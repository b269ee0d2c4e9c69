#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "directory/draft_directory.h"
#include "directory/escape.h"
#include "site_fixture.h"
#include "support/counting_directory.h"
#include "support/faulty_directory.h"
#include "sync/user_operations.h"

namespace tv {
namespace {

using test::AccountShape;
using test::idFor;
using test::kElev;
using test::kMeda;
using test::record;
using test::Site;

TEST(OpretBruger, NewPupilIsCreatedCompleteAndEnabled) {
  Site s;
  s.rt.settings.PasswdNeverExpiresElev = true;
  s.rt.settings.RunScriptElev = "script/ny.cmd";
  s.rt.settings.ElevFelter = {{"givenName", "fornavn"}, {"displayName", "NAVN_INIT"}};
  s.select(false);
  FileUser u = record("anbe", idFor("a"));
  ASSERT_EQ(TjekEksisterendeBruger(s.rt, u), 0);
  EXPECT_EQ(OpretBruger(s.rt, u), kSOk) << s.log();
  const std::string dn = std::string("CN=anbe,") + kElev;
  EXPECT_EQ(s.value(dn, "employeeNumber"), idFor("a"));
  EXPECT_EQ(s.value(dn, "sAMAccountName"), "anbe");
  EXPECT_EQ(s.value(dn, "description"), "Autooprettet af ZEB (12345)");
  EXPECT_EQ(s.value(dn, "givenName"), "Anna");
  EXPECT_EQ(s.value(dn, "displayName"), "Anna Berg (anbe)");
  EXPECT_EQ(s.uac(dn), 0x10200) << "enabled, password required, never expires";
  EXPECT_NE(s.value(dn, "pwdLastSet"), "0") << "the password was set";
  EXPECT_TRUE(s.logHas("   Oprettede brugeren anbe \n"));
  EXPECT_TRUE(s.logHas(" Kører Script: script/ny.cmd \n   RunScript: script/ny.cmd anbe\n"));
  ASSERT_EQ(s.commands().size(), 1u);
  EXPECT_EQ(s.commands()[0], "script/ny.cmd anbe");
  // The update inside the creation finds the new account still disabled and
  // runs the enabling step on it, before the final commit enables it.
  EXPECT_EQ(s.log().substr(0, s.log().find("   Opdaterer bruger ('anbe')\n")),
            std::string("   Oprettede brugeren anbe \n"
                        "   anbe enabler konto.\n"
                        "     anbe vises for adresselister\n"
                        "   anbe flyttes til LDAP://") +
                kElev + "\n");
}

TEST(OpretBruger, PasswordExpiryFlagFollowsThePopulationsSetting) {
  Site s;
  FileUser u = record("bobo", idFor("b"));
  EXPECT_EQ(OpretBruger(s.rt, u), kSOk) << s.log();
  EXPECT_EQ(s.uac(std::string("CN=bobo,") + kElev), 0x200) << "0x2, 0x20 and 0x10000 all cleared";
}

TEST(OpretBruger, LetterContainerIsCreatedOnDemand) {
  Site s;
  s.rt.settings.AlphaopdelADElev = true;
  s.select(false);
  FileUser u = record("hans", idFor("h"));
  EXPECT_EQ(OpretBruger(s.rt, u), kSOk) << s.log();
  EXPECT_EQ(s.value(std::string("CN=hans,OU=H,") + kElev, "sAMAccountName"), "hans");
  EXPECT_TRUE(s.logHas(std::string("   OU OU=H oprettes i LDAP://") + kElev + ".\n"));
}

TEST(OpretBruger, MailHandOverAtCreationUnlessTheMailboxCheckRunsInstead) {
  Site s(false, true);
  s.rt.settings.OpretMailMedaScript = "script/mail.cmd";
  s.rt.settings.OpretMailMedaListScript = "script/mailliste.cmd";
  s.select(true);
  FileUser u = record("anbe", idFor("a"));
  ASSERT_EQ(OpretBruger(s.rt, u), kSOk) << s.log();
  EXPECT_TRUE(s.rt.job.medaMailListChanged);
  EXPECT_EQ(s.logs.folder.read("MedaMailListe-77.txt"), "anbe\n");
  EXPECT_EQ(s.commands(), std::vector<std::string>{"script/mail.cmd anbe"});

  Site c(false, true);
  c.rt.settings.OpretMailMedaScript = "script/mail.cmd";
  c.rt.settings.OpretMailMedaListScript = "script/mailliste.cmd";
  c.rt.settings.CheckMailBoxExists = true;
  c.select(true);
  FileUser v = record("cede", idFor("c"));
  v.email = "";
  ASSERT_EQ(OpretBruger(c.rt, v), kSOk);
  // The account has no address yet, so the update's mailbox check hands it
  // over once; the creation step itself does not.
  EXPECT_EQ(c.commands(), std::vector<std::string>{"script/mail.cmd cede"});
  EXPECT_EQ(c.logs.folder.read("MedaMailListe-77.txt"), "cede\n");
}

TEST(OpretBruger, RefusedPasswordLeavesTheAccountDisabledAndSaysSo) {
  Site s;
  FileUser u = record("dora", idFor("d"));
  u.password = "abc";
  EXPECT_LT(OpretBruger(s.rt, u), 0);
  const std::string dn = std::string("CN=dora,") + kElev;
  EXPECT_EQ(s.uac(dn) & 0x2, 0x2) << s.log();
  EXPECT_EQ(s.uac(dn) & 0x20, 0) << "the directory must refuse a later enable";
  EXPECT_TRUE(
      s.logHas("** Fejl: OpretBruger(dora) - SetPassword: kontoen forbliver deaktiveret\n"));
  EXPECT_TRUE(s.logHas("** Fejl: OpretBruger(dora) - SetInfo('AccountDisabled')\n"));
}

TEST(OpretBruger, TakenLoginStopsAfterTheIdentificationWithoutEnabling) {
  Site s;
  s.addUser("erik", kMeda, idFor("x"));
  FileUser u = record("erik", idFor("e"));
  EXPECT_LT(OpretBruger(s.rt, u), 0);
  EXPECT_TRUE(s.logHas("** Fejl: OpretBruger(erik) - SetInfo('sAMAccountName')\n")) << s.log();
  EXPECT_EQ(s.uac(std::string("CN=erik,") + kElev) & 0x2, 0x2);
}

// What a new account costs a domain controller, pinned so that a change that
// brings a round trip back fails here. Step by step, per account: the two
// searches of the existence check (by identification, by login); the
// container's bind; the add carrying identification, login and marking; the
// password; the read of the flags; the enabling step's commit and its bind of
// the account where it already is (the login it would search for was just
// found free, and the account needs no move); one commit of the changed
// fields; the final commit that enables the account. The address-list write
// is left out where the schema has no such attribute.
TEST(OpretBruger, NewAccountCostsAFixedNumberOfRoundTrips) {
  Site s;
  s.rt.settings.ElevFelter = {
      {"givenName", "fornavn"}, {"sn", "efternavn"}, {"displayName", "NAVN"}};
  s.select(false);
  test::CountingDirectory counting(s.directory);
  s.rt.ports.directory = &counting;
  // Creates three accounts, each checked for first as the pass does, and
  // compares the directory's work with the expected cost of one.
  const unsigned long kAccounts = 3;
  const auto create = [&](const std::string& prefix, const test::DirectoryCounts& perAccount) {
    counting.reset();
    for (unsigned long i = 0; i < kAccounts; ++i) {
      FileUser u = record(prefix + std::to_string(i), idFor(prefix + "-" + std::to_string(i)));
      ASSERT_EQ(TjekEksisterendeBruger(s.rt, u), 0);
      ASSERT_EQ(OpretBruger(s.rt, u), kSOk) << s.log();
    }
    EXPECT_EQ(counting.counts(), perAccount * kAccounts) << prefix;
    for (unsigned long i = 0; i < kAccounts; ++i) {
      const std::string dn = "CN=" + prefix + std::to_string(i) + "," + kElev;
      EXPECT_EQ(s.value(dn, "displayName"), "Anna Berg");
      EXPECT_EQ(s.uac(dn), 0x200);
    }
  };
  test::DirectoryCounts stepByStep;
  stepByStep.searches = 2;
  stepByStep.binds = 2;
  stepByStep.rowBinds = 1;  // the update starts from what the creation read
  stepByStep.commits = 4;
  stepByStep.changes = 1;
  stepByStep.loads = 1;
  create("elev", stepByStep);

  // Drafted and sent as one add: the two searches of the existence check,
  // the container's bind, and the add carrying the password.
  DraftingDirectory drafts(counting);
  s.rt.ports.directory = &drafts;
  test::DirectoryCounts oneAdd;
  oneAdd.searches = 2;
  oneAdd.binds = 1;
  oneAdd.commits = 1;
  oneAdd.changes = 1;
  create("ny", oneAdd);
}

// The account's entry as the directory keeps it, without what differs
// between two runs of the same work (numbers, times, identifiers).
std::string entryOf(MemoryDirectory& directory, const std::string& dn) {
  std::istringstream in(directory.saveLdif());
  std::string line, out;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.starts_with("dn: ")) inside = line == "dn: " + dn;
    if (!inside) continue;
    static const char* const kVolatile[] = {"uSN", "when", "objectGUID", "objectSid", "pwdLastSet"};
    if (std::none_of(std::begin(kVolatile), std::end(kVolatile),
                     [&](const char* v) { return line.starts_with(v); })) {
      out += line + "\n";
    }
  }
  return out;
}

// A creation drafted and sent as one add ends where the steps one after
// another end: the same log, the same change report, the same account. Where
// the add is refused, or the creation reaches outside the directory or meets
// something a draft cannot answer, the steps are what runs.
TEST(OpretBruger, OneAddEndsWhereTheStepsEnd) {
  const struct {
    const char* name;
    std::function<void(Site&, FileUser&)> setup;
    unsigned long commits;  // with the draft; 0: made step by step
  } cases[] = {
      {"defaults", [](Site&, FileUser&) {}, 1},
      {"fields, profile, never expires, hook after",
       [](Site& s, FileUser&) {
         s.rt.settings.ElevFelter = {{"givenName", "fornavn"},
                                     {"sn", "efternavn"},
                                     {"displayName", "NAVN_INIT"},
                                     {"mail", "email"}};
         s.rt.settings.PasswdNeverExpiresElev = true;
         s.rt.settings.UserProfileShareElev = "\\\\srv\\profiler";
         s.rt.settings.UserProfileShareElevCreate = false;
         s.rt.settings.RunScriptElev = "script/ny.cmd";
         s.rt.settings.LogLevel = 3;
       },
       1},
      {"letter container, made first",
       [](Site& s, FileUser&) { s.rt.settings.AlphaopdelADElev = true; }, 2},
      {"mail schema", [](Site&, FileUser&) {}, 1},
      {"weak password", [](Site&, FileUser& u) { u.password = "abc"; }, 0},
      {"field the schema lacks",
       [](Site& s, FileUser&) {
         s.rt.settings.ElevFelter = {{"favouriteColour", "fornavn"}};
       },
       0},
      {"a path that reads otherwise, rename hook",
       [](Site& s, FileUser& u) {
         s.rt.settings.RunScriptPreRenameElev = "script/omdoeb.cmd";
         u.login = "an/be";
       },
       0},
      {"hook during the update",
       [](Site& s, FileUser&) { s.rt.settings.RunScriptAlwaysElev = "script/altid.cmd"; }, 0},
  };
  for (const auto& c : cases) {
    const bool mail = std::string(c.name) == "mail schema";
    struct Run {
      std::string log, report, entry;
      std::vector<std::string> commands;
      unsigned long commits = 0;
    };
    const auto run = [&](bool drafting) {
      Site s(mail);
      FileUser u = record("anbe", idFor("a"));
      c.setup(s, u);
      s.select(false);
      test::CountingDirectory counting(s.directory);
      DraftingDirectory drafts(counting);
      s.rt.ports.directory = drafting ? static_cast<Directory*>(&drafts) : &counting;
      const std::string reportPath = s.logs.folder.path() + "/report.csv";
      s.rt.changes.begin(reportPath);
      EXPECT_EQ(TjekEksisterendeBruger(s.rt, u), 0) << c.name;
      (void)OpretBruger(s.rt, u);
      s.rt.changes.end();
      Run r;
      r.log = s.log();
      r.report = s.logs.folder.read("report.csv");
      const std::string letter = s.rt.settings.AlphaopdelADElev ? "OU=A," : "";
      r.entry = entryOf(s.directory, "CN=" + escapeDnValue(u.login) + "," + letter + kElev);
      r.commands = s.commands();
      r.commits = counting.counts().commits;
      return r;
    };
    const Run steps = run(false);
    const Run oneAdd = run(true);
    EXPECT_EQ(oneAdd.log, steps.log) << c.name;
    EXPECT_EQ(oneAdd.report, steps.report) << c.name;
    EXPECT_EQ(oneAdd.entry, steps.entry) << c.name;
    EXPECT_FALSE(steps.entry.empty()) << c.name;
    EXPECT_EQ(oneAdd.commands, steps.commands) << c.name;
    if (c.commits != 0) {
      EXPECT_EQ(oneAdd.commits, c.commits) << c.name << ": one add, nothing after it";
    } else {
      // A refused add costs one commit more.
      EXPECT_EQ(oneAdd.commits, steps.commits + (std::string(c.name) == "weak password" ? 1 : 0))
          << c.name << ": made step by step";
    }
    EXPECT_GT(steps.commits, 2u) << c.name;
  }
}

// The add carries the first three values together; when the directory
// refuses it, the steps are made one by one and the account and the log end
// as the refused step leaves them.
TEST(OpretBruger, RefusedJointAddEndsWhereTheRefusedStepWould) {
  const struct {
    const char* attribute;
    const char* step;
    bool exists;
    const char* login;
  } cases[] = {
      {"employeeNumber", "BrugerIdentifikation", false, "<no object>"},
      {"sAMAccountName", "sAMAccountName", true, "<none>"},
      {"description", "ZEBMarkering", true, "anbe"},
  };
  for (const auto& c : cases) {
    Site s;
    test::FaultyDirectory faulty(s.directory);
    faulty.failCommits("CN=anbe,", c.attribute);
    s.rt.ports.directory = &faulty;
    FileUser u = record("anbe", idFor("a"));
    EXPECT_EQ(OpretBruger(s.rt, u), kConstraintViolation) << c.attribute;
    const std::string log = s.log();
    EXPECT_EQ(log.substr(0, log.find('\n') + 1), "   Oprettede brugeren anbe \n") << c.attribute;
    EXPECT_TRUE(s.logHas(std::string("** Fejl: OpretBruger(anbe) - SetInfo('") + c.step + "')\n"))
        << log;
    EXPECT_EQ(log.find("SetInfo('"), log.rfind("SetInfo('")) << "one refused step: " << log;
    const std::string dn = std::string("CN=anbe,") + kElev;
    EXPECT_EQ(s.value(dn, "employeeNumber") == idFor("a"), c.exists) << c.attribute;
    if (c.exists) {
      EXPECT_EQ(s.value(dn, "sAMAccountName") == "anbe", std::string(c.login) == "anbe");
      EXPECT_EQ(s.value(dn, "description"), "<none>");
      EXPECT_EQ(s.uac(dn) & 0x2, 0x2) << "never enabled";
    }
  }
}

TEST(OpretBruger, LoginLongerThanTheDirectoryAllowsIsRefusedBeforeAnythingIsWritten) {
  Site s;
  std::string before = s.directory.saveLdif();
  FileUser u = record("abcdefghijklmnopqrstu", idFor("l"));
  EXPECT_EQ(OpretBruger(s.rt, u), kEInvalidArg);
  EXPECT_EQ(s.log(),
            "** Fejl: OpretBruger: login 'abcdefghijklmnopqrstu' er længere end 20 tegn, som AD "
            "tillader.\n");
  EXPECT_EQ(s.directory.saveLdif(), before);
}

TEST(TjekEksisterendeBruger, DisabledAccountIsEnabledShownAndMovedBack) {
  Site s(true);
  s.rt.settings.RunScriptPostEnableElev = "script/igen.cmd";
  s.select(false);
  s.addOu(std::string("OU=Inaktive,") + kElev);
  s.addUser(
      "hans_inaktiv", std::string("OU=Inaktive,") + kElev, idFor("h"),
      AccountShape::marked("Autooprettet af ZEB (1)", true, "msExchHideFromAddressLists: TRUE\n"));
  FileUser u = record("hans", idFor("h"));
  EXPECT_EQ(TjekEksisterendeBruger(s.rt, u), 1);
  const std::string dn = std::string("CN=hans,") + kElev;
  EXPECT_EQ(s.uac(dn), 512) << s.log();
  EXPECT_EQ(s.value(dn, "msExchHideFromAddressLists"), "FALSE");
  EXPECT_EQ(s.value(dn, "sAMAccountName"), "hans_inaktiv") << "the update renames it later";
  EXPECT_EQ(s.log(), std::string("   Aktiverer bruger hans \n"
                                 "   hans enabler konto.\n"
                                 "     hans vises for adresselister\n"
                                 "   hans flyttes til LDAP://") +
                         kElev +
                         "\n Kører Script: script/igen.cmd \n"
                         "   RunScriptPostEnable: script/igen.cmd hans\n"
                         "      ** Info: WaitForSingleObject() returnerede 0\n");
}

TEST(TjekEksisterendeBruger, ConflictWithAnActiveAccountLeavesTheDisabledOneAlone) {
  Site s;
  s.addOu(std::string("OU=Inaktive,") + kElev);
  const std::string inactive = s.addUser("hans_inaktiv", std::string("OU=Inaktive,") + kElev,
                                         idFor("h"), AccountShape::disabledOne());
  s.addUser("hans", kElev, idFor("z"));
  std::string before = s.directory.saveLdif();
  FileUser u = record("hans", idFor("h"));
  EXPECT_EQ(TjekEksisterendeBruger(s.rt, u), 1);
  EXPECT_EQ(s.log(),
            "   Aktiverer bruger hans \n"
            "** Fejl: Konflikt mellem inaktiv bruger og aktiv bruger login 'hans'\n");
  EXPECT_EQ(s.directory.saveLdif(), before);

  // An active account without any identification is a conflict as well.
  Site t;
  t.addOu(std::string("OU=Inaktive,") + kElev);
  t.addUser("ida_inaktiv", std::string("OU=Inaktive,") + kElev, idFor("i"),
            AccountShape::disabledOne());
  t.addUser("ida", kElev, "");
  FileUser v = record("ida", idFor("i"));
  EXPECT_EQ(TjekEksisterendeBruger(t.rt, v), 1);
  EXPECT_TRUE(t.logHas("** Fejl: Konflikt mellem inaktiv bruger og aktiv bruger login 'ida'\n"));
}

TEST(TjekEksisterendeBruger, LoginTakenOutsideTheSystemBlocksCreation) {
  Site s;
  s.addOu("OU=Andre,DC=skole,DC=test");
  s.addUser("jens", "OU=Andre,DC=skole,DC=test", "");
  FileUser u = record("jens", idFor("j"));
  EXPECT_EQ(TjekEksisterendeBruger(s.rt, u), 1);
  EXPECT_EQ(s.log(),
            "  Brugeren jens findes uden for OU=ZEB i domænet "
            "LDAP://CN=jens,OU=Andre,DC=skole,DC=test\n");
}

TEST(TjekEksisterendeBruger, ForeignAccountWithTheIdentificationIsArchived) {
  Site s;
  s.addUser("kaj", kElev, idFor("k"), AccountShape::marked("Oprettet i haanden"));
  FileUser u = record("kaj", idFor("k"));
  EXPECT_EQ(TjekEksisterendeBruger(s.rt, u), 1);
  EXPECT_EQ(s.value(std::string("CN=kaj,OU=Arkiv,") + kElev, "sAMAccountName"), "kaj") << s.log();
  EXPECT_TRUE(
      s.logHas("\n** Info: description: Oprettet i haanden. Skulle indeholde Autooprettet af "
               "ZEB.\n   kaj (Anna Berg) kunne ikke rettes da brugeren ikke er vedligeholdt "
               "af ZEB.\n"));
  EXPECT_TRUE(s.logHas("   Arkivere brugeren CN=kaj\n"));
}

}  // namespace
}  // namespace tv

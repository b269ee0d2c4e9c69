#include <gtest/gtest.h>

#include "site_fixture.h"
#include "support/faulty_directory.h"
#include "sync/user_operations.h"

namespace tv {
namespace {

using test::AccountShape;
using test::dirRecord;
using test::idFor;
using test::kElev;
using test::kMeda;
using test::record;
using test::Site;

TEST(RetBrugerLogin, RenameMovesLoginPrincipalAndPrimaryAddress) {
  Site s(true, true);
  s.rt.settings.OpretMailMedaScript = "script/mail.cmd";
  s.rt.settings.RunScriptPreRenameMeda = "script/omdoeb.cmd";
  s.select(true);
  s.addUser(
      "anbe", kMeda, idFor("a"),
      AccountShape::marked("Autooprettet af ZEB (1)", false,
                           "proxyAddresses: SMTP:anbe@skole.dk\nproxyAddresses: X400:c=dk\n"));
  FileUser u = record("anbe2", idFor("a"));
  RetBrugerLogin(s.rt, u, "anbe");
  const std::string dn = std::string("CN=anbe2,") + kMeda;
  EXPECT_EQ(s.value(dn, "sAMAccountName"), "anbe2") << s.log();
  EXPECT_EQ(s.value(dn, "userPrincipalName"), "anbe2@skole.test");
  auto proxies = s.at(dn)->getAll("proxyAddresses");
  ASSERT_TRUE(proxies.ok());
  EXPECT_EQ(proxies.value,
            (std::vector<std::string>{"smtp:anbe@skole.dk", "X400:c=dk", "SMTP:anbe2@skole.dk"}));
  EXPECT_EQ(u.previousLogin, "anbe");
  EXPECT_EQ(s.commands(), std::vector<std::string>{"script/omdoeb.cmd anbe anbe2"});
  EXPECT_TRUE(s.logHas("   Retter login fra anbe til anbe2.\n"));
  EXPECT_TRUE(s.logHas("   ny smtp: SMTP:anbe2@skole.dk\n"));
  EXPECT_EQ(s.log().find("Renaming fileshares"), std::string::npos)
      << "without shares nothing more is done";
}

TEST(RetBrugerLogin, DisabledPupilIsRenamedInsideTheInactiveContainer) {
  Site s;
  s.addOu(std::string("OU=Inaktive,") + kElev);
  s.addUser("hans_inaktiv", std::string("OU=Inaktive,") + kElev, idFor("h"),
            AccountShape::disabledOne());
  FileUser u = record("hans", idFor("h"));
  RetBrugerLogin(s.rt, u, "hans_inaktiv");
  EXPECT_EQ(s.value(std::string("CN=hans,OU=Inaktive,") + kElev, "sAMAccountName"), "hans")
      << s.log();
}

TEST(RetBrugerLogin, HomeDirectoryFollowsAndShareRenameIsHandedOn) {
  Site s(false, true);
  s.rt.settings.AlphaopdelADMeda = true;
  s.rt.settings.AlphaopdelShareMeda = true;
  s.rt.settings.OpretShareMeda = 2;
  s.rt.settings.HomeDirDriveMeda = "H:";
  s.rt.settings.FileServerShareMeda = "\\\\fil1\\ansatte";
  s.select(true);
  s.addOu(std::string("OU=A,") + kMeda);
  s.addUser("anbe", std::string("OU=A,") + kMeda, idFor("a"));
  FileUser u = record("bnbe", idFor("a"));
  RetBrugerLogin(s.rt, u, "anbe");
  const std::string dn = std::string("CN=bnbe,OU=A,") + kMeda;
  EXPECT_EQ(s.value(dn, "homeDirectory"), "\\\\fil1\\ansatte\\B\\bnbe") << s.log();
  EXPECT_EQ(s.value(dn, "homeDrive"), "H:");
  EXPECT_TRUE(s.logHas("   Renaming fileshares\n"));
  EXPECT_TRUE(s.logHas("RenameFileShares")) << "the share step is called and speaks for itself";
}

// The SID check after a rename is the shared lookup by login, with its
// waits and its lines: a readable SID shows in the lookup line above
// LogLevel 2; one that cannot be read is read six times, two seconds apart,
// and then leaves the home directory as it was.
TEST(RetBrugerLogin, SidOfTheNewLoginIsLookedUpWithTheSharedWaits) {
  struct Case {
    const char* what;
    bool sidReadable;
    std::vector<long long> sleeps;
    std::string home;
    std::string lines;
  };
  const Case cases[] = {
      {"readable",
       true,
       {},
       "\\\\fil1\\ansatte\\bnbe",
       "      SidForAccount(SKOLE\\bnbe) = S-1-5-21-1-2-3-1101\n"},
      {"unreadable", false, std::vector<long long>(6, 2000), "\\\\fil1\\ansatte\\anbe",
       "** Fejl: Kan ikke læse SID for omdøbt bruger (bnbe)\n"
       " (No mapping between account names and security IDs was done.)\n"},
  };
  for (const Case& c : cases) {
    Site s(false, true);
    s.rt.settings.OpretShareMeda = 2;
    s.rt.settings.HomeDirDriveMeda = "H:";
    s.rt.settings.FileServerShareMeda = "\\\\fil1\\ansatte";
    s.rt.settings.LogLevel = 3;
    s.select(true);
    test::FaultyDirectory faulty(s.directory);
    if (!c.sidReadable) faulty.hideAttribute("CN=bnbe,", "objectSid");
    s.rt.ports.directory = &faulty;
    AccountShape shape;
    shape.extra = "homeDirectory: \\\\fil1\\ansatte\\anbe\n";
    s.addUser("anbe", kMeda, idFor("a"), shape);
    FileUser u = record("bnbe", idFor("a"));
    RetBrugerLogin(s.rt, u, "anbe");
    const std::string dn = std::string("CN=bnbe,") + kMeda;
    EXPECT_EQ(s.value(dn, "homeDirectory"), c.home) << c.what << "\n" << s.log();
    EXPECT_TRUE(s.logHas(c.lines)) << c.what << "\n" << s.log();
    EXPECT_EQ(s.logs.clock.sleeps, c.sleeps) << c.what;
    EXPECT_EQ(s.logHas("Renaming fileshares"), c.sidReadable) << c.what;
    // The rename ends at the failure, and the log with a whole line.
    if (!c.sidReadable) {
      EXPECT_TRUE(s.log().ends_with(c.lines)) << c.what;
    }
  }
}

TEST(RetBrugerLogin, RefusalsStopBeforeAnyChange) {
  Site s;
  std::string before = s.directory.saveLdif();
  FileUser u = record("ny", idFor("a"));
  RetBrugerLogin(s.rt, u, "findesikke");
  EXPECT_EQ(s.log(), "  Brugeren findesikke findes ikke i AD\n");

  s.addUser("anbe", kElev, idFor("a"));
  before = s.directory.saveLdif();
  s.clearLog();
  FileUser longer = record("abcdefghijklmnopqrstuv", idFor("a"));
  RetBrugerLogin(s.rt, longer, "anbe");
  EXPECT_EQ(s.log(),
            "** Fejl: RetBrugerLogin: login 'abcdefghijklmnopqrstuv' er længere end 20 "
            "tegn, som AD tillader.\n");
  EXPECT_EQ(s.directory.saveLdif(), before);
}

TEST(OpdaterBruger, ChangedLoginIsRenamedAndTheFollowingWritesReachTheAccount) {
  Site s;
  s.rt.settings.ElevFelter = {{"givenName", "fornavn"}};
  s.select(false);
  const std::string dn = s.addUser("anbe", kElev, idFor("a"));
  DirUser d = dirRecord("anbe", dn, idFor("a"));
  FileUser u = record("anbe2", idFor("a"));
  OpdaterBruger(s.rt, d, u);
  const std::string renamed = std::string("CN=anbe2,") + kElev;
  EXPECT_EQ(s.value(renamed, "sAMAccountName"), "anbe2") << s.log();
  EXPECT_EQ(s.value(renamed, "givenName"), "Anna") << s.log();
}

}  // namespace
}  // namespace tv

#include <gtest/gtest.h>

#include "site_fixture.h"
#include "sync/user_operations.h"

namespace tv {
namespace {

using test::AccountShape;
using test::dirRecord;
using test::idFor;
using test::kElev;
using test::kMeda;
using test::Site;

TEST(NedlaegBruger, LeaverIsDisabledHiddenRenamedAndMoved) {
  Site s(true, true);
  s.rt.settings.RunScriptPreDisableMeda = "script/farvel.cmd";
  s.select(true);
  s.addOu(std::string("OU=Inaktive,") + kMeda);
  const std::string dn = s.addUser("anbe", kMeda, idFor("a"));
  EXPECT_EQ(NedlaegBruger(s.rt, dirRecord("anbe", dn)), kSOk);
  const std::string moved = std::string("CN=anbe_inaktiv,OU=Inaktive,") + kMeda;
  EXPECT_EQ(s.value(moved, "sAMAccountName"), "anbe_inaktiv") << s.log();
  EXPECT_EQ(s.uac(moved), 514);
  EXPECT_EQ(s.value(moved, "msExchHideFromAddressLists"), "TRUE");
  EXPECT_EQ(s.log(), std::string("   Nedlægger brugeren anbe \n"
                                 " Kører Script: script/farvel.cmd \n"
                                 "   RunScriptPreDisable: script/farvel.cmd anbe\n"
                                 "      ** Info: WaitForSingleObject() returnerede 0\n"
                                 "     anbe skjules for adresselister\n"
                                 "     anbe ændret navn til anbe_inaktiv, og sat i Inaktiv sti "
                                 "(LDAP://OU=Inaktive,") +
                         kMeda + ")\n");
}

TEST(NedlaegBruger, DirectoryWithoutTheMailSchemaReportsTheAttributeAndStillDisables) {
  Site s;
  const std::string dn = s.addUser("anbe", kElev, idFor("a"));
  (void)NedlaegBruger(s.rt, dirRecord("anbe", dn));
  const std::string moved = std::string("CN=anbe_inaktiv,OU=Inaktive,") + kElev;
  EXPECT_EQ(s.uac(moved), 514) << s.log();
  EXPECT_TRUE(
      s.logHas("     anbe skjules for adresselister\n"
               "** Fejl: msExchHideFromAddressLists error\n"));
  EXPECT_TRUE(s.logHas(std::string("   OU OU=Inaktive oprettes i LDAP://") + kElev + ".\n"))
      << "the inactive container is made when missing";
}

TEST(NedlaegBruger, LoginsAndPlacesThatNeedNoChange) {
  Site s;
  s.rt.settings.RenameInaktiv = false;
  s.select(false);
  const std::string dn = s.addUser("bobo", kElev, idFor("b"));
  (void)NedlaegBruger(s.rt, dirRecord("bobo", dn));
  const std::string moved = std::string("CN=bobo,OU=Inaktive,") + kElev;
  EXPECT_EQ(s.value(moved, "sAMAccountName"), "bobo") << s.log();

  // Disabled, in place, final name: nothing is written and nothing logged.
  std::string before = s.directory.saveLdif();
  s.clearLog();
  (void)NedlaegBruger(s.rt, dirRecord("bobo", moved));
  EXPECT_EQ(s.log(), "");
  EXPECT_EQ(s.directory.saveLdif(), before);

  // A login that already carries the suffix keeps it.
  s.rt.settings.RenameInaktiv = true;
  const std::string other =
      s.addUser("cede_inaktiv", kElev, idFor("c"), AccountShape::disabledOne());
  s.clearLog();
  (void)NedlaegBruger(s.rt, dirRecord("cede_inaktiv", other));
  EXPECT_EQ(s.value(std::string("CN=cede_inaktiv,OU=Inaktive,") + kElev, "sAMAccountName"),
            "cede_inaktiv")
      << s.log();
  EXPECT_EQ(s.log().find("Nedlægger"), std::string::npos) << "already disabled";
}

TEST(NedlaegBruger, ConfiguredAttributesAreClearedWhenTheyHoldValues) {
  Site s;
  s.rt.settings.NedlaegAttributFjernListElev = "telephoneNumber:mobile:pager";
  s.select(false);
  const std::string dn = s.addUser(
      "anbe", kElev, idFor("a"),
      AccountShape::marked("Autooprettet af ZEB (1)", false, "telephoneNumber: 11\nmobile: 22\n"));
  (void)NedlaegBruger(s.rt, dirRecord("anbe", dn));
  const std::string moved = std::string("CN=anbe_inaktiv,OU=Inaktive,") + kElev;
  EXPECT_EQ(s.value(moved, "telephoneNumber"), "<none>");
  EXPECT_EQ(s.value(moved, "mobile"), "<none>");
  EXPECT_TRUE(
      s.logHas("      telephoneNumber '11' nulstilles for bruger: anbe\n"
               "      mobile '22' nulstilles for bruger: anbe\n"))
      << s.log();
  EXPECT_EQ(s.log().find("pager"), std::string::npos);
}

TEST(NedlaegBruger, TakenInactiveLoginKeepsTheAccountInPlace) {
  Site s;
  s.addOu(std::string("OU=Inaktive,") + kElev);
  s.addUser("anbe_inaktiv", std::string("OU=Inaktive,") + kElev, idFor("x"),
            AccountShape::disabledOne());
  const std::string dn = s.addUser("anbe", kElev, idFor("a"));
  (void)NedlaegBruger(s.rt, dirRecord("anbe", dn));
  EXPECT_EQ(s.uac(dn), 514) << "disabled, but not moved";
  EXPECT_TRUE(s.logHas("** Fejl: Kan ikke nedlægge bruger, anbe_inaktiv eksisterer allerede\n"))
      << s.log();
}

TEST(NedlaegBruger, SuffixThatWouldOverrunTheLoginIsRefused) {
  Site s;
  const std::string dn = s.addUser("abcdefghijklmno", kElev, idFor("a"));
  (void)NedlaegBruger(s.rt, dirRecord("abcdefghijklmno", dn));
  EXPECT_EQ(s.uac(dn), 514);
  EXPECT_EQ(s.value(dn, "sAMAccountName"), "abcdefghijklmno");
  EXPECT_TRUE(
      s.logHas("** Fejl: NedlaegBruger: login 'abcdefghijklmno_inaktiv' er længere end "
               "20 tegn, som AD tillader.\n"))
      << s.log();
}

TEST(ArkiverBruger, ForeignAccountsAreArchivedOnlyInsideTheSystemContainer) {
  Site s;
  const std::string inside = s.addUser("anbe", kElev, idFor("a"), AccountShape::marked("Hånd"));
  s.addOu("OU=Andre,DC=skole,DC=test");
  const std::string outside =
      s.addUser("bobo", "OU=Andre,DC=skole,DC=test", idFor("b"), AccountShape::marked(""));
  (void)NedlaegBruger(s.rt, dirRecord("anbe", inside));
  EXPECT_EQ(s.uac(std::string("CN=anbe,OU=Arkiv,") + kElev), 512) << "archived, not disabled";
  EXPECT_TRUE(s.logHas("    anbe kan ikke nedlægges da brugeren ikke er vedligeholdt af ZEB.\n"));
  s.clearLog();
  std::string before = s.directory.saveLdif();
  ArkiverBruger(s.rt, *s.at(outside));
  EXPECT_EQ(s.log(),
            "** Fejl: Bruger der skal vedligeholdes findes udenfor forventet ZEB OU: "
            "CN=bobo, LDAP://CN=bobo,OU=Andre,DC=skole,DC=test\n");
  EXPECT_EQ(s.directory.saveLdif(), before);
  s.clearLog();
  ArkiverBruger(s.rt, *s.at(std::string("CN=anbe,OU=Arkiv,") + kElev));
  EXPECT_EQ(s.log(), "") << "already archived";
}

}  // namespace
}  // namespace tv

#include "runtime/trim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "runtime/locations.h"
#include "unit/config/config_test_support.h"

namespace tv::test {
namespace {

class Population : public ConfigFixture, public ::testing::Test {
 protected:
  Population() { computeLocations(rt); }
};

TEST_F(Population, UserContainerWithAlphabeticSplitUsesTheUpperCaseFirstLetter) {
  rt.settings.AlphaopdelADElev = true;
  selectPupils(rt);
  EXPECT_EQ(userContainer(rt, "karl0042"), "OU=K,OU=Elev,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(userContainer(rt, "øjvind"), "OU=Ø,OU=Elev,OU=ZEB,DC=skole,DC=test");
  // The letter is a DN value of its own: it cannot add a level to the name.
  EXPECT_EQ(userContainer(rt, ",x"), "OU=\\,,OU=Elev,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(userContainer(rt, "#x"), "OU=\\#,OU=Elev,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(userContainer(rt, ""), "OU=Elev,OU=ZEB,DC=skole,DC=test");

  // The staff split setting is the staff's own.
  selectStaff(rt);
  EXPECT_EQ(userContainer(rt, "karl0042"), "OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  rt.settings.AlphaopdelADMeda = true;
  rt.settings.AlphaopdelADElev = false;
  EXPECT_EQ(userContainer(rt, "anna"), "OU=A,OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  selectPupils(rt);
  EXPECT_EQ(userContainer(rt, "anna"), "OU=Elev,OU=ZEB,DC=skole,DC=test");
}

TEST_F(Population, UserContainerIsCutAtItsCapacity) {
  rt.settings.LdapPath = std::string(300, 'z');
  rt.settings.AlphaopdelADElev = true;
  computeLocations(rt);
  selectPupils(rt);
  std::string c = userContainer(rt, "b");
  EXPECT_EQ(c.size(), 259u);
  EXPECT_EQ(c.substr(0, 13), "OU=B,OU=Elev,");
}

TEST_F(Population, SelectingStaffAfterPupilsReplacesEveryField) {
  Settings& s = rt.settings;
  s.OpretShareElev = 2;
  s.HideShareElev = true;
  s.AlphaopdelShareElev = true;
  s.FileServerShareElev = "\\\\fil01\\elever$";
  s.FileServerPathElev = "D:\\Elev";
  s.HomeDirDriveElev = "P:";
  s.TerminalProfileShareElev = "\\\\fil01\\ts\\elev.man";
  s.TerminalProfileShareElevCreate = true;
  s.TerminalProfileFolderElev = "ts";
  s.UserProfileShareElev = "\\\\fil01\\profil\\elev.MAN";
  s.UserProfileShareElevCreate = true;
  s.UserProfileFolderElev = "pe";
  s.OpretMailElev = 4;
  s.PasswdNeverExpiresElev = true;
  s.AccessPermissionsShareElev = 0x1301BF;
  s.InheritPermissionsShareElev = true;
  s.RefreshHomeDirElev = true;
  s.RefreshTerminalProfileElev = true;
  s.RefreshUserProfileElev = true;
  // Staff: everything empty or off except the home drive.
  s.HideShareMeda = false;
  s.RefreshHomeDirMeda = false;
  s.RefreshTerminalProfileMeda = false;
  s.RefreshUserProfileMeda = false;
  s.UserProfileShareMedaCreate = false;
  s.HomeDirDriveMeda = "H:";

  selectPupils(rt);
  const Trim& t = rt.trim;
  EXPECT_EQ(t.label, "Elev");
  EXPECT_FALSE(t.staff);
  EXPECT_EQ(t.shareMode, 2);
  EXPECT_TRUE(t.terminalProfileIsFile);
  EXPECT_TRUE(t.userProfileIsFile);
  EXPECT_EQ(t.mailMode, 4);
  EXPECT_EQ(t.shareAccessMask, 0x1301BFu);
  EXPECT_EQ(t.inactiveLdapPath, "LDAP://OU=Inaktive,OU=Elev,OU=ZEB,DC=skole,DC=test");

  selectStaff(rt);
  EXPECT_EQ(t.label, "Medarbejder");
  EXPECT_TRUE(t.staff);
  EXPECT_EQ(t.shareMode, 0);
  EXPECT_FALSE(t.hideShare);
  EXPECT_FALSE(t.alphaShare);
  EXPECT_EQ(t.shareRoot, "");
  EXPECT_EQ(t.shareRootPath, "");
  EXPECT_EQ(t.homeDrive, "H:");
  EXPECT_EQ(t.terminalProfileShare, "");
  EXPECT_FALSE(t.terminalProfileShareCreate);
  EXPECT_FALSE(t.terminalProfileIsFile);
  EXPECT_EQ(t.terminalProfileFolder, "");
  EXPECT_EQ(t.userProfileShare, "");
  EXPECT_FALSE(t.userProfileShareCreate);
  EXPECT_FALSE(t.userProfileIsFile);
  EXPECT_EQ(t.userProfileFolder, "");
  EXPECT_EQ(t.mailMode, 0);
  EXPECT_FALSE(t.passwordNeverExpires);
  EXPECT_EQ(t.shareAccessMask, 0u);
  EXPECT_FALSE(t.shareInherit);
  EXPECT_FALSE(t.refreshHomeDir);
  EXPECT_FALSE(t.refreshTerminalProfile);
  EXPECT_FALSE(t.refreshUserProfile);
  EXPECT_EQ(t.path, "OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(t.ldapPath, "LDAP://OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(t.archivePath, "OU=Arkiv,OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(t.archiveLdapPath, "LDAP://OU=Arkiv,OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(t.inactivePath, "OU=Inaktive,OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
  EXPECT_EQ(t.inactiveLdapPath, "LDAP://OU=Inaktive,OU=Medarbejder,OU=ZEB,DC=skole,DC=test");
}

TEST_F(Population, SelectionIsLoggedFromLogLevelOne) {
  selectPupils(rt);
  selectStaff(rt);
  EXPECT_EQ(logText(), "");
  rt.settings.LogLevel = 1;
  selectPupils(rt);
  selectStaff(rt);
  EXPECT_EQ(logText(), "SetTrimPers()\nSetTrimMeda()\n");
}

TEST(ProfileTest, NeedsAName) {
  EXPECT_TRUE(isProfileFile("\\\\fil01\\profiler\\elev.MAN"));
  EXPECT_TRUE(isProfileFile("a.pro"));
  EXPECT_TRUE(isProfileFile("æ.Pro"));  // five characters, six bytes
  EXPECT_FALSE(isProfileFile(".pro"));
  EXPECT_FALSE(isProfileFile(".MAN"));
  EXPECT_FALSE(isProfileFile("a.prof"));
  EXPECT_FALSE(isProfileFile("\\\\fil01\\profiler"));
  EXPECT_FALSE(isProfileFile(""));
}

TEST(ShareServer, IsTheNameAfterTheTwoLeadingCharacters) {
  EXPECT_EQ(shareServer("\\\\fil01\\home$"), "fil01");
  EXPECT_EQ(shareServer("//fil01/home$/x"), "fil01");
  EXPECT_EQ(shareServer("\\\\fil01"), "fil01");
  EXPECT_EQ(shareServer("\\\\sk\xC3\xB8le\\x"), "skøle");
  EXPECT_EQ(shareServer("\\\\"), "");
  EXPECT_EQ(shareServer("\\"), "");
  EXPECT_EQ(shareServer(""), "");
  EXPECT_EQ(shareServer("\\\\\\share"), "");
  EXPECT_EQ(shareServer("\\\\" + std::string(400, 's')).size(), 259u);
}

}  // namespace
}  // namespace tv::test

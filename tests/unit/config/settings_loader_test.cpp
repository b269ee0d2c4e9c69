#include "runtime/settings_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "config/ini_file.h"
#include "config/version.h"
#include "unit/config/config_test_support.h"

namespace tv::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class SettingsLoad : public ConfigFixture, public ::testing::Test {
 protected:
  int load(const std::string& utf8Ini) {
    folder.write("Tavlevagt.ini", utf8ToCp1252(utf8Ini));
    return loadSettings(rt);
  }
  const Settings& s() const { return rt.settings; }
  // The expected text of a data file with the build stamp and data folder filled in.
  std::string expected(const std::string& name) {
    std::string t = fillTemplate(dataFile(name), "BUILD_DATE", buildDate());
    t = fillTemplate(t, "BUILD_TIME", buildTime());
    return fillTemplate(t, "DATA", folder.path());
  }
  // Writes what the load logged as a new expected file when asked to, so a
  // deliberate change of the report can be reviewed as a diff.
  void offerGolden(const std::string& name, std::string actual) {
    const char* out = std::getenv("TAVLEVAGT_WRITE_EXPECTED");
    if (out == nullptr) return;
    actual = replaceAll(actual, std::string(buildDate()) + " " + buildTime(),
                        "@BUILD_DATE@ @BUILD_TIME@");
    actual = replaceAll(actual, folder.path(), "@DATA@");
    std::ofstream(std::string(out) + "/" + name, std::ios::binary) << actual;
  }
};

// The whole report of a settings file that sets every key, as the log shows it.
TEST_F(SettingsLoad, ReportOfAFullSettingsFileMatchesTheExpectedLogWhole) {
  folder.write("Tavlevagt.ini", dataFile("full.ini"));
  EXPECT_EQ(loadSettings(rt), 0);
  std::string actual = logText();
  offerGolden("full_report.txt", actual);
  EXPECT_EQ(actual, expected("full_report.txt"));

  // Each flush reaches the event log as one information event.
  ASSERT_EQ(events.events.size(), 7u);
  for (const auto& e : events.events) EXPECT_EQ(e.type, EventType::Information);
  // The first is the start banner and the main section.
  const std::string whole = expected("full_report.txt");
  EXPECT_EQ(events.events[0].text, whole.substr(0, whole.find("MedarbejderFelter-title")));
}

TEST_F(SettingsLoad, FullSettingsFileGivesTheTypedValues) {
  folder.write("Tavlevagt.ini", dataFile("full.ini"));
  ASSERT_EQ(loadSettings(rt), 0);
  EXPECT_EQ(s().BrugerIdentifikation, "extensionAttribute1");
  EXPECT_TRUE(s().IDrift);
  EXPECT_TRUE(s().BrugUuidDrift);  // forced on by IDrift
  EXPECT_TRUE(s().GrupperIDrift);
  EXPECT_EQ(s().LogLevel, 2);
  EXPECT_EQ(s().ZEBMarkering, "info");  // quotes dropped as Windows drops them
  EXPECT_FALSE(s().CheckZEBMarkering);
  EXPECT_FALSE(s().RenameInaktiv);
  EXPECT_EQ(s().MedaArkivEkstraDage, 30);
  EXPECT_EQ(s().LdapPath, "OU=Skovbakke,OU=Skoler");
  EXPECT_EQ(s().GroupListMeda, "Lærere:Pædagoger");
  EXPECT_EQ(s().AccessPermissionsShareElev, 0x1301BFu);
  EXPECT_EQ(s().AccessPermissionsShareMeda, 0x1F01FFu);
  EXPECT_EQ(s().AccessPermissionsShareGruppe, 0x1200A9u);
  EXPECT_EQ(s().DageForSlet, 100);
  EXPECT_EQ(s().DageForSletMeda, 0);
  EXPECT_TRUE(s().AlphaopdelADElev);
  EXPECT_EQ(s().NedlaegAttributFjernListMeda, "mail:telephoneNumber");
  EXPECT_EQ(s().RunScriptPreRenameMeda, "script\\omdøb_meda.cmd");
  EXPECT_EQ(s().OpretShareMeda, 1);
  EXPECT_EQ(s().OpretShareElev, 2);
  EXPECT_EQ(s().FileServerShareMeda, "\\\\fil01\\home$");
  EXPECT_EQ(s().HomeDirDriveMeda, "H:");
  EXPECT_EQ(s().HomeDirDriveElev, "");
  EXPECT_FALSE(s().RefreshHomeDirElev);
  EXPECT_EQ(s().FileServerCredentials, "fileserver.cred");
  EXPECT_EQ(s().OpretShareGruppe, 1);
  EXPECT_TRUE(s().UniversalGroups);
  EXPECT_TRUE(s().TerminalProfileShareMedaCreate);
  EXPECT_FALSE(s().UserProfileShareMedaCreate);
  EXPECT_EQ(s().OpretMailElev, 4);
  EXPECT_EQ(s().MailStoreElev1, "Elevpostkasser 1");
  EXPECT_EQ(s().MedaUndtaget, "administrator:skolesekretær");
  EXPECT_EQ(s().BrovaltAuth, "Y2xpZW50OnNlY3JldA==");
  EXPECT_EQ(s().BrovaltTimeout, 30);
  EXPECT_EQ(s().NedlaegGraense, 25);    // "25%" reads as its digits
  EXPECT_EQ(s().NedlaegGraenseMin, 0);  // a negative floor is none
  EXPECT_EQ(s().LdapServer, "ldaps://dc1.skole.test ldaps://dc2.skole.test");
  EXPECT_EQ(s().LdapBind, "simple");
  EXPECT_EQ(s().LdapPasswordFile, "ldap.password");
  EXPECT_FALSE(s().LdapStartTls);

  auto same = [](const std::vector<AttributeMapEntry>& m) {
    std::vector<std::string> out;
    for (const auto& e : m) out.push_back(e.attribute + "=" + e.field);
    return out;
  };
  EXPECT_THAT(same(s().MedarbejderFelter),
              ElementsAre("title=Stillingsbetegnelse", "description=*Autooprettet af ZEB",
                          "postalCode=afdelingspostnr", "l=afdelingsstednavn", "FirstName=fornavn",
                          "LastName=efternavn", "displayName=NAVN", "department=afdelingsnavn",
                          "company=Skolenavn", "mail=%s@skovbakke.dk", "postalCode=afdelingspostnr",
                          "initials=initialer"));
  EXPECT_THAT(same(s().ElevFelter),
              ElementsAre("title=UDDA_BETEGNELSE", "FirstName=fornavn", "LastName=efternavn",
                          "mail=%s@elev.skovbakke.dk", "streetAddress=elevgade"));
}

TEST_F(SettingsLoad, MissingFileGivesEveryDefaultAndTheDefaultReport) {
  rt.ports.directory = nullptr;
  EXPECT_EQ(loadSettings(rt), 0);
  std::string actual = logText();
  offerGolden("default_report.txt", actual);
  EXPECT_EQ(actual, expected("default_report.txt"));

  EXPECT_EQ(s().BrugerIdentifikation, "-");
  EXPECT_EQ(s().LdapPath, "OU=ZEB");
  EXPECT_EQ(s().MedaArkivEkstraDage, 500);
  EXPECT_EQ(s().NedlaegGraense, 0);  // no brake unless the school asks for one
  EXPECT_EQ(s().NedlaegGraenseMin, 10);
  EXPECT_TRUE(s().GrupperIDrift);
  EXPECT_TRUE(s().CheckZEBMarkering);
  EXPECT_TRUE(s().RenameInaktiv);
  EXPECT_TRUE(s().HideShareMeda);
  EXPECT_TRUE(s().UserProfileShareElevCreate);
  EXPECT_FALSE(s().TerminalProfileShareElevCreate);
  EXPECT_EQ(s().LdapBind, "gssapi");
  EXPECT_EQ(s().BrovaltTimeout, 60);
  EXPECT_TRUE(s().MedarbejderFelter.empty());
  EXPECT_TRUE(s().ElevFelter.empty());
}

TEST_F(SettingsLoad, YesNoIsOnOnlyForAFirstLetterJ) {
  load(
      "[Tavlevagt]\nIDrift=Ja\nBrugUuidDrift=Nej\nGrupperIDrift=Yes\nCheckZEBMarkering=j\n"
      "RenameInaktiv=\nMedaSlet= jA\n");
  EXPECT_TRUE(s().IDrift);
  EXPECT_TRUE(s().BrugUuidDrift);
  EXPECT_FALSE(s().GrupperIDrift);
  EXPECT_TRUE(s().CheckZEBMarkering);
  EXPECT_FALSE(s().RenameInaktiv);  // an empty value is off, not the default
  EXPECT_TRUE(s().MedaSlet);        // the blank before it is the reader's, not the value's
  EXPECT_THAT(logText(), HasSubstr("Tavlevagt-GrupperIDrift: Yes\n"
                                   "Tavlevagt-IDrift: Ja\n"));
}

TEST_F(SettingsLoad, ShareAndMailModes) {
  load(
      "[FileShare]\nOpretShareMeda=MAPPE\nOpretShareElev=Ja\n"
      "[GruppeShare]\nOpretShareGruppe=mapper\n"
      "[Mail]\nOpretMailElev=Mailbox\nMailStoreElev1=Store A\n");
  EXPECT_EQ(s().OpretShareMeda, 2);
  EXPECT_EQ(s().OpretShareElev, 1);
  EXPECT_EQ(s().OpretShareGruppe, 0);
  EXPECT_EQ(s().OpretMailElev, 4);
  EXPECT_EQ(s().MailStoreElev1, "Store A");
  EXPECT_THAT(logText(), HasSubstr("Mail-OpretMailElev: Mailbox\nMail-MailStoreElev1: Store A\n"));
}

TEST_F(SettingsLoad, MailStoreIsReadOnlyForMailboxMode) {
  load("[Tavlevagt]\nLogLevel=1\n[Mail]\nOpretMailElev=Ja\nMailStoreElev1=Store A\n");
  EXPECT_EQ(s().OpretMailElev, 3);
  EXPECT_EQ(s().MailStoreElev1, "");
  std::string log = logText();
  EXPECT_THAT(log, Not(HasSubstr("Store A")));
  EXPECT_THAT(log, Not(HasSubstr("Mailstores for elever:")));
}

TEST_F(SettingsLoad, MailStoresAreListedFromLogLevelOne) {
  load("[Tavlevagt]\nLogLevel=1\n[Mail]\nOpretMailElev=mailbox\nMailStoreElev1=Store A\n");
  std::string log = logText();
  EXPECT_EQ(log.substr(log.size() - 31), "Mailstores for elever:\nStore A\n");
}

TEST_F(SettingsLoad, DeletionDayRule) {
  load("[ADsettings]\nDageForSlet=30\nDageForSletMeda=-4\n");
  EXPECT_EQ(s().DageForSlet, 100);
  EXPECT_EQ(s().DageForSletMeda, 0);
  EXPECT_THAT(logText(), HasSubstr("ADsettings-ForceSlet: Nej\nADsettings-DageForSlet: 30\n"
                                   "ADsettings-DageForSletMeda: -4\n"));

  load("[ADsettings]\nForceSlet=Ja\nDageForSlet=30\nDageForSletMeda=99\n");
  EXPECT_EQ(s().DageForSlet, 30);
  EXPECT_EQ(s().DageForSletMeda, 99);

  load("[ADsettings]\nDageForSlet=1\nDageForSletMeda=100\n");
  EXPECT_EQ(s().DageForSlet, 100);
  EXPECT_EQ(s().DageForSletMeda, 100);
}

TEST_F(SettingsLoad, HomeDriveMustBeALetterAndAColon) {
  load("[FileShare]\nHomeDirDriveMeda=H\nHomeDirDriveElev=H:\\\n");
  EXPECT_EQ(s().HomeDirDriveMeda, "");
  EXPECT_EQ(s().HomeDirDriveElev, "");
  EXPECT_THAT(logText(), HasSubstr("FileShare-HomeDirDriveMeda: UGYLDIGT format! Nulstiller!\n"
                                   "FileShare-HomeDirDriveElev: UGYLDIGT format! Nulstiller!\n"));

  load("[FileShare]\nHomeDirDriveMeda=H:\nHomeDirDriveElev=Ø:\n");
  EXPECT_EQ(s().HomeDirDriveMeda, "H:");
  EXPECT_EQ(s().HomeDirDriveElev, "Ø:");  // the letter itself is not examined
  EXPECT_THAT(logText(), HasSubstr("FileShare-HomeDirDriveMeda: H:\n"
                                   "FileShare-HomeDirDriveElev: Ø:\n"));
}

TEST_F(SettingsLoad, StaffShareNameWithoutLeadingSeparatorsIsReportedAndKept) {
  EXPECT_EQ(load("[FileShare]\nFileServerShareMeda=fil01\\home$\n"), 1);
  EXPECT_EQ(s().FileServerShareMeda, "fil01\\home$");
  EXPECT_THAT(logText(), HasSubstr("FileServerShareMeda: fil01\\home$\n"
                                   "** Fejl: Ugyldig sharenavn\n"));

  EXPECT_EQ(load("[FileShare]\nFileServerShareMeda=\\\\fil01\\home$\n"), 0);
  EXPECT_EQ(load("[FileShare]\nFileServerShareMeda=//fil01/home$\n"), 0);
  EXPECT_EQ(load("[FileShare]\nFileServerShareMeda=\\/fil01\n"), 0);
  EXPECT_EQ(load("[FileShare]\nFileServerShareMeda=ab\n"), 0);  // too short to judge
  // The pupils' share is not validated.
  EXPECT_EQ(load("[FileShare]\nFileServerShareElev=fil01\\elev$\n"), 0);
}

TEST_F(SettingsLoad, AttributeMapRefusesTheIdentificationAttributeAndUnknownFields) {
  load(
      "[Tavlevagt]\nBrugerIdentifikation=extensionAttribute9\n"
      "[MedarbejderFelter]\nextensionAttribute9=meda_id\ntitle=Titel\npager=*x\n"
      "comment=navn\ncompany=x@y\n"
      "[ElevFelter]\ncompany=Skolenavn\nextensionAttribute9=\n");
  ASSERT_EQ(s().MedarbejderFelter.size(), 2u);
  EXPECT_EQ(s().MedarbejderFelter[0].attribute, "pager");
  EXPECT_EQ(s().MedarbejderFelter[0].field, "*x");
  EXPECT_EQ(s().MedarbejderFelter[1].attribute, "company");
  EXPECT_TRUE(s().ElevFelter.empty());  // pupils have no "company" key at all
  std::string log = logText();
  EXPECT_THAT(log, HasSubstr("MedarbejderFelter-title: Titel\n"
                             "**Fejl: Titel er ikke et gyldig indhold\n"));
  EXPECT_THAT(log, HasSubstr("MedarbejderFelter-comment: navn\n"
                             "**Fejl: navn er ikke et gyldig indhold\n"));
  EXPECT_THAT(log, HasSubstr("MedarbejderFelter-extensionAttribute9: meda_id\n**Bemærk: "
                             "extensionAttribute9 er ikke tilgængelig da den er brugt til "
                             "BrugerIdentifikation\n"));
  EXPECT_THAT(log, Not(HasSubstr("ElevFelter-company")));
  EXPECT_THAT(log, Not(HasSubstr("**Bemærk: extensionAttribute9 er ikke tilgængelig da den er "
                                 "brugt til BrugerIdentifikation\n\n")));
}

TEST_F(SettingsLoad, GarbageNumbersReadLikeTheCLibrary) {
  load(
      "[Tavlevagt]\nLogLevel=abc\nMedaArkivEkstraDage=  12dage\nPersArkivEkstraDage=99999999999\n"
      "[ADsettings]\nAccessPermissionsShareElev=zz\nAccessPermissionsShareMeda=-1\n"
      "AccessPermissionsShareGruppe=123456789\nBackupDage=-7x\n"
      "[Brovalt]\nBrovaltTimeout=0\n");
  // A negative age would take every file; it is refused (see HousekeepingAges).
  EXPECT_EQ(s().LogLevel, 0);
  EXPECT_EQ(s().MedaArkivEkstraDage, 12);
  EXPECT_EQ(s().PersArkivEkstraDage, 2147483647);
  EXPECT_EQ(s().AccessPermissionsShareElev, 0u);
  EXPECT_EQ(s().AccessPermissionsShareMeda, 0xFFFFFFFFu);
  EXPECT_EQ(s().AccessPermissionsShareGruppe, 0xFFFFFFFFu);
  EXPECT_EQ(s().BackupDage, 0);
  EXPECT_EQ(s().BrovaltTimeout, 60);
  EXPECT_THAT(logText(), HasSubstr("Tavlevagt-LogLevel: abc\n"));
}

TEST_F(SettingsLoad, HousekeepingAgesBelowZeroAreAnErrorLineAndStayOff) {
  const struct {
    const char* value;
    int days;
    bool error;
  } cases[] = {{"30", 30, false}, {"0", 0, false},   {"", 0, false},
               {"-1", 0, true},   {"-365", 0, true}, {"-7x", 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    folder.write("Tavlevagt.log", "");
    (void)log.open();
    load(std::string("[ADsettings]\nBackupDage=") + c.value + "\nBackupDeleteDage=" + c.value +
         "\n");
    log.release();
    EXPECT_EQ(s().BackupDage, c.days);
    EXPECT_EQ(s().BackupDeleteDage, c.days);
    for (const char* key : {"BackupDage", "BackupDeleteDage"}) {
      const std::string error = std::string("** Fejl: ADsettings-") + key +
                                " må ikke være negativ; 0 (slået fra) bruges\n";
      EXPECT_EQ(logText().find(error) != std::string::npos, c.error) << key;
    }
  }
}

TEST_F(SettingsLoad, TakingUpInterruptedJobsIsOffAndSilentUnlessSet) {
  load("[Tavlevagt]\nIDrift=Ja\n");
  EXPECT_FALSE(s().GenoptagAfbrudteJob);
  EXPECT_THAT(logText(), Not(HasSubstr("GenoptagAfbrudteJob")));
  load("[Tavlevagt]\nGenoptagAfbrudteJob=Ja\n");
  EXPECT_TRUE(s().GenoptagAfbrudteJob);
  EXPECT_THAT(logText(), HasSubstr("Tavlevagt-GenoptagAfbrudteJob: Ja\n"));
}

TEST_F(SettingsLoad, OverLongValuesAreCutToTheirCapacity) {
  const std::string longText(600, 'a');
  std::string danish;
  for (int i = 0; i < 300; ++i) danish += "æ";
  load("[Tavlevagt]\nBrugerIdentifikation=" + longText + "\n[ADsettings]\nLdapPath=" + longText +
       "\nNedlaegAttributFjernListMeda=" + longText + "\n[Mail]\nGruppeMail=" + danish +
       "\n[Undtagelser]\nMedaUndtaget=" + std::string(20000, 'm') +
       "\n[MedarbejderFelter]\ntitle=*" + longText + "\n");
  EXPECT_EQ(s().BrugerIdentifikation, std::string(49, 'a'));
  EXPECT_EQ(s().LdapPath, std::string(259, 'a'));
  EXPECT_EQ(s().NedlaegAttributFjernListMeda, std::string(259, 'a'));
  EXPECT_EQ(charCount(s().GruppeMail), 49u);
  EXPECT_EQ(s().MedaUndtaget, std::string(15999, 'm'));
  ASSERT_EQ(s().MedarbejderFelter.size(), 1u);
  EXPECT_EQ(s().MedarbejderFelter[0].field, "*" + std::string(63, 'a'));
  EXPECT_EQ(charCount(rt.trim.ElevInaktiveLdapPath), 259u);
  // The report shows the value as the reader's 500-byte buffer held it.
  EXPECT_THAT(logText(), HasSubstr("Tavlevagt-BrugerIdentifikation: " + std::string(499, 'a') +
                                   "\nTavlevagt-BrugUuidDrift"));
}

TEST_F(SettingsLoad, LongExceptionListsReachTheLogWhole) {
  const std::string meda(15999, 'm');
  std::string pers;  // two bytes a character: the long line is cut between characters
  for (int i = 0; i < 15999; ++i) pers += "ø";
  load("[Undtagelser]\nMedaUndtaget=" + meda + "\nPersUndtaget=" + pers + "\n");
  std::string log = logText();
  EXPECT_THAT(log, HasSubstr("\nUndtagelserMeda: " + meda + "\nUndtagelserPers: " + pers +
                             "\nBrovalt-BrovaltTimeout: 60\n"));
  for (const auto& e : events.events) EXPECT_LE(e.text.size(), 15999u);
}

TEST_F(SettingsLoad, TheJobServerCredentialNeverReachesTheLog) {
  load("[Brovalt]\nBrovaltAuth=Y2xpZW50OnNlY3JldA==\n");
  EXPECT_EQ(s().BrovaltAuth, "Y2xpZW50OnNlY3JldA==");
  std::string log = logText();
  EXPECT_THAT(log, HasSubstr("Brovalt-BrovaltAuth: (skjult)\n"));
  EXPECT_THAT(log, Not(HasSubstr("Y2xpZW50")));
  for (const auto& e : events.events) EXPECT_THAT(e.text, Not(HasSubstr("Y2xpZW50")));
}

// The token server has no default, so a job server without one is named as
// the error it is.
TEST_F(SettingsLoad, JobServerWithoutTokenServerIsAnErrorLine) {
  const std::string line =
      "** Fejl: BrovaltServer er sat, men BrovaltTokenServer er ikke; job-serveren kan ikke "
      "bruges uden token\n";
  const auto lines = [&] {
    const std::string log = logText();
    std::size_t n = 0;
    for (auto p = log.find(line); p != std::string::npos; p = log.find(line, p + 1)) ++n;
    return n;
  };
  load("[Brovalt]\nBrovaltServer=brovalt.example\n");
  EXPECT_EQ(s().BrovaltTokenServer, "");
  EXPECT_THAT(logText(), HasSubstr("Brovalt-BrovaltServer: brovalt.example\n"));
  EXPECT_EQ(lines(), 1u);
  load("[Brovalt]\nBrovaltServer=brovalt.example\nBrovaltTokenServer=login.example\n");
  load("[Brovalt]\n");
  EXPECT_EQ(lines(), 1u) << "only the load without a token server";
}

TEST_F(SettingsLoad, UnknownLdapBindFallsBackToKerberos) {
  load("[LDAP]\nLdapBind=\n");
  EXPECT_EQ(s().LdapBind, "gssapi");
  EXPECT_THAT(logText(), Not(HasSubstr("LdapBind")));

  load("[LDAP]\nLdapBind=anonymous\n");
  EXPECT_EQ(s().LdapBind, "gssapi");
  EXPECT_THAT(logText(), HasSubstr("LDAP-LdapBind: anonymous\n"
                                   "** Fejl: Ugyldig LdapBind, gssapi bruges\n"
                                   "LDAP-LdapStartTls: Nej\n"));
}

TEST_F(SettingsLoad, PercentInAValueIsLoggedAsItStands) {
  load("[RunScript]\nRunScriptElev=opret.cmd %s %d %n\n");
  EXPECT_THAT(logText(), HasSubstr("RunScript-RunScriptElev: opret.cmd %s %d %n\n"));
}

TEST_F(SettingsLoad, EveryLoadStartsFromTheDefaults) {
  load("[Tavlevagt]\nLogLevel=3\nRenameInaktiv=Nej\n[ElevFelter]\nmail=EMAIL\n");
  ASSERT_EQ(s().LogLevel, 3);
  ASSERT_EQ(s().ElevFelter.size(), 1u);
  load("[Tavlevagt]\nIDrift=Ja\n");
  EXPECT_EQ(s().LogLevel, 0);
  EXPECT_TRUE(s().RenameInaktiv);
  EXPECT_TRUE(s().ElevFelter.empty());
}

TEST_F(SettingsLoad, UnreadableSettingsFileIsReportedAndDefaultsApply) {
  std::filesystem::create_directory(folder.file("Tavlevagt.ini"));
  EXPECT_EQ(loadSettings(rt), 0);
  EXPECT_EQ(s().LdapPath, "OU=ZEB");
  EXPECT_THAT(logText(), HasSubstr("Inifil: " + folder.file("Tavlevagt.ini") +
                                   "\n** Fejl: Inifil kan ikke læses, standardværdier bruges\n"));
}

}  // namespace
}  // namespace tv::test

#include <gtest/gtest.h>

#include "site_fixture.h"
#include "support/counting_directory.h"
#include "support/faulty_directory.h"
#include "sync/terminal_services.h"
#include "sync/user_operations.h"
#include "users/user_queries.h"

namespace tv {
namespace {

using test::AccountShape;
using test::dirRecord;
using test::idFor;
using test::kElev;
using test::kMeda;
using test::record;
using test::Site;

TEST(SaetAttribut, WritesOnlyWhatDiffersAndClearsOnlyWhatHasAValue) {
  Site s;
  const std::string dn = s.addUser(
      "anbe", kElev, idFor("a"),
      AccountShape::marked("Autooprettet af ZEB (1)", false, "title: Elev\nmobile: 12345678\n"));
  auto o = s.at(dn);
  SaetAttribut(s.rt, "anbe", *o, "title", "Elev");
  SaetAttribut(s.rt, "anbe", *o, "company", "");
  EXPECT_EQ(s.log(), "") << "equal value and empty-on-empty change nothing";
  std::string usn = s.value(dn, "uSNChanged");
  SaetAttribut(s.rt, "anbe", *o, "title", "**Lærer");
  SaetAttribut(s.rt, "anbe", *o, "company", "Skolen");
  SaetAttribut(s.rt, "anbe", *o, "mobile", "");
  EXPECT_EQ(s.log(),
            "      title: 'Elev' rettes til 'Lærer' for bruger: 'anbe'\n"
            "      company sættes til 'Skolen' for bruger: 'anbe'\n"
            "      mobile '12345678' nulstilles for bruger: anbe\n");
  EXPECT_EQ(s.value(dn, "title"), "Lærer");
  EXPECT_EQ(s.value(dn, "company"), "Skolen");
  EXPECT_EQ(s.value(dn, "mobile"), "<none>");
  EXPECT_NE(s.value(dn, "uSNChanged"), usn);
}

TEST(SaetAttribut, PropertyNamesOfTheUserInterfaceMeanTheirStoredAttributes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"FirstName", "givenName"},
      {"firstname", "givenName"},
      {"LASTNAME", "sn"},
      {"OfficeLocations", "physicalDeliveryOfficeName"},
      {"LoginScript", "scriptPath"},
      {"givenName", "givenName"},
      {"FirstNames", "FirstNames"},
      {"FirstNam", "FirstNam"},
      {"FïrstName", "FïrstName"},
      {"", ""},
  };
  for (const auto& [property, stored] : cases) {
    EXPECT_EQ(storedAttributeName(property), stored) << property;
  }
  Site s;
  const std::string dn =
      s.addUser("anbe", kElev, idFor("a"), AccountShape::marked("Autooprettet af ZEB (1)", false));
  auto o = s.at(dn);
  SaetAttribut(s.rt, "anbe", *o, "FIRSTNAME", "Anna");
  EXPECT_EQ(s.value(dn, "givenName"), "Anna");
}

// The field map's writes are committed together, yet the log and the
// account end exactly as with one SaetAttribut after the other (the way the
// map was written before), whichever attribute the directory refuses.
TEST(OpdaterFelter, ChangedFieldsShareACommitAndLogAsWrittenOneByOne) {
  const std::vector<AttributeMapEntry> map = {
      {"givenName", "fornavn"},  {"sn", "efternavn"}, {"displayName", "NAVN"},
      {"initials", "initialer"}, {"title", "CLEAR"},  {"mobile", "*12345"},
      {"FirstName", "*Anne"},  // a second write of givenName
  };
  for (const char* refused : {"", "sn", "givenName", "displayName", "title"}) {
    struct Run {
      Site site;
      test::FaultyDirectory faulty{site.directory};
      test::CountingDirectory counting{faulty};
      std::string dn;
      Run(const std::vector<AttributeMapEntry>& map, const char* refused) {
        dn = site.addUser("annaberggren", kElev, idFor("a"),
                          AccountShape::marked("Autooprettet af ZEB (12345)", false,
                                               "sn: Gammel\ntitle: Elev\n"));
        if (*refused != '\0') faulty.failCommits("CN=annaberggren,", refused);
        site.rt.ports.directory = &counting;
        site.rt.settings.ElevFelter = map;
        site.select(false);
      }
    };
    Run joint(map, refused), oneByOne(map, refused);
    FileUser u = record("annaberggren", idFor("a"));
    {
      auto o = joint.counting.bind("LDAP://" + joint.dn);
      ASSERT_TRUE(o.ok());
      OpdaterFelter(joint.site.rt, *o.value, u);
    }
    {
      auto o = oneByOne.counting.bind("LDAP://" + oneByOne.dn);
      ASSERT_TRUE(o.ok());
      Runtime& rt = oneByOne.site.rt;
      SaetAttribut(rt, u.login, *o.value, rt.settings.ZEBMarkering, u.description);
      for (const AttributeMapEntry& e : map) {
        if (auto v = fieldMapValue(rt, u, e.field))
          SaetAttribut(rt, u.login, *o.value, e.attribute, *v);
      }
    }
    EXPECT_EQ(joint.site.log(), oneByOne.site.log()) << refused;
    for (const char* attr : {"givenName", "sn", "displayName", "initials", "title", "mobile"}) {
      EXPECT_EQ(joint.site.value(joint.dn, attr), oneByOne.site.value(oneByOne.dn, attr))
          << refused << ": " << attr;
    }
    EXPECT_TRUE(joint.site.logHas("**    Kan ikke sætte initialer, Login > 8\n"));
    if (*refused == '\0') {
      // givenName, sn and displayName together up to the initials' line;
      // the clear; mobile with the second givenName.
      EXPECT_EQ(joint.counting.counts().commits, 3u);
      EXPECT_EQ(oneByOne.counting.counts().commits, 6u);
      EXPECT_EQ(joint.site.value(joint.dn, "givenName"), "Anne");
    }
  }
}

TEST(FieldMap, ExpressionsAndNamedFieldsGiveTheirValues) {
  Site s(false, true);
  FileUser u = record("anbe", idFor("a"));
  u.jobTitle = "Lærer";
  auto v = [&](const char* name) { return fieldMapValue(s.rt, u, name).value_or("<skip>"); };
  EXPECT_EQ(v("NAVN_INIT"), "Anna Berg (anbe)");
  EXPECT_EQ(v("ID_NAVN"), "12345 Anna Berg");
  EXPECT_EQ(v("*Skolen"), "*Skolen") << "SaetAttribut drops the stars";
  EXPECT_EQ(v("@skole.dk"), "anbe@skole.dk");
  EXPECT_EQ(v("U_MEDA"), "U12345");
  EXPECT_EQ(v("E_PERS"), "<skip>") << "a pupil expression for staff";
  EXPECT_EQ(v("Stillingsbetegnelse"), "Lærer");
  EXPECT_EQ(v("Skolenavn"), "Byskolen");
  EXPECT_EQ(v("CLEAR"), "");
  EXPECT_EQ(v("pers_id"), "<skip>");
  EXPECT_EQ(v("ukendt"), "<skip>");
  EXPECT_EQ(v("initialer"), "anbe");
  EXPECT_EQ(v("x@y"), "anbex@y") << "the @ row comes before the SMTPmail row";
  EXPECT_EQ(s.log(), "");
  EXPECT_EQ(v("SMTPmail"), "<skip>");
  EXPECT_EQ(s.log(), "      ** Info: Feltet 'SMTPmail' giver ingen værdi og springes over.\n");

  s.select(false);
  EXPECT_EQ(v("E_PERS"), "E12345");
  EXPECT_EQ(v("UDDA_BETEGNELSE"), "Elev på 7A");
  EXPECT_EQ(v("Stillingsbetegnelse"), "<skip>");
  EXPECT_EQ(v("SMTPmail"), "<skip>");
  EXPECT_EQ(v("MTStr_KLOV"), "");
  EXPECT_EQ(s.log(), "") << "for pupils the name is simply unknown";
}

TEST(FieldMap, InitialsTakeLoginsOfAtMostEightCharacters) {
  Site s(false, true);
  FileUser u = record("abcdefgh", idFor("a"));
  EXPECT_EQ(fieldMapValue(s.rt, u, "initialer"), "abcdefgh");
  u.login = "abcdefghi";
  EXPECT_EQ(fieldMapValue(s.rt, u, "initialer"), std::nullopt);
  s.select(false);
  EXPECT_EQ(fieldMapValue(s.rt, u, "initialer"), std::nullopt);
  EXPECT_EQ(s.log(), "**    Kan ikke sætte initialer, Login > 8\n");
  s.select(true);
  (void)fieldMapValue(s.rt, u, "initialer");
  EXPECT_EQ(s.log(), "**    Kan ikke sætte initialer, Login > 9\n");
}

TEST(ValidBWUser, MarkingAndPlaceDecide) {
  Site s;
  const std::string good = s.addUser("anbe", kElev, idFor("a"));
  const std::string unmarked = s.addUser("bobo", kElev, idFor("b"), AccountShape::marked(""));
  s.addOu("OU=Andet,OU=ZEB,DC=skole,DC=test");
  const std::string elsewhere = s.addUser("cede", "OU=Andet,OU=ZEB,DC=skole,DC=test", idFor("c"));
  EXPECT_EQ(ValidBWUser(s.rt, *s.at(good)), 1);
  EXPECT_EQ(s.log(), "");
  EXPECT_EQ(ValidBWUser(s.rt, *s.at(unmarked)), 0);
  EXPECT_EQ(
      s.log(),
      "\n** Info: Kan ikke læse markering i description eller i description (ValidBWUser())\n");
  s.clearLog();
  EXPECT_EQ(ValidBWUser(s.rt, *s.at(elsewhere)), 0);
  EXPECT_EQ(s.log(),
            "\n** Info: AdsPath: LDAP://CN=cede,OU=Andet,OU=ZEB,DC=skole,DC=test. "
            "Skulle indeholde Elev.\n");
  s.rt.settings.CheckZEBMarkering = false;
  EXPECT_EQ(ValidBWUser(s.rt, *s.at(unmarked)), 1);
  s.rt.settings.CheckZEBMarkering = true;
  s.rt.settings.LogLevel = 0;
  s.clearLog();
  EXPECT_EQ(ValidBWUser(s.rt, *s.at(unmarked)), 0);
  EXPECT_EQ(s.log(), "") << "a missing marking is silent at log level 0";
}

TEST(ValidBWUser, MarkingThatIsNotTextCountsAsMissing) {
  Site s;
  s.rt.settings.ZEBMarkering = "userAccountControl";
  const std::string dn = s.addUser("anbe", kElev, idFor("a"));
  // The number in userAccountControl is no marking; description is read instead.
  EXPECT_EQ(ValidBWUser(s.rt, *s.at(dn)), 1);
  const std::string bare = s.addUser("bobo", kElev, idFor("b"), AccountShape::marked(""));
  EXPECT_EQ(ValidBWUser(s.rt, *s.at(bare)), 0);
}

TEST(OpdaterBruger, UnchangedAccountCausesNoWrite) {
  Site s;
  s.rt.settings.ElevFelter = {{"givenName", "fornavn"}, {"sn", "efternavn"}, {"title", "*Elev"}};
  s.select(false);
  const std::string dn =
      s.addUser("anbe", kElev, idFor("a"),
                AccountShape::marked("Autooprettet af ZEB (12345)", false,
                                     "givenName: Anna\nsn: Berg\ntitle: Elev\n"));
  std::string usn = s.value(dn, "uSNChanged");
  DirUser d = dirRecord("anbe", dn, idFor("a"));
  FileUser u = record("anbe", idFor("a"));
  OpdaterBruger(s.rt, d, u);
  EXPECT_EQ(s.value(dn, "uSNChanged"), usn) << s.log();
  EXPECT_TRUE(s.logHas("   Opdaterer bruger ('anbe')\n"));
  EXPECT_EQ(s.log().find("sættes"), std::string::npos);
  EXPECT_EQ(s.log().find("rettes"), std::string::npos);
}

TEST(OpdaterBruger, ChangedFieldsAndPathsAreWrittenOnce) {
  Site s;
  s.rt.settings.ElevFelter = {{"givenName", "fornavn"}, {"mail", "@skole.dk"}};
  s.rt.settings.OpretShareElev = 1;
  s.rt.settings.HomeDirDriveElev = "H:";
  s.rt.settings.FileServerShareElev = "\\\\fil1\\elever";
  s.rt.settings.UserProfileShareElev = "\\\\fil1\\profiler\\standard.MAN";
  s.rt.settings.RunScriptAlwaysElev = "script/altid.cmd";
  s.rt.settings.RunScriptAlwaysElevList = "script/altidliste.cmd";
  s.select(false);
  const std::string dn =
      s.addUser("anbe", kElev, idFor("a"),
                AccountShape::marked("Autooprettet af ZEB (12345)", false, "givenName: Ana\n"));
  DirUser d = dirRecord("anbe", dn, idFor("a"));
  FileUser u = record("anbe", idFor("a"));
  OpdaterBruger(s.rt, d, u);
  EXPECT_EQ(s.value(dn, "givenName"), "Anna");
  EXPECT_EQ(s.value(dn, "mail"), "anbe@skole.dk");
  EXPECT_EQ(s.value(dn, "homeDirectory"), "\\\\fil1\\anbe$");
  EXPECT_EQ(s.value(dn, "homeDrive"), "H:");
  EXPECT_EQ(s.value(dn, "profilePath"), "\\\\fil1\\profiler\\standard.MAN");
  EXPECT_TRUE(
      s.logHas("      homedirectory sættes til '\\\\fil1\\anbe$'\n"
               "      UserProfilePath sættes til '\\\\fil1\\profiler\\standard.MAN'\n"))
      << s.log();
  EXPECT_TRUE(
      s.logHas("      givenName: 'Ana' rettes til 'Anna' for bruger: 'anbe'\n"
               "      mail sættes til 'anbe@skole.dk' for bruger: 'anbe'\n"));
  EXPECT_EQ(s.commands(), std::vector<std::string>{"script/altid.cmd anbe"});
  EXPECT_TRUE(s.rt.job.elevListChanged);
  EXPECT_EQ(s.logs.folder.read("RunScriptAlwaysElevListe-77.txt"), "anbe\n");

  // The second update finds everything in place.
  std::string usn = s.value(dn, "uSNChanged");
  s.clearLog();
  OpdaterBruger(s.rt, d, u);
  EXPECT_EQ(s.value(dn, "uSNChanged"), usn) << s.log();
}

TEST(OpdaterBruger, TerminalProfilePathLivesInUserParameters) {
  Site s;
  s.rt.settings.TerminalProfileShareElev = "\\\\fil1\\ts";
  s.rt.settings.TerminalProfileFolderElev = "profil";
  s.rt.settings.AlphaopdelShareElev = true;
  s.select(false);
  const std::string dn = s.addUser("anbe", kElev, idFor("a"));
  auto o = s.at(dn);
  EXPECT_EQ(TjekBrugerAttrib(s.rt, *o, record("anbe", idFor("a"))), 1);
  EXPECT_EQ(s.log(), "      TerminalProfilePath sættes til '\\\\fil1\\ts\\A\\anbe\\profil'\n");
  auto blob = s.at(dn)->get("userParameters");
  ASSERT_TRUE(blob.ok());
  EXPECT_EQ(terminalProfilePathOf(blob.value), "\\\\fil1\\ts\\A\\anbe\\profil");
  s.clearLog();
  EXPECT_EQ(TjekBrugerAttrib(s.rt, *s.at(dn), record("anbe", idFor("a"))), 0);
  EXPECT_EQ(s.log(), "");
}

TEST(OpdaterBruger, AccountInTheWrongLetterContainerIsMovedAndRenamedInPlace) {
  Site s;
  s.rt.settings.AlphaopdelADElev = true;
  s.select(false);
  s.addOu(std::string("OU=A,") + kElev);
  s.addOu(std::string("OU=B,") + kElev);
  const std::string dn = s.addUser("bnbe", std::string("OU=A,") + kElev, idFor("b"));
  s.clearLog();
  DirUser d = dirRecord("bnbe", dn, idFor("b"));
  FileUser u = record("bnbe", idFor("b"));
  OpdaterBruger(s.rt, d, u);
  const std::string moved = std::string("CN=bnbe,OU=B,") + kElev;
  EXPECT_EQ(s.value(moved, "sAMAccountName"), "bnbe") << s.log();
  EXPECT_EQ(s.value(moved, "userPrincipalName"), "bnbe@skole.test");
  EXPECT_TRUE(s.logHas(std::string("     bnbe flyttes til OU: LDAP://OU=B,") + kElev + "\n" +
                       "      path: LDAP://" + dn + ", LDAP://" + moved + " \n" +
                       "   Retter login fra bnbe til bnbe.\n"));
}

TEST(OpdaterBruger, ForeignAccountIsArchivedNotUpdated) {
  Site s;
  s.rt.settings.ElevFelter = {{"givenName", "fornavn"}};
  s.select(false);
  const std::string dn = s.addUser("anbe", kElev, idFor("a"), AccountShape::marked("Lærer-konto"));
  DirUser d = dirRecord("anbe", dn, idFor("a"));
  FileUser u = record("anbe", idFor("a"));
  OpdaterBruger(s.rt, d, u);
  const std::string archived = std::string("CN=anbe,OU=Arkiv,") + kElev;
  EXPECT_EQ(s.value(archived, "givenName"), "<none>");
  EXPECT_TRUE(
      s.logHas("   Kunne ikke rette anbe da brugeren ikke er vedligeholdt af ZEB.\n"
               "   OU OU=Arkiv oprettes i LDAP://" +
               std::string(kElev) +
               ".\n"
               "   Arkivere brugeren CN=anbe\n"))
      << s.log();
}

TEST(OpdaterBruger, UnreadableAccountIsSkippedWithALine) {
  Site s;
  DirUser d = dirRecord("anbe", std::string("CN=anbe,") + kElev, idFor("a"));
  FileUser u = record("anbe", idFor("a"));
  OpdaterBruger(s.rt, d, u);
  EXPECT_EQ(s.log(), "   Kunne ikke finde anbe i den rette sti.\n");
}

TEST(Mailbox, HandsOverOnlyUsersWithoutAddressAndMailbox) {
  Site s(true, true);
  s.rt.settings.CheckMailBoxExists = true;
  s.rt.settings.OpretMailMedaScript = "script/mail.cmd";
  s.rt.settings.OpretMailMedaListScript = "script/liste.cmd";
  s.select(true);
  const std::string withMail =
      s.addUser("anbe", kMeda, idFor("a"),
                AccountShape::marked("Autooprettet af ZEB (1)", false, "mail: anbe@skole.dk\n"));
  const std::string withStore = s.addUser(
      "bobo", kMeda, idFor("b"),
      AccountShape::marked("Autooprettet af ZEB (1)", false, "homeMDB: CN=DB1,DC=skole,DC=test\n"));
  const std::string bare = s.addUser("cede", kMeda, idFor("c"));
  for (const auto& [login, dn] : std::vector<std::pair<std::string, std::string>>{
           {"anbe", withMail}, {"bobo", withStore}, {"cede", bare}, {"cede", bare}}) {
    DirUser d = dirRecord(login, dn, idFor(login.substr(0, 1)));
    FileUser u = record(login, idFor(login.substr(0, 1)));
    OpdaterBruger(s.rt, d, u);
  }
  EXPECT_EQ(s.commands(),
            (std::vector<std::string>{"script/mail.cmd cede", "script/mail.cmd cede"}));
  EXPECT_EQ(s.logs.folder.read("MedaMailListe-77.txt"), "cede\ncede\n");
  EXPECT_TRUE(s.rt.job.medaMailListChanged);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

using test::AccountShape;
using test::dirRecord;
using test::idFor;
using test::kElev;
using test::record;
using test::Site;

TEST(SaetAttribut, InterfaceNamesReachTheirAttributesAndRefusalsAreReported) {
  Site s;
  const std::string dn = s.addUser("anbe", kElev, idFor("a"));
  auto o = s.at(dn);
  SaetAttribut(s.rt, "anbe", *o, "FirstName", "Anna");
  SaetAttribut(s.rt, "anbe", *o, "LastName", "Berg");
  EXPECT_EQ(s.value(dn, "givenName"), "Anna");
  EXPECT_EQ(s.value(dn, "sn"), "Berg");
  EXPECT_EQ(s.log(),
            "      FirstName sættes til 'Anna' for bruger: 'anbe'\n"
            "      LastName sættes til 'Berg' for bruger: 'anbe'\n");
  s.clearLog();
  SaetAttribut(s.rt, "anbe", *o, "extensionAttribute1", "7A");
  EXPECT_EQ(s.log().substr(0, s.log().find("** Fejl: (hresult")),
            "      extensionAttribute1 sættes til '7A' for bruger: 'anbe'\n"
            "** Fejl: SaetAttribut(anbe) - SetInfo('extensionAttribute1')\n")
      << "the directory has no mail schema";
}

TEST(OpdaterBruger, EnabledAccountThatCouldNotBeMovedIsStillUpdated) {
  Site s;
  s.rt.settings.AlphaopdelADElev = true;
  s.rt.settings.ElevFelter = {{"givenName", "fornavn"}};
  s.select(false);
  s.addOu(std::string("OU=Inaktive,") + kElev);
  const std::string dn = s.addUser("hans", std::string("OU=Inaktive,") + kElev, idFor("h"),
                                   AccountShape::disabledOne());
  DirUser d = dirRecord("hans", dn, idFor("h"));
  FileUser u = record("hans", idFor("h"));
  OpdaterBruger(s.rt, d, u);
  // The letter container was missing when the account was enabled; the
  // update went on with the account where it was and moved it there.
  EXPECT_TRUE(s.logHas(std::string("** Fejl: Kunne ikke finde LDAP://OU=H,") + kElev + "\n"))
      << s.log();
  const std::string moved = std::string("CN=hans,OU=H,") + kElev;
  EXPECT_EQ(s.uac(moved), 512) << s.log();
  EXPECT_EQ(s.value(moved, "givenName"), "Anna");
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST(UserList, RowsCarryWhatTheUpdateReads) {
  test::Site s;
  s.rt.settings.ElevFelter = {{"FirstName", "fornavn"}, {"title", "*Elev"}};
  s.select(false);
  s.addUser("anbe", test::kElev, test::idFor("a"),
            test::AccountShape::marked("Autooprettet af ZEB (1)", false, "givenName: Anna\n"));
  auto list = GetADBrugerListe(s.rt, s.rt.trim.ldapPath, true, {});
  ASSERT_EQ(list.users.size(), 1u);
  ASSERT_NE(list.users[0].row, nullptr);
  const SearchRow& row = *list.users[0].row;
  EXPECT_EQ(row.first("givenName"), "Anna") << "FirstName is stored as givenName";
  EXPECT_EQ(row.first("userAccountControl"), "512");
  EXPECT_EQ(row.first("description"), "Autooprettet af ZEB (1)");
  EXPECT_EQ(list.users[0].accountName, "anbe") << "the record's own fields are as before";
  EXPECT_EQ(list.users[0].identification, test::idFor("a"));
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// The directory sets no limit on home directories and profile paths; the
// update builds them in buffers of 500 characters. Up to 499 characters are
// written whole, a longer path is refused, never cut.
TEST(TjekBrugerAttrib, PathsUpTo499CharactersAreWrittenLongerOnesRefused) {
  struct Case {
    const char* attribute;
    std::size_t length;  // of the whole path
    bool written;
  };
  const Case cases[] = {
      {"profilePath", 260, true},   {"profilePath", 499, true},   {"profilePath", 500, false},
      {"homeDirectory", 300, true}, {"homeDirectory", 499, true}, {"homeDirectory", 500, false},
  };
  for (const Case& c : cases) {
    test::Site s;
    const bool home = std::string(c.attribute) == "homeDirectory";
    // share + "\\" + "anbe" is the path.
    const std::string share = "\\\\fil1\\" + std::string(c.length - 12, 'x');
    if (home) {
      s.rt.settings.OpretShareElev = 2;
      s.rt.settings.HomeDirDriveElev = "H:";
      s.rt.settings.FileServerShareElev = share;
    } else {
      s.rt.settings.UserProfileShareElev = share;
    }
    s.select(false);
    const std::string dn = s.addUser("anbe", test::kElev, test::idFor("a"));
    const std::string path = share + "\\anbe";
    ASSERT_EQ(charCount(path), c.length);
    EXPECT_EQ(TjekBrugerAttrib(s.rt, *s.at(dn), test::record("anbe", test::idFor("a"))),
              c.written ? 1 : 0)
        << c.attribute << " " << c.length;
    EXPECT_EQ(s.value(dn, c.attribute), c.written ? path : "<none>")
        << c.attribute << " " << c.length;
    if (!c.written) {
      EXPECT_EQ(s.log(), std::string("** Fejl: ") + (home ? "homedirectory" : "UserProfilePath") +
                             ": stien er længere end 499 tegn og bruges ikke: " + path + "\n");
    }
  }
}

}  // namespace
}  // namespace tv

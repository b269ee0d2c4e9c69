#include <gtest/gtest.h>

#include <string>

#include "password/password_jobs.h"
#include "password/password_reset.h"
#include "support/faulty_directory.h"
#include "unit/password_jobs/password_fixture.h"

namespace tv::test {
namespace {

TEST(PasswordLineRules, RefusedLoginsAreToldAndCountedAndNothingIsChanged) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser("lukket", /*disabled=*/true);
  s.job("kodevalt-1.behandler",
        {"@+AD_UNI_PASS", enc("jens ;Sol2024!x"), enc(" .jens;Sol2024!x"), enc("jens.;Sol2024!x"),
         enc("je,ns;Sol2024!x"), enc("je*ns;Sol2024!x"), enc("ukendt;Sol2024!x"),
         enc("lukket;Sol2024!x")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "** Fejl: Reset: Navnet må ikke indeholde specialtegn. (jens )\n"
            "** Fejl: Reset: Navnet må ikke indeholde specialtegn. (.jens)\n"
            "** Fejl: Reset: Navnet må ikke indeholde specialtegn. (jens.)\n"
            "** Fejl: Reset: Navnet må ikke indeholde specialtegn. (je,ns)\n"
            "** Fejl: Reset: Navnet må ikke indeholde specialtegn. (je*ns)\n"
            "    Reset: Kunne ikke finde brugeren ukendt!\n"
            "    Reset: Kunne ikke finde brugeren lukket!\n"
            "    Reset: 7 brugere er behandlet.\n");
  EXPECT_TRUE(s.processes.calls.empty());
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), "");
  EXPECT_EQ(s.attr("lukket", "pwdLastSet"), "");
}

TEST(PasswordLineRules, BadLinesGetAClearLineAndNeverStopTheSection) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser(std::string(24, 'l'));
  s.job("kodevalt-1.behandler",
        {"@+AD_PASS",
         enc(";Sol2024!x"),                           // no login
         enc("kun-et-ord"),                           // no separator
         enc("jens;"),                                // no password
         enc(std::string(25, 'l') + ";Sol2024!x"),    // cut, it would name another user
         enc("jens;" + std::string(21, 'P') + "1a"),  // cut, it would not be the password given
         "!!!! ----",                                 // no Base64 at all
         "AAECAwQFBgcICQoLDA0ODw==",                  // not enciphered with our key
         "@+UNI_PASS",                                // a header in clear after the first one
         enc("jens;Sol2024!x")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "** Fejl: Reset: Linje 2 har intet brugernavn.\n"
            "** Fejl: Reset: Linje 3 mangler \";\" mellem brugernavn og password.\n"
            "** Fejl: Reset: Intet nyt password for jens.\n"
            "** Fejl: Reset: Navnet lllllllllllllllllllllllll er længere end 24 tegn.\n"
            "** Fejl: Reset: Password for jens er længere end 20 tegn.\n"
            "** Fejl: Reset: Linje 7 kan ikke dekrypteres.\n"
            "** Fejl: Reset: Linje 8 kan ikke dekrypteres.\n"
            "** Fejl: Reset: Linje 9 (@+UNI_PASS) er ikke krypteret og skifter ikke afsnit.\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "    AD password for jens blev ændret!\n"
            "    Reset: 9 brugere er behandlet.\n");
  EXPECT_TRUE(s.processes.calls.empty());
  EXPECT_EQ(s.attr(std::string(24, 'l'), "pwdLastSet"), "");
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), kPwdLastSetNow);
}

TEST(PasswordLineRules, EmptyLinesAndAnEncipheredEmptyTextAreSkippedUncounted) {
  PasswordSchool s;
  s.addUser("jens");
  s.job("kodevalt-1.behandler",
        {"@+AD_PASS", "", "   ", enc(""), enc("  "), enc("jens;Sol2024!x")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "    AD password for jens blev ændret!\n"
            "    Reset: 1 brugere er behandlet.\n");
}

TEST(PasswordLineRules, CheckedLinesKeepTheWholeLoginAndPassword) {
  // The registers encipher Windows-1252 bytes.
  CheckedLine c = checkPasswordLine("  " + enc("  s\xf8ren;pa;ss \xe6 ") + "\r\n");
  EXPECT_EQ(c.verdict, LineVerdict::kUser);
  EXPECT_EQ(c.clear, "søren;pa;ss æ");
  EXPECT_EQ(c.login, "søren");
  EXPECT_EQ(c.password, "pa;ss æ");
  EXPECT_EQ(c.masked, "søren;********");

  // Exactly at the limits is still accepted.
  c = checkPasswordLine(enc(std::string(24, 'x') + ";" + std::string(20, 'y')));
  EXPECT_EQ(c.verdict, LineVerdict::kUser);
  EXPECT_EQ(c.login, std::string(24, 'x'));
  EXPECT_EQ(c.password, std::string(20, 'y'));

  c = checkPasswordLine(enc("@+AD_PASS"));
  EXPECT_EQ(c.verdict, LineVerdict::kHeader);
  EXPECT_EQ(c.clear, "@+AD_PASS");

  c = checkPasswordLine(enc("bo\x01;Sol2024!x"));
  EXPECT_EQ(c.verdict, LineVerdict::kUndecipherable);
  EXPECT_EQ(c.masked, "");
  EXPECT_EQ(c.login, "");
}

TEST(PasswordLineRules, AFailedCommitEndsTheSectionWithoutACountLine) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser("mette");
  // The password is taken, but the commit of the unlock is refused.
  s.job("kodevalt-1.behandler", {"@+AD_UNI_PASS", enc("jens;Sol2024!x"), enc("mette;Maane#77")});
  FaultyDirectory failing(s.directory);
  failing.failCommits("CN=jens,");
  s.rt.ports.directory = &failing;

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "*** Fejl: AD ResetPasswords() - SetInfo()\n"
            "** Fejl: (hresult: 0x8007202F (0x7/0x202F (8239 i winerror.h ell. 6139 i Lmerr.h))\n"
            "** Fejl: A constraint violation occurred.\n");
  EXPECT_TRUE(s.processes.calls.empty());
  EXPECT_EQ(s.attr("mette", "pwdLastSet"), "");
}

TEST(PasswordLineRules, ARefusedPasswordIsNotReportedAsChangedAndTheNextLineGoesOn) {
  PasswordSchool s;
  s.addUser("jens", false, true);
  s.addUser("mette");
  s.job("kodevalt-1.behandler", {"@+AD_UNI_PASS", enc("jens;abc"), enc("mette;Maane#77")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "*** Fejl: AD ResetPasswords() - SetPassword()\n"
            "** Fejl: (hresult: 0x8007202F (0x7/0x202F (8239 i winerror.h ell. 6139 i Lmerr.h))\n"
            "** Fejl: A constraint violation occurred.\n"
            "Error Code: 1325\n"
            "Error Text: 0000052D: Constraint violation - check_password_restrictions: the "
            "password does not meet the complexity criteria!\nProvider: LDAP Provider\n\n"
            " Resetter UNI-login password for jens!\n"
            "    Reset: mette fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for mette!\n"
            "    AD password for mette blev ændret!\n"
            " Resetter UNI-login password for mette!\n"
            "    Reset: 2 brugere er behandlet.\n");
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), "");
  EXPECT_EQ(s.attr("jens", "lockoutTime"), "132999000000000000");
  ASSERT_EQ(s.processes.calls.size(), 2u);
}

TEST(PasswordLineRules, WithoutTheDomainNameKnownItIsReadFromTheRootEntry) {
  PasswordSchool s;
  s.addUser("jens");
  s.rt.trim.defaultNamingContext.clear();
  s.job("kodevalt-1.behandler", {"@+AD_PASS", enc("jens;Sol2024!x")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), kPwdLastSetNow);

  s.clearLog();
  s.rt.ports.directory = nullptr;
  s.job("kodevalt-2.behandler", {"@+AD_PASS", enc("jens;Sol2024!x")});
  processPasswordJob(s.rt, "kodevalt-2.behandler");
  EXPECT_EQ(s.log(),
            "** Fejl: Reset: ADsGetObject(LDAP://RootDSE)\n"
            "** Fejl: (hresult: 0x80004005 (0x0/0x4005 (16389 i winerror.h ell. 14289 i "
            "Lmerr.h))\n"
            "** Fejl: \n"
            " Resetter passwords:\n"
            "    Reset: Kunne ikke finde brugeren jens!\n"
            "    Reset: 1 brugere er behandlet.\n");
}

}  // namespace
}  // namespace tv::test

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "password/password_jobs.h"
#include "password/password_reset.h"
#include "unit/password_jobs/password_fixture.h"

namespace tv::test {
namespace {

using Call = RecordingProcessRunner::Call;

std::vector<std::string> uniArgv(const PasswordSchool& s, const std::string& login,
                                 const std::string& password) {
  return {s.logs.folder.file("script/Lodsvaerk.exe"), login, password};
}

TEST(PasswordReset, WindowsModeSetsThePasswordClearsTheLockAndCounts) {
  PasswordSchool s;
  s.addUser("jens", false, true);
  s.job("kodevalt-1.behandler", {"@+AD_PASS", enc("jens;Sol2024!x")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "    AD password for jens blev ændret!\n"
            "    Reset: 1 brugere er behandlet.\n");
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), kPwdLastSetNow);
  EXPECT_EQ(s.attr("jens", "lockoutTime"), "0");
  EXPECT_TRUE(s.processes.calls.empty());
}

// A password reaches the account whose login the line names; an account
// that only has that name (cn) is taken when it is the only one found.
TEST(PasswordReset, TheLoginMatchWinsANameMatchOnlyWhenAlone) {
  struct Account {
    std::string cn, login, ou;
  };
  struct Case {
    const char* what;
    std::vector<Account> accounts;
    std::string resetDn;  // "" : none
    std::string line;
  };
  const Case cases[] = {
      // The search finds the name match last.
      {"login before name",
       {{"Aase", "abc", "OU=Elev"}, {"abc", "xyz", "OU=Elev"}},
       "CN=Aase,OU=Elev",
       "    Reset: abc fundet som login (sAMAccountName).\n"},
      {"one name",
       {{"abc", "xyz", "OU=Elev"}},
       "CN=abc,OU=Elev",
       "    Reset: abc fundet som navn (cn) på kontoen med login xyz.\n"},
      {"two names",
       {{"abc", "x1", "OU=Elev"}, {"abc", "x2", "OU=Andre"}},
       "",
       "** Fejl: Reset: abc er navn (cn) på 2 konti og login på ingen af dem.\n"
       "    Reset: Kunne ikke finde brugeren abc!\n"},
  };
  for (const Case& c : cases) {
    PasswordSchool s;
    for (const Account& a : c.accounts) s.addNamed(a.cn, a.login, a.ou);
    s.job("kodevalt-1.behandler", {"@+AD_PASS", enc("abc;Sol2024!x")});
    processPasswordJob(s.rt, "kodevalt-1.behandler");
    EXPECT_NE(s.log().find(c.line), std::string::npos) << c.what << "\n" << s.log();
    for (const Account& a : c.accounts) {
      const std::string dn = "CN=" + a.cn + "," + a.ou;
      EXPECT_EQ(s.attrAt(dn, "pwdLastSet"), dn == c.resetDn ? kPwdLastSetNow : "")
          << c.what << ": " << dn;
    }
  }
}

TEST(PasswordReset, UniLoginModeLeavesWindowsAloneAndPassesLoginAndPasswordAsTwoArguments) {
  PasswordSchool s;
  s.addUser("jens", false, true);
  // Blanks, quotes and shell words stay inside the one password argument.
  s.job("kodevalt-1.behandler", {"@+UNI_PASS", enc("jens;a \"b\" $(x)")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "    Reset: 1 brugere er behandlet.\n");
  ASSERT_EQ(s.processes.calls.size(), 1u);
  EXPECT_EQ(s.processes.calls[0].argv, uniArgv(s, "jens", "a \"b\" $(x)"));
  EXPECT_EQ(s.processes.calls[0].cwd, s.logs.folder.path());
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), "");
  EXPECT_EQ(s.attr("jens", "lockoutTime"), "132999000000000000");
}

TEST(PasswordReset, BothModeSetsWindowsFirstThenStartsTheProgram) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser("mette");
  s.job("kodevalt-1.behandler",
        {"@+AD_UNI_PASS", enc("jens;Sol2024!x"), "", enc("mette;Maane#77")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "    AD password for jens blev ændret!\n"
            " Resetter UNI-login password for jens!\n"
            "    Reset: mette fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for mette!\n"
            "    AD password for mette blev ændret!\n"
            " Resetter UNI-login password for mette!\n"
            "    Reset: 2 brugere er behandlet.\n");
  ASSERT_EQ(s.processes.calls.size(), 2u);
  EXPECT_EQ(s.processes.calls[0].argv, uniArgv(s, "jens", "Sol2024!x"));
  EXPECT_EQ(s.processes.calls[1].argv, uniArgv(s, "mette", "Maane#77"));
  EXPECT_EQ(s.attr("mette", "pwdLastSet"), kPwdLastSetNow);
}

TEST(PasswordReset, TestModeChangesNothingAndStartsNothing) {
  PasswordSchool s;
  s.rt.settings.IDrift = false;
  s.addUser("jens", false, true);
  s.job("kodevalt-1.behandler", {"@+AD_UNI_PASS", enc("jens;Sol2024!x")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " IDrift = 0: Test af Windows password-skift for jens!\n"
            " IDrift = 0: Test af UNI-login password-skift for jens!\n"
            "    Reset: 1 brugere er behandlet.\n");
  EXPECT_TRUE(s.processes.calls.empty());
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), "");
  EXPECT_EQ(s.attr("jens", "lockoutTime"), "132999000000000000");
}

TEST(PasswordReset, AnEncipheredHeaderSwitchesTheModeAndOtherClearTextsEndTheSection) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser("mette");
  s.addUser("ole");
  s.job("kodevalt-1.behandler",
        {"noise before the first header", "@+AD_PASS", enc("jens;Sol2024!x"), enc("@+UNI_PASS"),
         enc("mette;Maane#77"), enc("@SLUT"), enc("ole;Stjerne#1"), "@+ANDET"});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "    AD password for jens blev ændret!\n"
            "    Reset: 1 brugere er behandlet.\n"
            " Resetter passwords:\n"
            "    Reset: mette fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for mette!\n"
            "    Reset: 1 brugere er behandlet.\n");
  ASSERT_EQ(s.processes.calls.size(), 1u);
  EXPECT_EQ(s.processes.calls[0].argv, uniArgv(s, "mette", "Maane#77"));
  EXPECT_EQ(s.attr("mette", "pwdLastSet"), "");
  EXPECT_EQ(s.attr("ole", "pwdLastSet"), "");
}

TEST(PasswordReset, HeadersMustMatchWholeAndInCapitals) {
  EXPECT_EQ(passwordHeader("@+AD_PASS"), ResetMode::kWindows);
  EXPECT_EQ(passwordHeader("@+UNI_PASS"), ResetMode::kUniLogin);
  EXPECT_EQ(passwordHeader("@+AD_UNI_PASS"), ResetMode::kBoth);
  EXPECT_EQ(passwordHeader("@+ad_pass"), std::nullopt);
  EXPECT_EQ(passwordHeader("@+AD_PASS2"), std::nullopt);
  EXPECT_EQ(passwordHeader("@*AD_PASS"), std::nullopt);
  EXPECT_EQ(passwordHeader("@+"), std::nullopt);
  EXPECT_EQ(passwordHeader("@"), std::nullopt);
}

TEST(PasswordReset, ProgramResults) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser("mette");
  s.addUser("ole");
  s.processes.handler = [](const Call& c) {
    if (c.argv[1] == "jens") return ProcessResult{true, 0, 0, 259};  // still active: no error
    if (c.argv[1] == "mette") return ProcessResult{true, 0, 0, 3};
    return ProcessResult{false, ENOENT, 0, 0};
  };
  s.job("kodevalt-1.behandler",
        {"@+UNI_PASS", enc("jens;Sol2024!x"), enc("mette;Maane#77"), enc("ole;Stjerne#1")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "    Reset: mette fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for mette!\n"
            "** Fejl: CreateProcess(Lodsvaerk) - returkode fra program: 3\n"
            "    Reset: ole fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for ole!\n"
            "CreateProcess(Lodsvaerk):  (" +
                errnoText(ENOENT) + ")" + "    Reset: 3 brugere er behandlet.\n");
  ASSERT_EQ(s.logs.events.events.size(), 1u);
  EXPECT_EQ(s.logs.events.events[0].type, EventType::Information);
  EXPECT_EQ(s.logs.events.events[0].text, "CreateProcess(Lodsvaerk):  (" + errnoText(ENOENT) + ")");
}

TEST(PasswordReset, WaitResultsAreToldFromLogLevelNine) {
  PasswordSchool s;
  s.addUser("jens");
  const std::uint32_t results[] = {0x80, 0x102, 0xFFFFFFFF, 0};
  std::size_t next = 0;
  s.processes.handler = [&](const Call&) { return ProcessResult{true, 0, results[next++], 0}; };
  s.job("kodevalt-1.behandler", {"@+UNI_PASS", enc("jens;Sol2024!x"), enc("jens;Sol2024!x"),
                                 enc("jens;Sol2024!x"), enc("jens;Sol2024!x")});
  s.rt.settings.LogLevel = 9;

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "** Fejl: WaitForSingleObject() returnerede WAIT_ABANDONED\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "** Fejl: WaitForSingleObject() returnerede WAIT_TIMEOUT\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "** Fejl: WaitForSingleObject() returnerede WAIT_FAILED\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "      ** Info: WaitForSingleObject() returnerede 0\n"
            "    Reset: 4 brugere er behandlet.\n");

  s.clearLog();
  s.rt.settings.LogLevel = 8;
  next = 0;
  s.job("kodevalt-2.behandler", {"@+UNI_PASS", enc("jens;Sol2024!x")});
  processPasswordJob(s.rt, "kodevalt-2.behandler");
  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "    Reset: 1 brugere er behandlet.\n");
}

TEST(PasswordReset, AboveLogLevelNineTheClearTextIsLoggedWithThePasswordMasked) {
  PasswordSchool s;
  s.addUser("jens");
  s.rt.settings.LogLevel = 10;
  s.job("kodevalt-1.behandler",
        {"@+AD_PASS", enc("jens;Sol2024!x"), enc("kun-et-ord"), enc("@END")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "   Reset: Encoded til: jens;********\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for jens!\n"
            "    AD password for jens blev ændret!\n"
            "   Reset: Encoded til: ********\n"
            "** Fejl: Reset: Linje 3 mangler \";\" mellem brugernavn og password.\n"
            "   Reset: Encoded til: @END\n"
            "    Reset: 2 brugere er behandlet.\n");
  EXPECT_EQ(s.log().find("Sol2024"), std::string::npos);
  EXPECT_EQ(s.log().find("kun-et-ord"), std::string::npos);
}

}  // namespace
}  // namespace tv::test

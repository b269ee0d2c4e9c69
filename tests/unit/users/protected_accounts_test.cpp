// Accounts the domain stands on are never changed by a job, whichever way a
// job names them: each attempt is an error line and the directory stays as it
// was.
#include <gtest/gtest.h>

#include <functional>

#include "groups/group_membership.h"
#include "jobdata/job_reader.h"
#include "password/password_reset.h"
#include "site_fixture.h"
#include "sync/sync_pass.h"
#include "sync/user_operations.h"

namespace tv {
namespace {

using test::AccountShape;
using test::dirRecord;
using test::idFor;
using test::kElev;
using test::record;
using test::Site;

constexpr const char* kUsers = "CN=Users,DC=skole,DC=test";
constexpr const char* kAdministrator = "CN=Administrator,CN=Users,DC=skole,DC=test";

// objectSid as a snapshot line: the domain's RID rid.
std::string sidLine(int rid) {
  return "objectSid:: " +
         cipher::base64Encode(*sidFromString("S-1-5-21-1-2-3-" + std::to_string(rid))) + "\n";
}

// The shape of the built-in administrator as a domain controller keeps it.
AccountShape administrator(const std::string& id = "") {
  AccountShape a = AccountShape::marked("Built-in account for administering the computer/domain");
  a.withSid = false;
  a.extra = sidLine(500) + "isCriticalSystemObject: TRUE\nadminCount: 1\n";
  if (!id.empty()) a.extra += "employeeNumber: " + id + "\n";
  return a;
}

SectionEnd runPass(Site& s, const std::string& records) {
  JobReader reader(s.rt.log, records, "brovalt-1.behandler");
  JobLine line;
  PassCounts counts;
  return synchronisationPass(s.rt, reader, line, counts);
}

std::string refusal(const std::string& operation, const std::string& login, const std::string& dn,
                    const std::string& why) {
  return "** Fejl: " + operation + "(" + login + "): " + dn + " er beskyttet i domænet (" + why +
         ") og ændres ikke.\n";
}

std::string pupilLine(const std::string& login, const std::string& id) {
  return login + ";" + id + ";Kode1234;Anna;Berg;12345;010110;7A;Vej 1;By;Distrikt;8000;;;;7;7A\n";
}

TEST(ProtectedAccounts, NoJobChangesThemAndEachAttemptIsAnErrorLine) {
  struct Case {
    const char* what;
    std::function<void(Site&)> setUp;
    std::function<void(Site&)> attempt;
    std::vector<std::string> lines;
  };
  const std::string elevDn = std::string(kElev);
  const Case cases[] = {
      {"an update of a pupil who is a domain admin",
       [](Site& s) {
         s.addUser("anna", kElev, idFor("a"),
                   AccountShape::marked("Autooprettet af ZEB (1)", false, "adminCount: 1\n"));
       },
       [](Site& s) { runPass(s, pupilLine("anna", idFor("a"))); },
       {refusal("OpdaterBruger", "anna", "CN=anna," + elevDn, "adminCount=1")}},
      {"a leaver the directory marks as critical",
       [](Site& s) {
         s.addUser("bo", kElev, idFor("b"),
                   AccountShape::marked("Autooprettet af ZEB (1)", false,
                                        "isCriticalSystemObject: TRUE\n"));
       },
       [](Site& s) { runPass(s, ""); },
       {refusal("NedlaegBruger", "bo", "CN=bo," + elevDn, "isCriticalSystemObject")}},
      {"an identification adopted by the built-in administrator's login",
       [](Site& s) { s.addUser("administrator", kElev, "", administrator()); },
       [](Site& s) { runPass(s, pupilLine("administrator", idFor("z"))); },
       {refusal("SaetAttribut", "administrator", "CN=administrator," + elevDn,
                "domænets indbyggede administrator"),
        refusal("OpdaterBruger", "administrator", "CN=administrator," + elevDn,
                "domænets indbyggede administrator")}},
      {"a record whose identification the administrator carries",
       [](Site& s) { s.addUser("Administrator", kUsers, "", administrator(idFor("z"))); },
       [](Site& s) {
         FileUser u = record("ny", idFor("z"));
         EXPECT_EQ(TjekEksisterendeBruger(s.rt, u), 1) << "the account exists; none is created";
       },
       {refusal("TjekEksisterendeBruger", "ny", kAdministrator,
                "domænets indbyggede administrator")}},
      {"a rename of the administrator's login",
       [](Site& s) { s.addUser("Administrator", kUsers, "", administrator()); },
       [](Site& s) {
         FileUser u = record("admin2", idFor("z"));
         RetBrugerLogin(s.rt, u, "administrator");
       },
       {refusal("RetBrugerLogin", "administrator", kAdministrator,
                "domænets indbyggede administrator")}},
      {"deactivating the administrator",
       [](Site& s) { s.addUser("Administrator", kUsers, "", administrator()); },
       [](Site& s) { (void)NedlaegBruger(s.rt, dirRecord("administrator", kAdministrator)); },
       {refusal("NedlaegBruger", "administrator", kAdministrator,
                "domænets indbyggede administrator")}},
      {"the administrator into a school group",
       [](Site& s) { s.addUser("Administrator", kUsers, "", administrator()); },
       [](Site& s) { EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "administrator", "7a", false), 1); },
       {refusal("TilfoejGruppeMedlem", "administrator", kAdministrator,
                "domænets indbyggede administrator")}},
      {"a domain admin out of a school group",
       [](Site& s) {
         const std::string anna =
             s.addUser("anna", kElev, idFor("a"),
                       AccountShape::marked("Autooprettet af ZEB (1)", false, "adminCount: 1\n"));
         s.ldif = s.directory.saveLdif() + "\ndn: CN=7a,OU=ZEB,DC=skole,DC=test\n" +
                  "objectClass: top\nobjectClass: group\nsAMAccountName: 7a\n" +
                  "description: Autooprettet af ZEB (E)\nmember: " + anna + "\n\n";
         EXPECT_EQ(s.directory.loadLdif(s.ldif), "");
       },
       [](Site& s) {
         EXPECT_EQ(FjernGruppeMedlem(s.rt, "anna", nullptr, "CN=7a,OU=ZEB"), kEAccessDenied);
       },
       {refusal("FjernGruppeMedlem", "anna", "CN=anna," + elevDn, "adminCount=1")}},
      {"a password job for the administrator",
       [](Site& s) { s.addUser("Administrator", kUsers, "", administrator()); },
       [](Site& s) {
         JobReader reader(s.rt.log, cipher::encipher("administrator;Sol2024!x") + "\n",
                          "kodevalt-1.behandler");
         (void)resetPasswords(s.rt, reader, ResetMode::kBoth, "DC=skole,DC=test");
         EXPECT_TRUE(s.processes.calls.empty()) << "nor the UNI-login password";
       },
       {refusal("ResetPasswords", "administrator", kAdministrator,
                "domænets indbyggede administrator")}},
      {"a password job for krbtgt",
       [](Site& s) {
         AccountShape krbtgt = AccountShape::marked("Key Distribution Center Service Account");
         krbtgt.withSid = false;
         krbtgt.extra = sidLine(502);
         s.addUser("krbtgt", kUsers, "", krbtgt);
       },
       [](Site& s) {
         JobReader reader(s.rt.log, cipher::encipher("krbtgt;Sol2024!x") + "\n",
                          "kodevalt-1.behandler");
         (void)resetPasswords(s.rt, reader, ResetMode::kWindows, "DC=skole,DC=test");
       },
       {refusal("ResetPasswords", "krbtgt", "CN=krbtgt," + std::string(kUsers), "krbtgt")}},
  };
  for (const Case& c : cases) {
    Site s;
    s.ldif = s.directory.saveLdif() + "\ndn: " + kUsers + "\nobjectClass: top\n" +
             "objectClass: container\n\n";
    ASSERT_EQ(s.directory.loadLdif(s.ldif), "");
    c.setUp(s);
    s.clearLog();
    const std::string before = s.directory.saveLdif();
    c.attempt(s);
    EXPECT_EQ(s.directory.saveLdif(), before) << c.what << "\n" << s.log();
    for (const std::string& line : c.lines) {
      EXPECT_TRUE(s.logHas(line)) << c.what << ": " << line << "\n" << s.log();
    }
  }
}

}  // namespace
}  // namespace tv

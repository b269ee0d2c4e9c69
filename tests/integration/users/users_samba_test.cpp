// The user operations against a real domain controller: what the memory
// directory promises (new accounts disabled until they have a password,
// unique logins, moves and renames, attributes a schema may lack) is here
// what Samba AD does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "groups/group_membership.h"
#include "integration/samba/samba_env.h"
#include "jobdata/job_reader.h"
#include "password/password_reset.h"
#include "platform/ldap/ldap_directory.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "support/fakes.h"
#include "sync/user_operations.h"
#include "text/cipher.h"
#include "text/text.h"

namespace tv::test {
namespace {

constexpr int kInvalidCredentials = 49;

const SambaDc& dc() {
  return requireSambaDc();
}

std::string idFor(const std::string& tag) {
  std::string id = tag;
  id.resize(32, '0');
  return id;
}

class UsersOnSamba : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(admin_.status(), 0);
    const int del = admin_.deleteTree(zeb_);
    ASSERT_TRUE(del == 0 || del == 32) << del;
    ASSERT_EQ(admin_.addOu(zeb_), 0);
    ASSERT_EQ(admin_.addOu(elev_), 0);
    ASSERT_EQ(admin_.addOu("OU=Medarbejder," + zeb_), 0);

    directory_ = openLdapDirectory(adminSettings(dc()), logs_.log);
    ASSERT_NE(directory_, nullptr);
    rt_.ports.directory = directory_.get();
    rt_.ports.clock = &logs_.clock;
    rt_.ports.processes = &processes_;
    rt_.settings.IDrift = true;
    rt_.settings.BrugUuidDrift = true;
    rt_.settings.LogLevel = 1;
    rt_.settings.BrugerIdentifikation = "employeeNumber";
    rt_.settings.ElevFelter = {{"givenName", "fornavn"}, {"sn", "efternavn"}};
    logs_.log.setDirectoryErrorSource([this] { return directory_->lastError(); });
    computeLocations(rt_);
    selectPupils(rt_);
    ASSERT_EQ(rt_.trim.ElevPath, elev_);
  }

  void TearDown() override { (void)admin_.deleteTree(zeb_); }

  FileUser pupil(const std::string& login, const std::string& tag) {
    FileUser u;
    u.login = login;
    u.identification = idFor(tag);
    u.password = "Sommer#2024x";
    u.firstName = "Anna";
    u.lastName = "Berg";
    u.personNumber = "12345";
    u.splitLetter = std::string(1, static_cast<char>(std::toupper(login[0])));
    u.description = "Autooprettet af ZEB (12345)";
    return u;
  }

  // An account as this system leaves it, below container.
  std::string addAccount(const std::string& cn, const std::string& container,
                         const std::string& tag, bool enabled, const std::string& marking,
                         std::vector<std::pair<std::string, std::string>> extra = {}) {
    const std::string dn = "CN=" + cn + "," + container;
    std::vector<std::pair<std::string, std::string>> attrs = {
        {"objectClass", "user"}, {"sAMAccountName", cn}, {"employeeNumber", idFor(tag)}};
    if (!marking.empty()) attrs.emplace_back("description", marking);
    for (auto& e : extra) attrs.push_back(std::move(e));
    EXPECT_EQ(admin_.add(dn, attrs), 0);
    auto user = directory_->bind("LDAP://" + dn);
    EXPECT_TRUE(user.ok());
    if (user.ok()) {
      EXPECT_EQ(user.value->setPassword("Start#2024a"), kSOk);
    }
    EXPECT_EQ(admin_.replace(dn, "userAccountControl", {enabled ? "512" : "514"}), 0);
    return dn;
  }

  std::string one(const std::string& dn, const std::string& attr) {
    auto v = admin_.read(dn, attr);
    return v.empty() ? "<none>" : v.front();
  }

  bool logHas(const std::string& text) const {
    return logs_.text().find(text) != std::string::npos;
  }

  std::string zeb_ = "OU=ZEB," + dc().baseDn;
  std::string elev_ = "OU=Elev," + zeb_;
  AdminLdap admin_{dc()};
  LogFixture logs_;
  RecordingProcessRunner processes_;
  std::unique_ptr<Directory> directory_;
  Runtime rt_{logs_.log, Ports{}, logs_.folder.path()};
};

TEST_F(UsersOnSamba, NewPupilIsCreatedCompleteAndCanBind) {
  FileUser u = pupil("sbanna", "a");
  ASSERT_EQ(TjekEksisterendeBruger(rt_, u), 0);
  EXPECT_EQ(OpretBruger(rt_, u), kSOk) << logs_.text();
  const std::string dn = "CN=sbanna," + elev_;
  EXPECT_EQ(one(dn, "sAMAccountName"), "sbanna");
  EXPECT_EQ(one(dn, "employeeNumber"), idFor("a"));
  EXPECT_EQ(one(dn, "description"), "Autooprettet af ZEB (12345)");
  EXPECT_EQ(one(dn, "givenName"), "Anna");
  EXPECT_EQ(one(dn, "sn"), "Berg");
  EXPECT_EQ(one(dn, "userAccountControl"), "512");
  EXPECT_EQ(simpleBind(dc(), dn, "Sommer#2024x"), 0);
  EXPECT_EQ(simpleBind(dc(), dn, "Forkert#2024x"), kInvalidCredentials);
  EXPECT_FALSE(logHas("** Fejl")) << logs_.text();
}

TEST_F(UsersOnSamba, LeaverIsDisabledHiddenRenamedAndMoved) {
  const std::string dn = addAccount("sbbo", elev_, "b", true, "Autooprettet af ZEB (1)");
  DirUser d;
  d.name = d.accountName = "sbbo";
  d.path = "LDAP://" + dn;
  (void)NedlaegBruger(rt_, d);
  const std::string moved = "CN=sbbo_inaktiv,OU=Inaktive," + elev_;
  EXPECT_EQ(one(moved, "sAMAccountName"), "sbbo_inaktiv") << logs_.text();
  EXPECT_EQ(one(moved, "userAccountControl"), "514");
  EXPECT_EQ(simpleBind(dc(), moved, "Start#2024a"), kInvalidCredentials);
  if (dc().variant == "mail") {
    EXPECT_EQ(one(moved, "msExchHideFromAddressLists"), "TRUE");
    EXPECT_FALSE(logHas("msExchHideFromAddressLists error"));
  } else {
    EXPECT_TRUE(
        logHas("     sbbo skjules for adresselister\n"
               "** Fejl: msExchHideFromAddressLists error\n"))
        << logs_.text();
  }
}

TEST_F(UsersOnSamba, ReturningPupilIsEnabledAndMovedBack) {
  ASSERT_EQ(admin_.addOu("OU=Inaktive," + elev_), 0);
  addAccount("sbcai_inaktiv", "OU=Inaktive," + elev_, "c", false, "Autooprettet af ZEB (1)");
  FileUser u = pupil("sbcai", "c");
  EXPECT_EQ(TjekEksisterendeBruger(rt_, u), 1);
  const std::string back = "CN=sbcai," + elev_;
  EXPECT_EQ(one(back, "userAccountControl"), "512") << logs_.text();
  EXPECT_EQ(one(back, "sAMAccountName"), "sbcai_inaktiv");
  EXPECT_EQ(simpleBind(dc(), back, "Start#2024a"), 0);
}

TEST_F(UsersOnSamba, LoginRenameMovesThePrimaryAddress) {
  const std::string dn =
      addAccount("sbdan", elev_, "d", true, "Autooprettet af ZEB (1)",
                 {{"proxyAddresses", "SMTP:sbdan@skole.dk"}, {"userPrincipalName", "sbdan@x"}});
  rt_.settings.OpretMailElevScript = "script/mail.cmd";
  FileUser u = pupil("sbdan2", "d");
  RetBrugerLogin(rt_, u, "sbdan");
  const std::string renamed = "CN=sbdan2," + elev_;
  EXPECT_EQ(one(renamed, "sAMAccountName"), "sbdan2") << logs_.text();
  EXPECT_EQ(one(renamed, "userPrincipalName"), "sbdan2@" + toLower(dc().realm));
  auto proxies = admin_.read(renamed, "proxyAddresses");
  std::sort(proxies.begin(), proxies.end());
  EXPECT_EQ(proxies, (std::vector<std::string>{"SMTP:sbdan2@skole.dk", "smtp:sbdan@skole.dk"}));
  EXPECT_FALSE(logHas("Kan ikke læse SID")) << logs_.text();
}

TEST_F(UsersOnSamba, ForeignAccountIsArchived) {
  const std::string dn = addAccount("sbeva", elev_, "e", true, "Lavet i haanden");
  FileUser u = pupil("sbeva", "e");
  EXPECT_EQ(TjekEksisterendeBruger(rt_, u), 1);
  EXPECT_EQ(one("CN=sbeva,OU=Arkiv," + elev_, "description"), "Lavet i haanden") << logs_.text();
  EXPECT_EQ(admin_.read(dn, "description"), std::vector<std::string>{});
}

TEST_F(UsersOnSamba, ChangedAttributeIsWrittenOnceAndUnchangedOnesNotAtAll) {
  const std::string dn = addAccount("sbfie", elev_, "f", true, "Autooprettet af ZEB (12345)",
                                    {{"givenName", "Ana"}, {"sn", "Berg"}});
  DirUser d;
  d.name = d.accountName = "sbfie";
  d.path = "LDAP://" + dn;
  FileUser u = pupil("sbfie", "f");
  OpdaterBruger(rt_, d, u);
  EXPECT_EQ(one(dn, "givenName"), "Anna") << logs_.text();
  EXPECT_TRUE(logHas("      givenName: 'Ana' rettes til 'Anna' for bruger: 'sbfie'\n"));
  EXPECT_FALSE(logHas("      sn")) << "sn already held Berg";
  const std::string usn = one(dn, "uSNChanged");
  logs_.log.release();
  logs_.folder.write("Tavlevagt.log", "");
  (void)logs_.log.open();
  OpdaterBruger(rt_, d, u);
  EXPECT_EQ(one(dn, "uSNChanged"), usn) << logs_.text();
  EXPECT_FALSE(logHas("rettes til")) << logs_.text();
}

// A login whose case changed (the register now writes Sbhans) is one rename,
// and the next pass finds the account where it belongs and writes nothing.
TEST_F(UsersOnSamba, CaseOnlyRenameIsMadeOnce) {
  addAccount("sbhans", elev_, "h", true, "Autooprettet af ZEB (12345)",
             {{"givenName", "Anna"}, {"sn", "Berg"}});
  FileUser u = pupil("Sbhans", "h");
  const auto update = [&] {
    auto listed = GetADBrugerListe(rt_, rt_.trim.ldapPath, true, {});
    ASSERT_EQ(listed.users.size(), 1u);
    OpdaterBruger(rt_, listed.users[0], u);
  };
  update();
  const std::string dn = "CN=Sbhans," + elev_;
  EXPECT_EQ(one(dn, "cn"), "Sbhans") << logs_.text();
  EXPECT_EQ(one(dn, "sAMAccountName"), "Sbhans");
  EXPECT_TRUE(logHas("   Retter login fra sbhans til Sbhans.\n")) << logs_.text();
  const std::string usn = one(dn, "uSNChanged");
  logs_.log.release();
  logs_.folder.write("Tavlevagt.log", "");
  (void)logs_.log.open();
  update();
  EXPECT_EQ(one(dn, "uSNChanged"), usn) << logs_.text();
  EXPECT_FALSE(logHas("Retter login")) << logs_.text();
}

// The domain's own Administrator: whatever a job names it, nothing changes,
// and each attempt is an error line.
TEST_F(UsersOnSamba, TheDomainsAdministratorIsNeverChanged) {
  const std::string adminDn = dc().adminDn;
  // What a job could change; binds of the tests themselves change the logon
  // counters, so those are not compared.
  const auto state = [&] {
    std::string all;
    for (const char* attr :
         {"sAMAccountName", "userPrincipalName", "userAccountControl", "pwdLastSet", "memberOf"}) {
      auto values = admin_.read(adminDn, attr);
      std::sort(values.begin(), values.end());
      all += std::string(attr) + ":";
      for (const auto& v : values) all += v + ";";
    }
    return all;
  };
  const std::string before = state();
  const std::string refusal =
      "): " + adminDn +
      " er beskyttet i domænet (domænets indbyggede administrator) og ændres "
      "ikke.\n";

  EXPECT_EQ(TilfoejGruppeMedlem(rt_, "administrator", "sbgruppe", false), 1);
  EXPECT_TRUE(logHas("** Fejl: TilfoejGruppeMedlem(administrator" + refusal)) << logs_.text();

  FileUser renamed = pupil("sbadmin", "z");
  RetBrugerLogin(rt_, renamed, "Administrator");
  EXPECT_TRUE(logHas("** Fejl: RetBrugerLogin(Administrator" + refusal)) << logs_.text();

  DirUser d;
  d.name = d.accountName = "administrator";
  d.path = "LDAP://" + adminDn;
  (void)NedlaegBruger(rt_, d);
  EXPECT_TRUE(logHas("** Fejl: NedlaegBruger(administrator" + refusal)) << logs_.text();

  // The line carries the password the account already has: were it reset,
  // the domain would still answer to its administrator.
  JobReader reader(logs_.log, cipher::encipher("administrator;" + dc().adminPassword) + "\n",
                   "kodevalt-1.behandler");
  (void)resetPasswords(rt_, reader, ResetMode::kBoth, rt_.trim.defaultNamingContext);
  EXPECT_TRUE(logHas("** Fejl: ResetPasswords(administrator" + refusal)) << logs_.text();
  EXPECT_TRUE(processes_.calls.empty());

  EXPECT_EQ(state(), before) << logs_.text();
  EXPECT_EQ(admin_.read("CN=sbgruppe,OU=Grupper," + zeb_, "cn"), std::vector<std::string>{})
      << "no group is made for it either";
}

}  // namespace
}  // namespace tv::test

// A password job run against a real domain controller: the new password is
// the one the user can bind with afterwards, the old one no longer works, a
// locked account is unlocked, and a password the domain refuses changes
// nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "integration/samba/samba_env.h"
#include "password/password_jobs.h"
#include "platform/ldap/ldap_directory.h"
#include "runtime/runtime.h"
#include "support/fakes.h"
#include "text/cipher.h"

namespace tv::test {
namespace {

constexpr int kInvalidCredentials = 49;

const SambaDc& dc() {
  return requireSambaDc();
}

class PasswordOnSamba : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(admin_.status(), 0);
    const int del = admin_.deleteTree(ou_);
    ASSERT_TRUE(del == 0 || del == 32) << del;
    ASSERT_EQ(admin_.addOu(ou_), 0);

    directory_ = openLdapDirectory(adminSettings(dc()), logs_.log);
    ASSERT_NE(directory_, nullptr);
    rt_.ports.directory = directory_.get();
    rt_.ports.clock = &logs_.clock;
    rt_.ports.processes = &processes_;
    rt_.settings.IDrift = true;
    rt_.settings.LogLevel = 1;
    rt_.trim.defaultNamingContext = dc().baseDn;
    logs_.log.setDirectoryErrorSource([this] { return directory_->lastError(); });
  }

  void TearDown() override {
    (void)admin_.replace(dc().baseDn, "lockoutThreshold", {"0"});
    (void)admin_.deleteTree(ou_);
  }

  // An enabled user with a first password, below the test container.
  std::string addUser(const std::string& login, const std::string& password) {
    std::string dn = "CN=" + login + "," + ou_;
    EXPECT_EQ(admin_.add(dn, {{"objectClass", "user"}, {"sAMAccountName", login}}), 0);
    auto user = directory_->bind("LDAP://" + dn);
    EXPECT_TRUE(user.ok());
    if (user.ok()) {
      EXPECT_EQ(user.value->setPassword(password), kSOk);
    }
    EXPECT_EQ(admin_.replace(dn, "userAccountControl", {"512"}), 0);
    EXPECT_EQ(simpleBind(dc(), dn, password), 0);
    return dn;
  }

  void runJob(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& l : lines) bytes += l + "\r\n";
    logs_.folder.write("kodevalt-1.dat", bytes);
    logs_.folder.write("Tavlevagt.log", "");
    EXPECT_EQ(PasswordJobWatcher(rt_).scanOnce(), 1u);
  }

  // The log without the two "Flytter" lines around the job.
  std::string jobLog() const {
    std::string text = logs_.text();
    std::size_t from = text.find(" Resetter passwords:");
    std::size_t to = text.rfind("-Fri Jun 17");
    if (from == std::string::npos || to == std::string::npos || to < from) return text;
    return text.substr(from, to - from);
  }

  std::string ou_ = "OU=Kodeskift," + dc().baseDn;
  AdminLdap admin_{dc()};
  LogFixture logs_;
  RecordingProcessRunner processes_;
  std::unique_ptr<Directory> directory_;
  Runtime rt_{logs_.log, Ports{}, logs_.folder.path()};
};

TEST_F(PasswordOnSamba, TheUserBindsWithTheNewPasswordAndALockedAccountIsUnlocked) {
  const std::string jens = addUser("pwjens", "Start#2024a");
  ASSERT_EQ(admin_.replace(dc().baseDn, "lockoutThreshold", {"2"}), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(simpleBind(dc(), jens, "Forkert#1x"), kInvalidCredentials);
  auto lockout = admin_.read(jens, "lockoutTime");
  ASSERT_EQ(lockout.size(), 1u);
  ASSERT_NE(lockout[0], "0");
  // Locked: even the right password is refused now.
  EXPECT_EQ(simpleBind(dc(), jens, "Start#2024a"), kInvalidCredentials);

  runJob({"@+AD_PASS", cipher::encipher("pwjens;Ny-Kode#2026")});

  EXPECT_EQ(jobLog(),
            " Resetter passwords:\n"
            "    Reset: pwjens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for pwjens!\n"
            "    AD password for pwjens blev ændret!\n"
            "    Reset: 1 brugere er behandlet.\n");
  EXPECT_EQ(admin_.read(jens, "lockoutTime"), std::vector<std::string>{"0"});
  EXPECT_EQ(simpleBind(dc(), jens, "Ny-Kode#2026"), 0);
  EXPECT_EQ(simpleBind(dc(), jens, "Start#2024a"), kInvalidCredentials);
  EXPECT_TRUE(processes_.calls.empty());
  EXPECT_EQ(logs_.folder.read("kodevalt-1.slut").substr(0, 11), "@+AD_PASS\r\n");
}

TEST_F(PasswordOnSamba, APasswordTheDomainRefusesChangesNothingAndTheNextUserIsReset) {
  const std::string jens = addUser("pwjens", "Start#2024a");
  const std::string mette = addUser("pwmette", "Start#2024b");

  runJob({"@+AD_PASS", cipher::encipher("pwjens;kort"), cipher::encipher("pwmette;Ny-Kode#2026")});

  const std::string log = jobLog();
  EXPECT_EQ(log.substr(0, log.find("** Fejl: (hresult")),
            " Resetter passwords:\n"
            "    Reset: pwjens fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for pwjens!\n"
            "*** Fejl: AD ResetPasswords() - SetPassword()\n");
  EXPECT_NE(log.find("** Fejl: (hresult: 0x8007202F"), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.find("    Reset: pwmette fundet")),
            "    Reset: pwmette fundet som login (sAMAccountName).\n"
            " Windows Login password skiftes for pwmette!\n"
            "    AD password for pwmette blev ændret!\n"
            "    Reset: 2 brugere er behandlet.\n");
  EXPECT_EQ(simpleBind(dc(), jens, "Start#2024a"), 0);
  EXPECT_EQ(simpleBind(dc(), mette, "Ny-Kode#2026"), 0);
}

TEST_F(PasswordOnSamba, ADisabledOrMissingUserIsNotReset) {
  const std::string jens = addUser("pwjens", "Start#2024a");
  ASSERT_EQ(admin_.replace(jens, "userAccountControl", {"514"}), 0);

  runJob({"@+AD_UNI_PASS", cipher::encipher("pwjens;Ny-Kode#2026"),
          cipher::encipher("pwingen;Ny-Kode#2026")});

  EXPECT_EQ(jobLog(),
            " Resetter passwords:\n"
            "    Reset: Kunne ikke finde brugeren pwjens!\n"
            "    Reset: Kunne ikke finde brugeren pwingen!\n"
            "    Reset: 2 brugere er behandlet.\n");
  EXPECT_TRUE(processes_.calls.empty());
  ASSERT_EQ(admin_.replace(jens, "userAccountControl", {"512"}), 0);
  EXPECT_EQ(simpleBind(dc(), jens, "Start#2024a"), 0);
}

}  // namespace
}  // namespace tv::test

// A whole cycle against real peers: the job server hands out a sync job and a
// password job, the sync job is walked against the domain controller in test
// mode and its log goes back to the job server word for word, and the password
// job gives a user the password it names.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "directory/draft_directory.h"
#include "integration/jobserver/local_job_server.h"
#include "integration/samba/samba_env.h"
#include "jobserver/job_server_client.h"
#include "password/password_jobs.h"
#include "platform/curl/curl_http_client.h"
#include "platform/ldap/ldap_directory.h"
#include "runtime/runtime.h"
#include "runtime/settings_loader.h"
#include "service/job_cycle.h"
#include "service/job_dispatch.h"
#include "support/fakes.h"
#include "text/cipher.h"
#include "text/text.h"

namespace tv::test {
namespace {

const SambaDc& dc() {
  return requireSambaDc();
}

std::string idOf(const std::string& tag) {
  std::string id = tag;
  id.resize(32, '0');
  return id;
}

// One pupil line: login;id;password;first;last;pers_id;birth;groups;…
std::string pupil(const std::string& login, const std::string& id, const std::string& last) {
  return login + ";" + id + ";Kode1234;Søs;" + last + ";123;070312;7A;Vej 2;Sted;Ærø;5970;;;;7;7A";
}

class FullCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.running());
    ASSERT_EQ(admin_.status(), 0);
    const int del = admin_.deleteTree(zeb_);
    ASSERT_TRUE(del == 0 || del == 32) << del;
    for (const std::string& ou : {zeb_, "OU=Elev," + zeb_, "OU=Medarbejder," + zeb_}) {
      ASSERT_EQ(admin_.addOu(ou), 0);
    }
    logs_.folder.write("ldap.password", dc().adminPassword);
    logs_.folder.write(
        "Tavlevagt.ini",
        utf8ToCp1252("[Tavlevagt]\r\nIDrift=Nej\r\nLogLevel=1\r\nGrupperIDrift=Nej\r\n"
                     "BrugerIdentifikation=employeeNumber\r\n"
                     "[ADsettings]\r\nLdapPath=OU=FuldCyklus\r\n"
                     "[Brovalt]\r\nBrovaltServer=" +
                     server_.host() + "\r\nBrovaltTokenServer=" + server_.host() +
                     "\r\nBrovaltCaFile=" + server_.caFile() +
                     "\r\nBrovaltPath=/api/brovalt\r\nBrovaltInstnr=280123\r\n"
                     "BrovaltVersion=v1\r\nBrovaltAuth=dGVzdDpzZWNyZXQ=\r\n"
                     "BrovaltTimeout=10\r\n"));
    directory_ =
        openLdapDirectory(adminSettings(dc(), logs_.folder.file("ldap.password")), logs_.log);
    ASSERT_NE(directory_, nullptr);
    // As the service does, the product gets the directory able to draft a
    // new account and send it as one add.
    drafts_ = std::make_unique<DraftingDirectory>(*directory_);
    rt_.ports.directory = drafts_.get();
    logs_.log.setDirectoryErrorSource([this] { return directory_->lastError(); });
  }

  void TearDown() override { (void)admin_.deleteTree(zeb_); }

  // An enabled pupil with an identification and a first password.
  std::string addPupil(const std::string& login, const std::string& id,
                       const std::string& password) {
    const std::string dn = "CN=" + login + ",OU=Elev," + zeb_;
    EXPECT_EQ(admin_.add(dn, {{"objectClass", "user"},
                              {"sAMAccountName", login},
                              {"employeeNumber", id},
                              {"description", "Autooprettet af ZEB (123)"}}),
              0);
    auto user = directory_->bind("LDAP://" + dn);
    EXPECT_TRUE(user.ok());
    if (user.ok()) {
      EXPECT_EQ(user.value->setPassword(password), kSOk);
    }
    EXPECT_EQ(admin_.replace(dn, "userAccountControl", {"512"}), 0);
    return dn;
  }

  // A tree of its own, so no other test of the domain meets these users.
  const std::string zeb_ = "OU=FuldCyklus," + dc().baseDn;
  LocalJobServer server_;
  AdminLdap admin_{dc()};
  LogFixture logs_;
  RecordingProcessRunner processes_;
  CurlHttpClient curl_;
  std::vector<std::string> said_;
  JobServerClient jobServer_{[this](std::string_view s) { said_.emplace_back(s); }};
  std::unique_ptr<Directory> directory_;
  std::unique_ptr<DraftingDirectory> drafts_;
  Runtime rt_{logs_.log,
              Ports{.http = &curl_,
                    .processes = &processes_,
                    .clock = &logs_.clock,
                    .jobServer = &jobServer_},
              logs_.folder.path()};
};

TEST_F(FullCycle, JobsFromTheJobServerWalkAgainstTheDomainAndTheLogGoesBack) {
  const std::string anna = addPupil("fcanna", idOf("fa"), "Start#2024a");
  addPupil("fcbo", idOf("fb"), "Start#2024b");
  // The sync job keeps anna, drops bo and brings a new pupil; the password
  // job gives anna a new password.
  server_.set("list", "41,42pwd");
  server_.set("job:41", "@*PERS\r\n" + pupil("fcanna", idOf("fa"), "Ærbø") + "\r\n" +
                            pupil("fccai", idOf("fc"), "Østergård") + "\r\n");
  server_.set("job:42", "@+AD_PASS\r\n" + cipher::encipher("fcanna;Ny-Kode#2026") + "\r\n");

  ASSERT_EQ(logs_.log.open(), 0);
  ASSERT_EQ(loadSettings(rt_), 0);
  logs_.log.release();
  rt_.state = kRunning;
  const std::string before = logs_.text();
  EXPECT_EQ(runCycle(rt_, [](Runtime& r, const std::string& f) { handleSyncFile(r, f); }), 1u);

  // The job part of the log, as the school reads it.
  const std::string jobPart = logs_.text().substr(before.size());
  EXPECT_NE(jobPart.find(" Synkroniserer 'Elev':\n"), std::string::npos) << jobPart;
  EXPECT_NE(jobPart.find("   IDrift = 0: Test af Nedlæg bruger fcbo \n"), std::string::npos);
  EXPECT_NE(jobPart.find("   IDrift = 0: Test af Opret/Ret bruger fccai \n"), std::string::npos);
  EXPECT_NE(jobPart.find("   IDrift = 0: Test af Opdater bruger fcanna \n"), std::string::npos);
  EXPECT_NE(jobPart.find("- 1 brugere gjort inaktiv.\n- 1 brugere oprettet.\n- 1 brugere "
                         "opdateret.\n"),
            std::string::npos)
      << jobPart;
  EXPECT_EQ(logs_.folder.read("brovalt-41.slut").substr(0, 8), "@*PERS\r\n");

  // The upload carries exactly the text the log holds from the job's mark
  // on, in UTF-8, and nothing of the settings report before it.
  const auto requests = server_.requests();
  ASSERT_FALSE(requests.empty());
  const RecordedRequest& upload = requests.back();
  EXPECT_NE(upload.path.find("gemAdJobsvar"), std::string::npos) << upload.path;
  const std::size_t mark = jobPart.find("\n-");
  ASSERT_NE(mark, std::string::npos);
  EXPECT_NE(
      upload.body.find(jobPart.substr(mark, jobPart.find("Flytter brovalt-41.behandler") - mark)),
      std::string::npos)
      << upload.body;
  EXPECT_EQ(upload.body.find("Tavlevagt-IDrift"), std::string::npos);

  // Test mode: the directory is as it was.
  EXPECT_EQ(admin_.read("CN=fcbo,OU=Elev," + zeb_, "userAccountControl"),
            (std::vector<std::string>{"512"}));
  EXPECT_TRUE(admin_.read("CN=fccai,OU=Elev," + zeb_, "sAMAccountName").empty());

  // The password job waits for the password thread; one scan of it resets.
  ASSERT_TRUE(std::filesystem::exists(logs_.folder.file("kodevalt-42.dat")));
  rt_.settings.IDrift = true;
  rt_.trim.defaultNamingContext = dc().baseDn;
  EXPECT_EQ(PasswordJobWatcher(rt_).scanOnce(), 1u);
  EXPECT_EQ(simpleBind(dc(), anna, "Ny-Kode#2026"), 0);
  EXPECT_EQ(simpleBind(dc(), anna, "Start#2024a"), 49);
}

TEST_F(FullCycle, LocationsOfTheDefaultContainerComeFromTheDomain) {
  logs_.folder.write("Tavlevagt.ini", "[Tavlevagt]\r\nLogLevel=1\r\n");
  ASSERT_EQ(logs_.log.open(), 0);
  ASSERT_EQ(loadSettings(rt_), 0);
  logs_.log.release();
  const std::string b = dc().baseDn;
  const std::string z = "OU=ZEB," + b;
  const std::string expected =
      " - defaultNamingContext: " + b + "\n - rootDomainNamingContext: " + b + "\n";
  EXPECT_NE(logs_.text().find(expected), std::string::npos) << logs_.text();
  EXPECT_NE(
      logs_.text().find("Trim.ZEBPath: " + z +
                        "\n"
                        "Trim.ZEBLdapPath: LDAP://" +
                        z +
                        "\n"
                        "Trim.GruppePath: OU=Grupper," +
                        z +
                        "\n"
                        "Trim.GruppeArkivPath: OU=Arkiv,OU=Grupper," +
                        z +
                        "\n"
                        "Trim.GruppeLdapPath: LDAP://OU=Grupper," +
                        z +
                        "\n"
                        "Trim.GruppeArkivLdapPath: LDAP://OU=Arkiv,OU=Grupper," +
                        z +
                        "\n"
                        "Trim.MedarbejderPath: OU=Medarbejder," +
                        z +
                        "\n"
                        "Trim.MedarbejderLdapPath: LDAP://OU=Medarbejder," +
                        z +
                        "\n"
                        "Trim.MedarbejderArkivPath: OU=Arkiv,OU=Medarbejder," +
                        z +
                        "\n"
                        "Trim.MedarbejderArkivLdapPath: LDAP://OU=Arkiv,OU=Medarbejder," +
                        z +
                        "\n"
                        "Trim.MedarbejderInaktivePath: OU=Inaktive,OU=Medarbejder," +
                        z +
                        "\n"
                        "Trim.MedarbejderInaktiveLdapPath, LDAP://OU=Inaktive,OU=Medarbejder," +
                        z +
                        "\n"
                        "Trim.ElevPath: OU=Elev," +
                        z +
                        "\n"
                        "Trim.ElevLdapPath, LDAP://OU=Elev," +
                        z +
                        "\n"
                        "Trim.ElevArkivPath: OU=Arkiv,OU=Elev," +
                        z +
                        "\n"
                        "Trim.ElevArkivLdapPath: LDAP://OU=Arkiv,OU=Elev," +
                        z +
                        "\n"
                        "Trim.ElevInaktivePath: OU=Inaktive,OU=Elev," +
                        z +
                        "\n"
                        "Trim.ElevInaktiveLdapPath, LDAP://OU=Inaktive,OU=Elev," +
                        z + "\n"),
      std::string::npos)
      << logs_.text();
  // The DNS name, which the user operations put after "@", comes from the
  // name translation of the domain.
  EXPECT_EQ(rt_.trim.dnsDomain, toLower(dc().realm));
}

}  // namespace
}  // namespace tv::test

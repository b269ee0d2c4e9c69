#include "platform/app/directory_choice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <thread>

#include "directory/draft_directory.h"
#include "password/password_jobs.h"
#include "platform/memory/memory_directory.h"
#include "platform/posix/posix_local_files.h"
#include "support/fakes.h"
#include "text/cipher.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSnapshot =
    "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
    "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";

struct Choice : ::testing::Test {
  test::LogFixture logs;
  PosixLocalFiles files;
  Runtime rt{logs.log, Ports{.clock = &logs.clock, .localFiles = &files}, logs.folder.path()};
  DirectoryChoice choice;

  // Adds an OU below OU=ZEB through the directory in use.
  void addOu(const std::string& name) {
    auto zeb = rt.ports.directory->bind("LDAP://OU=ZEB,DC=skole,DC=test");
    ASSERT_TRUE(zeb.ok());
    auto ou = zeb.value->create("organizationalUnit", "OU=" + name);
    ASSERT_TRUE(ou.ok());
    ASSERT_EQ(ou.value->setInfo(), kSOk);
  }
  bool hasOu(const std::string& name) {
    return rt.ports.directory->bind("LDAP://OU=" + name + ",OU=ZEB,DC=skole,DC=test").ok();
  }
  std::string snapshot() const { return logs.folder.read("directory.ldif"); }
  // Files of the data folder other than the log and the snapshot itself.
  std::vector<std::string> strayFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(logs.folder.path())) {
      const std::string n = e.path().filename().string();
      if (n != "Tavlevagt.log" && n != "directory.ldif") names.push_back(n);
    }
    return names;
  }
};

TEST_F(Choice, AJobsChangesAreWrittenBackOwnerOnlyAndNothingElse) {
  logs.folder.write("directory.ldif", kSnapshot);
  choice.open(rt);
  ASSERT_NE(rt.ports.directory, nullptr);
  EXPECT_EQ(rt.ports.store, &choice);
  EXPECT_TRUE(choice.usesSnapshot());

  // Nothing changed: the file is left exactly as the school wrote it.
  ASSERT_TRUE(choice.acquire().ok);
  EXPECT_TRUE(choice.release().ok);
  EXPECT_EQ(snapshot(), kSnapshot);

  ASSERT_TRUE(choice.acquire().ok);
  addOu("Elev");
  EXPECT_TRUE(choice.release().ok);
  EXPECT_NE(snapshot().find("dn: OU=Elev,OU=ZEB,DC=skole,DC=test\n"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(logs.folder.file("directory.ldif").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(strayFiles().empty());
  // The snapshot was written by hand: the load told what it gave its objects.
  EXPECT_EQ(logs.text(),
            "** Info: Katalogfilen manglede objectGUID, objectSid eller objectCategory på 2 "
            "objekter; de har fået dem, som AD giver dem.\n");
}

TEST_F(Choice, ASnapshotThatCannotBeReadIsNoDirectoryWithTheLineAndWhy) {
  struct Case {
    const char* what;
    std::string bytes;  // "" with missing: no file at all
    bool missing;
    std::string why;
  };
  const std::string base = kSnapshot;
  const Case cases[] = {
      {"a garbage line", base + "garbage\n", false, "line 7: \"attribute: value\" expected"},
      {"a second version line", "version: 1\n\n" + base + "version: 1\n", false,
       "line 9: a record must begin with \"dn:\""},
      {"a truncated record", base + "dn: OU=Elev,OU=ZEB,DC=skole,DC=te", false, "objectClass"},
      {"no file", "", true, "findes ikke"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::LogFixture fresh;
    Runtime r{fresh.log, Ports{.clock = &fresh.clock, .localFiles = &files}, fresh.folder.path()};
    if (!c.missing) fresh.folder.write("directory.ldif", c.bytes);
    DirectoryChoice d;
    d.open(r);
    EXPECT_EQ(r.ports.directory, nullptr);
    EXPECT_EQ(r.ports.store, &d);
    const DirectoryStore::Status st = d.acquire();
    EXPECT_FALSE(st.ok);
    EXPECT_NE(st.why.find(fresh.folder.file("directory.ldif")), std::string::npos) << st.why;
    EXPECT_NE(st.why.find(c.why), std::string::npos) << st.why;
    EXPECT_NE(fresh.text().find("** Fejl: " + st.why + "\n"), std::string::npos) << fresh.text();
    // Nothing was made of it: no empty domain written in its place.
    EXPECT_EQ(fs::exists(fresh.folder.file("directory.ldif")), !c.missing);
    if (!c.missing) {
      EXPECT_EQ(fresh.folder.read("directory.ldif"), c.bytes);
    }
  }
}

TEST_F(Choice, ASnapshotMendedLaterIsTakenUpByTheNextJob) {
  logs.folder.write("directory.ldif", "garbage\n");
  choice.open(rt);
  EXPECT_FALSE(choice.acquire().ok);
  logs.folder.write("directory.ldif", kSnapshot);
  const DirectoryStore::Status st = choice.acquire();
  ASSERT_TRUE(st.ok) << st.why;
  EXPECT_TRUE(st.reloaded);
  ASSERT_NE(rt.ports.directory, nullptr);
  EXPECT_TRUE(rt.ports.directory->bind("LDAP://OU=ZEB,DC=skole,DC=test").ok());
  EXPECT_TRUE(choice.release().ok);
}

TEST_F(Choice, AnotherRunsChangeIsLoadedBeforeTheNextJobInsteadOfOverwritten) {
  logs.folder.write("directory.ldif", kSnapshot);
  choice.open(rt);
  ASSERT_TRUE(choice.acquire().ok);
  addOu("Elev");
  ASSERT_TRUE(choice.release().ok);

  // A "-d" run (or a fresh export) replaces the snapshot between two jobs.
  std::string other =
      snapshot() + "dn: OU=Andet,OU=ZEB,DC=skole,DC=test\n" + "objectClass: organizationalUnit\n\n";
  logs.folder.write("directory.ldif", other);
  const DirectoryStore::Status st = choice.acquire();
  ASSERT_TRUE(st.ok) << st.why;
  EXPECT_TRUE(st.reloaded);
  EXPECT_TRUE(hasOu("Andet"));
  addOu("Medarbejder");
  ASSERT_TRUE(choice.release().ok);
  EXPECT_NE(snapshot().find("dn: OU=Andet,OU=ZEB"), std::string::npos);
  EXPECT_NE(snapshot().find("dn: OU=Medarbejder,OU=ZEB"), std::string::npos);
  // Unchanged since: no load.
  EXPECT_FALSE(choice.acquire().reloaded);
  EXPECT_TRUE(choice.release().ok);
}

// Local files whose temporary files all end on a full disk.
struct FullDisk : PosixLocalFiles {
  Opened createUnique(const std::string& stem, std::string& path) override {
    path = stem + "full";
    return Opened{std::fopen("/dev/full", "w"), SystemError()};
  }
};

TEST_F(Choice, ChangesThatCannotBeWrittenBackAreDroppedAndTheFileKept) {
  logs.folder.write("directory.ldif", kSnapshot);
  FullDisk full;
  rt.ports.localFiles = &full;
  choice.open(rt);
  ASSERT_TRUE(choice.acquire().ok);
  addOu("Elev");
  const DirectoryStore::Status st = choice.release();
  EXPECT_FALSE(st.ok);
  EXPECT_NE(st.why.find("kan ikke gemmes: No space left on device"), std::string::npos) << st.why;
  EXPECT_EQ(snapshot(), kSnapshot);
  // The next job starts from the file, not from changes nobody kept.
  const DirectoryStore::Status next = choice.acquire();
  ASSERT_TRUE(next.ok);
  EXPECT_TRUE(next.reloaded);
  EXPECT_FALSE(hasOu("Elev"));
  EXPECT_TRUE(choice.release().ok);
}

TEST_F(Choice, LinksAtTheTemporaryNameOrTheSnapshotAreNeverFollowed) {
  logs.folder.write("directory.ldif", kSnapshot);
  test::TempFolder elsewhere;
  elsewhere.write("victim", "precious\n");
  // The temporary name the write-back once used, planted as a link.
  fs::create_symlink(elsewhere.file("victim"), logs.folder.file("directory.ldif.ny"));
  choice.open(rt);
  ASSERT_TRUE(choice.acquire().ok);
  addOu("Elev");
  ASSERT_TRUE(choice.release().ok);
  EXPECT_EQ(elsewhere.read("victim"), "precious\n");
  EXPECT_FALSE(fs::is_symlink(logs.folder.file("directory.ldif")));
  EXPECT_NE(snapshot().find("OU=Elev"), std::string::npos);

  // A snapshot that is a link is refused, not read.
  fs::remove(logs.folder.file("directory.ldif"));
  fs::create_symlink(elsewhere.file("victim"), logs.folder.file("directory.ldif"));
  const DirectoryStore::Status st = choice.acquire();
  EXPECT_FALSE(st.ok);
  EXPECT_NE(st.why.find("symbolsk link"), std::string::npos) << st.why;
}

TEST_F(Choice, OneUnitAtATimeHoldsTheSnapshot) {
  logs.folder.write("directory.ldif", kSnapshot);
  choice.open(rt);
  ASSERT_TRUE(choice.acquire().ok);
  auto other = std::async(std::launch::async, [&] {
    const bool ok = choice.acquire().ok;
    const bool sawElev = hasOu("Elev");
    (void)choice.release();
    return ok && sawElev;
  });
  EXPECT_EQ(other.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  addOu("Elev");
  ASSERT_TRUE(choice.release().ok);
  EXPECT_TRUE(other.get());
}

TEST_F(Choice, AFatalExitKeepsWhatTheJobWroteBeforeIt) {
  logs.folder.write("directory.ldif", kSnapshot);
  choice.open(rt);
  int exitCode = -1;
  auto fatal = choice.savingBefore([&](int code) {
    // The snapshot is written before the process ends.
    EXPECT_NE(snapshot().find("OU=Elev"), std::string::npos);
    exitCode = code;
  });
  ASSERT_TRUE(choice.acquire().ok);
  addOu("Elev");
  fatal(25);
  EXPECT_EQ(exitCode, 25);
}

TEST_F(Choice, APasswordJobsChangesReachTheSnapshot) {
  logs.folder.write(
      "directory.ldif",
      std::string(kSnapshot) +
          "dn: CN=jens,OU=ZEB,DC=skole,DC=test\nobjectClass: top\nobjectClass: person\n"
          "objectClass: organizationalPerson\nobjectClass: user\ncn: jens\n"
          "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n"
          "sAMAccountName: jens\nuserAccountControl: 512\nlockoutTime: 132999000000000000\n\n");
  choice.open(rt);
  rt.settings.IDrift = true;
  logs.folder.write("kodevalt-1.dat",
                    "@+AD_PASS\r\n" + cipher::encipher("jens;Sol2024!x") + "\r\n");
  PasswordJobWatcher watcher(rt);
  EXPECT_EQ(watcher.scanOnce(), 1u);
  EXPECT_TRUE(fs::exists(logs.folder.file("kodevalt-1.slut")));
  // The new password's time and the cleared lock are in the file.
  const std::string saved = snapshot();
  EXPECT_NE(saved.find("pwdLastSet: "), std::string::npos) << saved;
  EXPECT_EQ(saved.find("lockoutTime: 132999000000000000"), std::string::npos) << saved;
}

TEST_F(Choice, AServerInTheSettingsGoesToThePlatformsLdapOpener) {
  logs.folder.write("directory.ldif", kSnapshot);
  logs.folder.write("Tavlevagt.ini",
                    "[LDAP]\r\nLdapServer=ldap://dc1.skole.test\r\nLdapBind=Simple\r\n"
                    "LdapBindName=x\r\nLdapPasswordFile=pw\r\nLdapStartTls=ja\r\n");
  std::vector<LdapSettings> asked;
  MemoryDirectory* server = nullptr;
  DirectoryChoice ldap([&](const LdapSettings& settings, LogSink&) -> std::unique_ptr<Directory> {
    asked.push_back(settings);
    auto dc = std::make_unique<MemoryDirectory>();
    server = dc.get();
    return dc;
  });
  ldap.open(rt);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].LdapServer, "ldap://dc1.skole.test");
  EXPECT_EQ(asked[0].LdapBind, "simple");
  EXPECT_EQ(asked[0].LdapBindName, "x");
  EXPECT_EQ(asked[0].LdapPasswordFile, "pw");
  EXPECT_TRUE(asked[0].LdapStartTls);
  EXPECT_FALSE(ldap.usesSnapshot());
  // The product gets the server able to draft a new account.
  ASSERT_NE(dynamic_cast<DraftingDirectory*>(rt.ports.directory), nullptr);
  ASSERT_NE(server, nullptr);
  auto root = server->bind("LDAP://DC=skole,DC=test");
  ASSERT_TRUE(root.ok());
  auto ou = root.value->create("organizationalUnit", "OU=KunPaaServeren");
  ASSERT_TRUE(ou.ok());
  ASSERT_EQ(ou.value->setInfo(), kSOk);
  EXPECT_TRUE(rt.ports.directory->bind("LDAP://OU=KunPaaServeren,DC=skole,DC=test").ok());
  // A domain controller keeps its own changes: nothing to load or write.
  EXPECT_TRUE(ldap.acquire().ok);
  EXPECT_TRUE(ldap.release().ok);
  EXPECT_EQ(snapshot(), kSnapshot);

  // A build without an LDAP adapter says so and works on no directory.
  choice.open(rt);
  EXPECT_EQ(rt.ports.directory, nullptr);
  EXPECT_FALSE(choice.acquire().ok);
  EXPECT_NE(logs.text().find("kan ikke forbinde til LdapServer ldap://dc1.skole.test"),
            std::string::npos)
      << logs.text();
  EXPECT_EQ(snapshot(), kSnapshot);
}

TEST_F(Choice, WithoutAServerTheLdapOpenerIsUsedOnlyWhenThePlatformFindsOne) {
  logs.folder.write("directory.ldif", kSnapshot);
  logs.folder.write("Tavlevagt.ini", "[Tavlevagt]\r\nIDrift=Ja\r\n");
  for (const bool inDomain : {true, false}) {
    SCOPED_TRACE(inDomain ? "in a domain" : "outside a domain");
    std::vector<LdapSettings> asked;
    DirectoryChoice d(
        [&](const LdapSettings& settings, LogSink&) -> std::unique_ptr<Directory> {
          asked.push_back(settings);
          return std::make_unique<MemoryDirectory>();
        },
        [&] { return inDomain; });
    d.open(rt);
    EXPECT_EQ(d.usesSnapshot(), !inDomain);
    ASSERT_EQ(asked.size(), inDomain ? 1u : 0u);
    if (inDomain) {
      EXPECT_EQ(asked[0].LdapServer, "");
    }
    EXPECT_NE(rt.ports.directory, nullptr);
  }
}

}  // namespace
}  // namespace tv

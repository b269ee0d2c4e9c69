// The folder and share operations against Samba's file server on the test
// domain controller. Results are read back with the server's own tools
// (smbcacls, rpcclient, smbclient as the user) or the server service.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "directory/sid.h"
#include "integration/samba/samba_env.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/smb/smb_file_server.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "shares/share_access.h"
#include "shares/share_paths.h"
#include "shares/shares.h"
#include "support/fakes.h"

// Samba's talloc keeps one small block of the client libraries' process-wide
// state until exit; it is theirs, not a leak of the adapter.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc.so\n";
}

namespace tv::test {
namespace {

const SambaDc& dc() {
  return requireSambaDc();
}

constexpr const char* kUserPassword = "Elev-Kode.2026!";

// Runs a command line of fixed test arguments; its standard output and exit code.
std::pair<std::string, int> run(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return {"", -1};
  std::array<char, 4096> buf{};
  while (std::fgets(buf.data(), buf.size(), p) != nullptr) out += buf.data();
  int status = pclose(p);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string adminAuth() {
  return quoted(dc().domain + "\\Administrator%" + dc().adminPassword);
}

// The numeric access list lines smbcacls shows for a folder below the home share.
std::vector<std::string> aclLines(const std::string& relative) {
  auto [out, rc] =
      run("smbcacls //127.0.0.1/home " + quoted(relative) + " --numeric -U " + adminAuth());
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    if (line.starts_with("ACL:")) lines.push_back(line);
    start = end + 1;
  }
  if (rc != 0) lines.push_back("smbcacls failed: " + out);
  // The server keeps its own canonical order; the order of allowing entries
  // does not change who may do what.
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<AccessEntry> sorted(std::vector<AccessEntry> v) {
  std::sort(v.begin(), v.end(),
            [](const AccessEntry& a, const AccessEntry& b) { return a.sid < b.sid; });
  return v;
}

class SharesOnSamba : public ::testing::Test {
 protected:
  static constexpr const char* kRoot = "\\\\127.0.0.1\\home\\it";

  static void SetUpTestSuite() {
    credentialsFile_ = new TempFolder();
    credentialsFile_->write("smb.cred",
                            "username = Administrator\npassword = " + dc().adminPassword +
                                "\ndomain = " + dc().domain + "\n");
    std::string why;
    auto creds = loadSmbCredentials(credentialsFile_->file("smb.cred"), &why);
    ASSERT_TRUE(creds) << why;
    server_ = SmbFileServer::open(*creds, &why).release();
    ASSERT_NE(server_, nullptr) << why;
  }
  static void TearDownTestSuite() {
    delete server_;
    delete credentialsFile_;
  }

  void SetUp() override {
    ASSERT_EQ(admin_.status(), 0);
    const int del = admin_.deleteTree(zeb_);
    ASSERT_TRUE(del == 0 || del == 32) << del;
    ASSERT_EQ(admin_.addOu(zeb_), 0);
    ASSERT_EQ(admin_.addOu("OU=Elev," + zeb_), 0);
    ASSERT_EQ(admin_.addOu("OU=Medarbejder," + zeb_), 0);
    dropShares();
    (void)server_->removeTree(kRoot);
    ASSERT_EQ(server_->makeFolder(kRoot), 0);
    // The root hands read access to Domain Users down to what is made below it.
    domainSid_ = sidOf("CN=Domain Users,CN=Users," + dc().baseDn);
    ASSERT_EQ(server_->writeAccess(
                  kRoot, {{kAdministratorsSid, kAllAccess, 3, 0}, {domainSid_, 0x1200A9, 3, 0}}),
              0);

    directory_ = openLdapDirectory(adminSettings(dc()), logs_.log);
    ASSERT_NE(directory_, nullptr);
    rt_.ports.directory = directory_.get();
    rt_.ports.files = server_;
    rt_.ports.clock = &logs_.clock;
    rt_.ports.processes = &processes_;
    logs_.log.setDirectoryErrorSource([this] { return directory_->lastError(); });
    Settings& set = rt_.settings;
    set.IDrift = true;
    set.LogLevel = 1;
    set.OpretShareMeda = 1;
    set.HideShareMeda = true;
    set.FileServerShareMeda = kRoot;
    set.FileServerPathMeda = localRoot();
    set.HomeDirDriveMeda = "H:";
    set.UserProfileShareMedaCreate = false;
    computeLocations(rt_);
    selectStaff(rt_);
  }

  void TearDown() override {
    dropShares();
    (void)server_->removeTree(kRoot);
    (void)admin_.deleteTree(zeb_);
  }

  static std::string localRoot() { return dc().shareRoot + "/home/it"; }

  void dropShares() {
    for (const char* name : {"abc$", "abd$", "abc", "tvtest$", "7a"}) {
      (void)server_->deleteShare("127.0.0.1", name);
    }
  }

  std::string sidOf(const std::string& dn) {
    auto v = admin_.read(dn, "objectSid");
    if (v.empty()) return "";
    return sidToString(v.front()).value_or("");
  }

  // A staff account that can log on.
  std::unique_ptr<DirObject> makeUser(const std::string& login) {
    auto ou = directory_->bind("LDAP://OU=Medarbejder," + zeb_);
    EXPECT_TRUE(ou.ok());
    auto created = ou.value->create("user", "CN=" + login);
    EXPECT_TRUE(created.ok());
    auto& u = *created.value;
    (void)u.put("sAMAccountName", login);
    EXPECT_EQ(u.setInfo(), kSOk);
    EXPECT_EQ(u.setPassword(kUserPassword), kSOk);
    (void)u.put("userAccountControl", "512");
    EXPECT_EQ(u.setInfo(), kSOk);
    auto bound = directory_->bind("LDAP://CN=" + login + ",OU=Medarbejder," + zeb_);
    EXPECT_TRUE(bound.ok());
    return std::move(bound.value);
  }

  std::string value(DirObject& o, const std::string& attr) {
    (void)o.getInfo();
    auto v = o.get(attr);
    return v.ok() ? v.value : "<none>";
  }

  // smbclient as the user, in a folder below the home share; its exit code.
  int writeAs(const std::string& login, const std::string& folder) {
    auto [out, rc] = run("smbclient //127.0.0.1/home -U " +
                         quoted(dc().domain + "\\" + login + "%" + kUserPassword) + " -D " +
                         quoted(folder) + " -c 'mkdir skrevet'");
    // smbclient reports a refused mkdir in its output, not always in its code.
    if (out.find("NT_STATUS_") != std::string::npos) return rc == 0 ? 1 : rc;
    return rc;
  }

  [[nodiscard]] bool logHas(const std::string& text) const {
    return logs_.text().find(text) != std::string::npos;
  }

  static TempFolder* credentialsFile_;
  static SmbFileServer* server_;
  LogFixture logs_;
  RecordingProcessRunner processes_;
  Runtime rt_{logs_.log, Ports{}, logs_.folder.path()};
  AdminLdap admin_{dc()};
  std::unique_ptr<Directory> directory_;
  std::string zeb_ = "OU=ZEB," + dc().baseDn;
  std::string domainSid_;
};

TempFolder* SharesOnSamba::credentialsFile_ = nullptr;
SmbFileServer* SharesOnSamba::server_ = nullptr;

FileUser staff(const std::string& login, const std::string& previous = "") {
  FileUser u;
  u.login = login;
  u.splitLetter = std::string(1, static_cast<char>(std::toupper(login[0])));
  u.previousLogin = previous;
  return u;
}

TEST_F(SharesOnSamba, AdapterFoldersAccessListsMovesAndDeletes) {
  const std::string sid = "S-1-5-21-1-2-3-4000";
  const std::string folder = std::string(kRoot) + "\\sikker mappe æ";
  ASSERT_EQ(server_->makeSecureFolder(folder, folderAccess(sid, 0x1200A9)), 0);
  EXPECT_EQ(aclLines("it/sikker mappe æ"),
            sorted({"ACL:" + sid + ":0/0x3/0x001200a9", "ACL:S-1-5-32-544:0/0x3/0x001fffff",
                    "ACL:S-1-5-18:0/0x3/0x001fffff"}));
  std::vector<AccessEntry> read;
  ASSERT_EQ(server_->readAccess(folder, read), 0);
  EXPECT_EQ(sorted(read), sorted(folderAccess(sid, 0x1200A9)));

  // A plain folder takes what the root hands down (this share keeps no
  // inherited marking: Samba shows them as the folder's own entries).
  const std::string plain = std::string(kRoot) + "/plain";
  ASSERT_EQ(server_->makeFolder(plain), 0);
  ASSERT_EQ(server_->readAccess(plain, read), 0);
  EXPECT_EQ(sorted(read),
            sorted({{kAdministratorsSid, kAllAccess, 3, 0}, {domainSid_, 0x1200A9, 3, 0}}));

  EXPECT_EQ(server_->makeFolder(plain), EEXIST);
  EXPECT_EQ(server_->move(folder, plain), EEXIST) << "a folder in the way is never replaced";
  EXPECT_TRUE(server_->exists(folder));
  ASSERT_EQ(server_->makeFolder(plain + "/indre"), 0);
  ASSERT_EQ(server_->move(plain, std::string(kRoot) + "\\flyttet"), 0);
  EXPECT_FALSE(server_->exists(plain));
  EXPECT_TRUE(server_->exists(std::string(kRoot) + "\\flyttet\\indre"));
  ASSERT_EQ(server_->removeTree(std::string(kRoot) + "\\flyttet"), 0);
  EXPECT_FALSE(server_->exists(std::string(kRoot) + "\\flyttet"));
  EXPECT_EQ(server_->makeFolder(std::string(kRoot) + "\\mangler\\under"), ENOENT);
}

TEST_F(SharesOnSamba, AdapterSharesAndTheirTwoResults) {
  ASSERT_EQ(server_->makeFolder(std::string(kRoot) + "\\x"), 0);
  EXPECT_EQ(server_->openServer("127.0.0.1"), kSOk);
  EXPECT_EQ(server_->addShare("127.0.0.1", "tvtest$", localRoot() + "\\x", 10), kSOk);
  ShareInfo info = server_->shareInfo("127.0.0.1", "tvtest$");
  ASSERT_EQ(info.hr, kSOk);
  EXPECT_EQ(info.maxUsers, 10u);
  EXPECT_TRUE(sameSharePath(localRoot() + "\\x", info.path)) << info.path;
  auto [out, rc] = run("rpcclient 127.0.0.1 -U " + adminAuth() + " -c 'netsharegetinfo tvtest$ 2'");
  std::string want = "C:" + localRoot() + "\\x";
  for (char& c : want) c = c == '/' ? '\\' : c;
  EXPECT_NE(out.find("\tpath:\t" + want + "\n"), std::string::npos) << out;
  EXPECT_EQ(server_->addShare("127.0.0.1", "tvtest$", localRoot() + "\\x", 10), kShareExists);
  EXPECT_EQ(server_->deleteShare("127.0.0.1", "tvtest$"), kSOk);
  EXPECT_EQ(server_->shareInfo("127.0.0.1", "tvtest$").hr, kShareNotFound);
  EXPECT_EQ(server_->deleteShare("127.0.0.1", "tvtest$"), kShareNotFound);
}

TEST_F(SharesOnSamba, UnreachableServerIsReportedNotCrashed) {
  EXPECT_LT(server_->openServer("127.0.0.2"), 0);
  EXPECT_NE(server_->makeFolder("\\\\127.0.0.2\\home\\x"), 0);
  EXPECT_FALSE(server_->exists("\\\\127.0.0.2\\home"));
  // Without a server or share nothing may fall back to this machine or the network.
  EXPECT_EQ(server_->openServer(""), kEAdsBadPathname);
  EXPECT_EQ(server_->shareInfo("", "abc$").hr, kEAdsBadPathname);
  EXPECT_EQ(server_->deleteShare("", "abc$"), kEAdsBadPathname);
  EXPECT_FALSE(server_->exists(""));
  EXPECT_EQ(server_->makeFolder("\\\\127.0.0.1"), EINVAL);
  EXPECT_EQ(server_->removeTree("\\\\127.0.0.1\\"), EINVAL);
  rt_.settings.FileServerShareMeda = "\\\\127.0.0.2\\home";
  selectStaff(rt_);
  makeUser("abc");
  FileUser u = staff("abc");
  ShareFolder(rt_, u, true);
  EXPECT_TRUE(logHas("** Fejl: ShareFolder() - ADsGetObject(WinNT://127.0.0.2/lanmanServer)\n"))
      << logs_.text();
  EXPECT_EQ(CreateSecureFolder(rt_, u, false), 0);
  EXPECT_TRUE(logHas("** Fejl: CreateSecureFolder() - CreateDirectory(\\\\127.0.0.2\\home\\abc)\n"))
      << logs_.text();
}

TEST_F(SharesOnSamba, StaffShareAbcWithItsRightsAndHomeDirectory) {
  auto abc = makeUser("abc");
  makeUser("abd");
  FileUser u = staff("abc");
  OpretFileshare(rt_, u, *abc);
  const std::string sid = sidOf("CN=abc,OU=Medarbejder," + zeb_);
  EXPECT_EQ(aclLines("it/abc"),
            sorted({"ACL:" + sid + ":0/0x3/0x001fffff", "ACL:S-1-5-32-544:0/0x3/0x001fffff",
                    "ACL:S-1-5-18:0/0x3/0x001fffff"}))
      << logs_.text();
  ShareInfo info = server_->shareInfo("127.0.0.1", "abc$");
  ASSERT_EQ(info.hr, kSOk) << logs_.text();
  EXPECT_EQ(info.maxUsers, 10u);
  EXPECT_TRUE(sameSharePath(localRoot() + "\\abc", info.path)) << info.path;
  EXPECT_EQ(value(*abc, "homeDirectory"), "\\\\127.0.0.1\\abc$");
  EXPECT_EQ(value(*abc, "homeDrive"), "H:");
  EXPECT_EQ(writeAs("abc", "it/abc"), 0) << "the user writes in its own folder";
  EXPECT_NE(writeAs("abd", "it/abc"), 0) << "another user does not";
  auto [out, rc] = run("smbclient //127.0.0.1/abc$ -U " +
                       quoted(dc().domain + "\\abc%" + std::string(kUserPassword)) + " -c ls");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("skrevet"), std::string::npos) << "the share shows the home folder: " << out;
}

TEST_F(SharesOnSamba, SplitLettersMergedRightsAndFolderMode) {
  rt_.settings.AlphaopdelShareMeda = true;
  rt_.settings.InheritPermissionsShareMeda = true;
  rt_.settings.OpretShareMeda = 2;
  rt_.settings.AccessPermissionsShareMeda = 0x1301BF;
  selectStaff(rt_);
  auto abc = makeUser("abc");
  FileUser u = staff("abc");
  OpretFileshare(rt_, u, *abc);
  const std::string sid = sidOf("CN=abc,OU=Medarbejder," + zeb_);
  // Samba keeps what the folder inherited as explicit entries of the same
  // rights once the list is written back; the root's entries stay all the same.
  EXPECT_EQ(aclLines("it/A/abc"),
            sorted({"ACL:" + sid + ":0/0x3/0x001301bf", "ACL:S-1-5-32-544:0/0x3/0x001fffff",
                    "ACL:S-1-5-18:0/0x3/0x001fffff", "ACL:" + domainSid_ + ":0/0x3/0x001200a9"}))
      << logs_.text();
  EXPECT_EQ(server_->shareInfo("127.0.0.1", "abc$").hr, kShareNotFound) << "mode 2 shares nothing";
  EXPECT_EQ(value(*abc, "homeDirectory"), std::string(kRoot) + "\\A\\abc");
}

TEST_F(SharesOnSamba, RenameWithAnExistingTargetKeepsBothFolders) {
  makeUser("abd");
  ASSERT_EQ(server_->makeFolder(std::string(kRoot) + "\\abc"), 0);
  ASSERT_EQ(server_->makeFolder(std::string(kRoot) + "\\abc\\dokumenter"), 0);
  ASSERT_EQ(server_->makeFolder(std::string(kRoot) + "\\abd"), 0);
  ASSERT_EQ(server_->addShare("127.0.0.1", "abc$", localRoot() + "\\abc", 10), kSOk);
  FileUser u = staff("abd", "abc");
  RenameFileShares(rt_, u);
  EXPECT_TRUE(server_->exists(std::string(kRoot) + "\\abd.bw_omdøb")) << logs_.text();
  EXPECT_TRUE(server_->exists(std::string(kRoot) + "\\abd\\dokumenter"));
  EXPECT_FALSE(server_->exists(std::string(kRoot) + "\\abc"));
  ShareInfo info = server_->shareInfo("127.0.0.1", "abd$");
  ASSERT_EQ(info.hr, kSOk) << logs_.text();
  EXPECT_TRUE(sameSharePath(localRoot() + "\\abd", info.path)) << info.path;
  EXPECT_EQ(server_->shareInfo("127.0.0.1", "abc$").hr, kShareNotFound);
}

TEST_F(SharesOnSamba, HandChangedShareIsRepairedAndMissingShareDeleteReported) {
  auto abc = makeUser("abc");
  FileUser u = staff("abc");
  OpretFileshare(rt_, u, *abc);
  ASSERT_EQ(server_->makeFolder(std::string(kRoot) + "\\andet"), 0);
  ASSERT_EQ(server_->deleteShare("127.0.0.1", "abc$"), kSOk);
  ASSERT_EQ(server_->addShare("127.0.0.1", "abc$", localRoot() + "\\andet", 3), kSOk);
  EXPECT_EQ(ShareCheck(rt_, "127.0.0.1", "abc", true), 1);
  FileUser again = staff("abc");
  EXPECT_EQ(CheckFileShares(rt_, again, *abc), 0);
  EXPECT_TRUE(
      logHas("Check #2 pass - tjekker share for folderen '" + std::string(kRoot) + "\\abc'\n"))
      << logs_.text();
  ShareInfo info = server_->shareInfo("127.0.0.1", "abc$");
  ASSERT_EQ(info.hr, kSOk);
  EXPECT_TRUE(sameSharePath(localRoot() + "\\abc", info.path)) << info.path;
  EXPECT_EQ(info.maxUsers, 10u);
  EXPECT_EQ(ShareCheck(rt_, "127.0.0.1", "abc", true), 0);

  rt_.settings.LogLevel = 2;
  EXPECT_EQ(UnShareFolder(rt_, kRoot, "ingen", true), kShareNotFound);
  EXPECT_TRUE(logHas("** Fejl: UnShareFolder() - Delete(ingen$)\n** Fejl: (hresult: 0x80070906"))
      << logs_.text();
}

TEST_F(SharesOnSamba, GroupFolderAndShare) {
  rt_.settings.ServerShareGruppe = kRoot;
  rt_.settings.ServerPathGruppe = localRoot();
  rt_.settings.AccessPermissionsShareGruppe = 0x1200A9;
  ASSERT_EQ(admin_.add("CN=7a,OU=ZEB," + dc().baseDn,
                       {{"objectClass", "group"}, {"sAMAccountName", "7a"}}),
            0);
  CreateSecureGroupFolder(rt_, "7a");
  const std::string sid = sidOf("CN=7a,OU=ZEB," + dc().baseDn);
  EXPECT_EQ(aclLines("it/7a"),
            sorted({"ACL:" + sid + ":0/0x3/0x001200a9", "ACL:S-1-5-32-544:0/0x3/0x001fffff",
                    "ACL:S-1-5-18:0/0x3/0x001fffff"}))
      << logs_.text();
  GroupShare(rt_, "7a", false);
  ShareInfo info = server_->shareInfo("127.0.0.1", "7a");
  ASSERT_EQ(info.hr, kSOk) << logs_.text();
  EXPECT_TRUE(sameSharePath(localRoot() + "\\7a", info.path)) << info.path;
}

}  // namespace
}  // namespace tv::test

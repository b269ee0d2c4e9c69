// The service's own Kerberos identity against the test domain: a computer
// account for "this machine", its keys exported to a keytab, a ticket taken
// from that keytab into a private credentials cache the way the service's
// unit does (kinit -k), and then the LDAP adapter's GSSAPI bind and the SMB
// adapter's Kerberos mode used against the domain controller by its DNS
// name, as a member server reaches it.
//
// The name dc1.skole.test is made to resolve to 127.0.0.1 for this process
// only: it runs in a mount namespace of its own with its own /etc/hosts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "directory/escape.h"
#include "integration/samba/samba_env.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/smb/smb_file_server.h"
#include "support/fakes.h"
#include "text/text.h"

// Samba's talloc and the Kerberos library keep a little process-wide state
// until exit; it is theirs, not a leak of the adapters.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc.so\nleak:libkrb5.so\nleak:libgssapi_krb5.so\nleak:libsasl2.so\n";
}

namespace tv::test {
namespace {

constexpr const char* kServer = "dc1.skole.test";
constexpr const char* kMachine = "TAVLEVAGT";
constexpr const char* kPrincipal = "TAVLEVAGT$@SKOLE.TEST";
constexpr const char* kMachinePassword = "Maskine-Kode.2026!Tavlevagt";
constexpr const char* kLdapSpn = "ldap/dc1.skole.test";
constexpr const char* kUserPassword = "Elev-Kode.2026!";

std::pair<std::string, int> run(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return {"", -1};
  std::array<char, 4096> buf{};
  while (std::fgets(buf.data(), buf.size(), p) != nullptr) out += buf.data();
  const int status = pclose(p);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string shellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The machine's identity, made once for all cases and removed afterwards so
// the shared domain is left as it was found.
class KerberosIdentity : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    dc_ = loadSambaDc(&why).value_or(SambaDc{});
    if (dc_.conf.empty()) {
      error_ = "no test domain: " + why;
      return;
    }
    work_ = std::make_unique<TempFolder>();
    error_ = prepare();
  }

  static void TearDownTestSuite() {
    if (dc_.conf.empty()) return;
    (void)run("kdestroy -q");
    (void)run(tool("computer delete " + std::string(kMachine)));
    if (addedSpn_) (void)run(tool(std::string("spn delete ") + kLdapSpn + " 'DC1$'"));
    work_.reset();
  }

  static std::string tool(const std::string& args) {
    return "samba-tool " + args + " -s " + shellQuoted(dc_.conf);
  }

  static std::string prepare() {
    // Our own view of /etc/hosts: the domain controller by its name, and
    // 127.0.0.1 resolving back to "localhost" first, as on most machines.
    if (unshare(CLONE_NEWNS) != 0) return "unshare(CLONE_NEWNS) failed";
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return "cannot make the mounts private";
    }
    work_->write("hosts", "127.0.0.1 localhost\n127.0.0.1 dc1.skole.test dc1\n");
    if (mount(work_->file("hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
      return "cannot bind-mount /etc/hosts";
    }
    work_->write("krb5.conf",
                 "[libdefaults]\n"
                 " default_realm = SKOLE.TEST\n"
                 " dns_lookup_kdc = false\n"
                 " dns_lookup_realm = false\n"
                 " rdns = false\n"
                 " dns_canonicalize_hostname = false\n"
                 "[realms]\n"
                 " SKOLE.TEST = {\n"
                 "  kdc = 127.0.0.1\n"
                 " }\n"
                 "[domain_realm]\n"
                 " .skole.test = SKOLE.TEST\n"
                 " skole.test = SKOLE.TEST\n");
    // What the service's unit gives the process; the product reads neither.
    setenv("KRB5_CONFIG", work_->file("krb5.conf").c_str(), 1);
    ccache_ = "FILE:" + work_->file("ccache");
    setenv("KRB5CCNAME", ccache_.c_str(), 1);

    (void)run(tool("computer delete " + std::string(kMachine)));
    const std::vector<std::string> steps = {
        tool("computer create " + std::string(kMachine)),
        // The service changes passwords and groups: the rights an IT admin
        // delegates to its machine account.
        tool("group addmembers 'Domain Admins' 'TAVLEVAGT$'"),
        tool("user setpassword --filter='(sAMAccountName=TAVLEVAGT$)' --newpassword=" +
             shellQuoted(kMachinePassword)),
        tool("domain exportkeytab " + shellQuoted(work_->file("machine.keytab")) +
             " --principal=" + shellQuoted(kPrincipal)),
    };
    for (const std::string& step : steps) {
      auto [out, rc] = run(step);
      if (rc != 0) return step + ": " + out;
    }
    // A domain controller registers ldap/<its name> itself when its DNS
    // update task runs; the test domain runs without it.
    auto [spns, spnRc] = run(tool("spn list 'DC1$'"));
    if (spnRc != 0) return "spn list: " + spns;
    if (spns.find(kLdapSpn) == std::string::npos) {
      auto [out, rc] = run(tool(std::string("spn add ") + kLdapSpn + " 'DC1$'"));
      if (rc != 0) return "spn add: " + out;
      addedSpn_ = true;
    }
    auto [out, rc] = run("kinit -k -t " + shellQuoted(work_->file("machine.keytab")) + " " +
                         shellQuoted(kPrincipal));
    if (rc != 0) return "kinit: " + out;
    return "";
  }

  void SetUp() override { ASSERT_EQ(error_, ""); }

  // The service principals the credentials cache holds tickets for.
  static std::string tickets() { return run("klist").first; }

  static LdapSettings settings() {
    LdapSettings s;
    s.LdapServer = std::string("ldap://") + kServer;
    s.LdapBind = "gssapi";
    return s;
  }

  static inline SambaDc dc_;
  static inline std::unique_ptr<TempFolder> work_;
  static inline std::string error_;
  static inline std::string ccache_;
  static inline bool addedSpn_ = false;
  LogFixture log_;
};

TEST_F(KerberosIdentity, KeytabTicketIsTheMachines) {
  const std::string list = tickets();
  EXPECT_NE(list.find("Default principal: TAVLEVAGT$@SKOLE.TEST\n"), std::string::npos) << list;
  EXPECT_NE(list.find("krbtgt/SKOLE.TEST@SKOLE.TEST"), std::string::npos) << list;
}

TEST_F(KerberosIdentity, LdapGssapiBindByServerNameReadsRootDseAndAUser) {
  auto dir = openLdapDirectory(settings(), log_.log);
  ASSERT_NE(dir, nullptr);
  auto root = dir->bind("LDAP://RootDSE");
  ASSERT_EQ(root.hr, kSOk) << (dir->lastError() ? dir->lastError()->text : "");
  EXPECT_EQ(root.value->get("defaultNamingContext").value, dc_.baseDn);
  auto admin = dir->bind(pathFromDn(dc_.adminDn));
  ASSERT_EQ(admin.hr, kSOk) << (dir->lastError() ? dir->lastError()->text : "");
  EXPECT_EQ(admin.value->get("sAMAccountName").value, "Administrator");
  // The ticket is for the name in LdapServer, not for whatever 127.0.0.1
  // resolves back to.
  const std::string list = tickets();
  EXPECT_NE(list.find("ldap/dc1.skole.test@SKOLE.TEST"), std::string::npos) << list;
  EXPECT_EQ(list.find("ldap/localhost"), std::string::npos) << list;
  EXPECT_EQ(log_.text(), "");
}

// Inside TLS the adapter asks for no Kerberos security layer: Windows domain
// controllers refuse one there ("Sign or Seal are not allowed if TLS is
// used"). Samba by default ("ldap server require strong auth = yes") wants
// the layer even then, so over ldaps the test domain refuses the bind with
// its own reason, which reaches the log.
TEST_F(KerberosIdentity, LdapsGssapiBindAsksForNoLayerInsideTls) {
  LdapSettings s = settings();
  s.LdapServer = std::string("ldaps://") + kServer;
  s.LdapCaFile = dc_.caFile;
  auto dir = openLdapDirectory(s, log_.log);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->bind("LDAP://RootDSE").hr, hresultOf(0x80072028));
  ASSERT_TRUE(dir->lastError().has_value());
  const std::string why =
      "SASL/GSSAPI bind: Strong(er) authentication required: SASL:[GSSAPI]: Sign or Seal are "
      "required.";
  EXPECT_EQ(dir->lastError()->text, why);
  EXPECT_EQ(log_.text(),
            "** Fejl: LDAP-forbindelse til ldaps://dc1.skole.test mislykkedes: " + why + "\n");
}

// Without a ticket (the keytab was never read into the cache) the bind fails
// with Kerberos' own reason in the log, not a prompt or a hang.
TEST_F(KerberosIdentity, LdapBindWithoutTicketFailsWithTheReason) {
  const std::string empty = "FILE:" + work_->file("empty-ccache");
  setenv("KRB5CCNAME", empty.c_str(), 1);
  auto dir = openLdapDirectory(settings(), log_.log);
  ASSERT_NE(dir, nullptr);
  const Hresult hr = dir->bind("LDAP://RootDSE").hr;
  setenv("KRB5CCNAME", ccache_.c_str(), 1);
  EXPECT_EQ(hr, hresultOf(0x8007203B));
  ASSERT_TRUE(dir->lastError().has_value());
  const std::string why =
      "SASL/GSSAPI bind: Local error: SASL(-1): generic failure: GSSAPI Error: No credentials "
      "were supplied, or the credentials were unavailable or inaccessible (No Kerberos "
      "credentials available (default cache: " +
      empty + "))";
  EXPECT_EQ(dir->lastError()->text, why);
  EXPECT_EQ(log_.text(),
            "** Fejl: LDAP-forbindelse til ldap://dc1.skole.test mislykkedes: " + why + "\n");
}

TEST_F(KerberosIdentity, PasswordIsSetOverTheSealedPlainLdapConnection) {
  AdminLdap admin(dc_);
  ASSERT_EQ(admin.status(), 0);
  const std::string ou = "OU=kerberos-test," + dc_.baseDn;
  (void)admin.deleteTree(ou);
  ASSERT_EQ(admin.addOu(ou), 0);
  const std::string dn = "CN=krbelev," + ou;
  ASSERT_EQ(admin.add(dn, {{"objectClass", "user"},
                           {"sAMAccountName", "krbelev"},
                           {"userPrincipalName", "krbelev@skole.test"}}),
            0);

  auto dir = openLdapDirectory(settings(), log_.log);
  ASSERT_NE(dir, nullptr);
  auto user = dir->bind(pathFromDn(dn));
  ASSERT_EQ(user.hr, kSOk) << (dir->lastError() ? dir->lastError()->text : "");
  EXPECT_EQ(user.value->setPassword(kUserPassword), kSOk)
      << (dir->lastError() ? dir->lastError()->text : "");
  ASSERT_EQ(admin.replace(dn, "userAccountControl", {"512"}), 0);
  EXPECT_EQ(simpleBind(dc_, dn, kUserPassword), 0) << "the password set is the one that works";
  EXPECT_EQ(simpleBind(dc_, dn, "Forkert-Kode.2026!"), 49);
  EXPECT_EQ(admin.deleteTree(ou), 0);
  EXPECT_EQ(log_.text(), "");
}

TEST_F(KerberosIdentity, SmbWithoutCredentialsFileMakesFolderAndReadsItsAccess) {
  // The folder the IT admin hands the service: made by the administrator,
  // with full control for the machine account.
  const std::string admin = shellQuoted(dc_.domain + "\\Administrator%" + dc_.adminPassword);
  const std::string parent = "kerberos-test";
  const std::string relative = parent + "/mappe";
  (void)run("rm -rf " + shellQuoted(dc_.shareRoot + "/home/" + parent));
  auto [made, madeRc] =
      run("smbclient //127.0.0.1/home -U " + admin + " -c 'mkdir " + parent + "'");
  ASSERT_EQ(madeRc, 0) << made;
  auto [granted, grantRc] = run("smbcacls //127.0.0.1/home " + parent + " -U " + admin +
                                " -a 'ACL:SKOLE\\TAVLEVAGT$:ALLOWED/OI|CI/FULL'");
  ASSERT_EQ(grantRc, 0) << granted;

  SmbSettings s;
  ASSERT_EQ(s.FileServerCredentials, "");
  std::string why;
  auto server = openSmbFileServer(s, &why);
  ASSERT_NE(server, nullptr) << why;
  const std::string folder = std::string("\\\\") + kServer + "\\home\\" + parent + "\\mappe";
  ASSERT_EQ(server->makeFolder(folder), 0);
  EXPECT_TRUE(server->exists(folder));
  EXPECT_TRUE(std::filesystem::is_directory(dc_.shareRoot + "/home/" + relative));

  std::vector<AccessEntry> entries;
  ASSERT_EQ(server->readAccess(folder, entries), 0);
  // The same access list as the administrator reads it with Samba's tool.
  auto [out, rc] = run("smbcacls //127.0.0.1/home " + relative + " --numeric -U " + admin);
  ASSERT_EQ(rc, 0) << out;
  std::string acl;
  for (const std::string& line : split(out, '\n')) {
    if (line.rfind("ACL:", 0) == 0) acl += (acl.empty() ? "" : ",") + line;
  }
  ASSERT_FALSE(acl.empty()) << out;
  EXPECT_EQ(entries, parseSecurityDescriptor(acl)) << out;

  // The server service is reached with the ticket too, without a password
  // prompt on the terminal.
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedOut = dup(1);
  const int savedErr = dup(2);
  const int outFd = ::open(work_->file("output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(outFd, 0);
  dup2(outFd, 1);
  dup2(outFd, 2);
  const Hresult opened = server->openServer(kServer);
  const ShareInfo info = server->shareInfo(kServer, "home");
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  close(outFd);
  EXPECT_EQ(work_->read("output.txt"), "");
  EXPECT_EQ(opened, kSOk);
  EXPECT_EQ(info.hr, kSOk);
  std::string want = "C:" + dc_.shareRoot + "/home";
  for (char& c : want) c = c == '/' ? '\\' : c;
  EXPECT_EQ(info.path, want);
  EXPECT_EQ(server->removeTree(folder), 0);
  EXPECT_FALSE(std::filesystem::exists(dc_.shareRoot + "/home/" + relative));
  (void)run("rm -rf " + shellQuoted(dc_.shareRoot + "/home/" + parent));

  const std::string list = tickets();
  EXPECT_NE(list.find("cifs/dc1.skole.test@SKOLE.TEST"), std::string::npos) << list;
}

}  // namespace
}  // namespace tv::test

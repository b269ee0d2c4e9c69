// The package's systemd unit, sandbox and all, against a real run: the
// program runs one cycle ("-d") inside the sandbox the unit's [Service]
// lines ask for (unit-sandbox.sh builds it as systemd would: no new
// privileges, the file system read-only but for the state directory, a
// private /tmp, no home folders, sockets of the unit's address families
// only), with its data folder in the unit's state directory. The cycle
// fetches a job from the HTTPS job server, creates a pupil over ldaps with
// a home folder and share on the domain controller's file server (SMB), and
// sends its log back; every part must work, and the sandbox must be shown
// to bite.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "integration/jobserver/local_job_server.h"
#include "integration/samba/samba_env.h"
#include "platform/smb/smb_file_server.h"
#include "runtime/change_report.h"
#include "shares/share_access.h"
#include "support/fakes.h"
#include "text/text.h"

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc.so\n";
}

namespace tv::test {
namespace {
namespace fs = std::filesystem;

const SambaDc& dc() {
  return requireSambaDc();
}

std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A command line of fixed test arguments: its output (both streams) and exit code.
std::pair<std::string, int> run(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return {"", -1};
  std::array<char, 4096> buf{};
  while (std::fgets(buf.data(), buf.size(), p) != nullptr) out += buf.data();
  const int status = pclose(p);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

class HardenedUnit : public ::testing::Test {
 protected:
  static constexpr const char* kRoot = "\\\\127.0.0.1\\home\\haerdet";

  void SetUp() override {
    // PrivateTmp= gives the sandbox a /tmp of its own, which would hide a
    // checkout below /tmp from the program inside it.
    const std::string work = fs::weakly_canonical(work_).string();
    if (work.starts_with("/tmp/") || work.starts_with("/var/tmp/")) {
      GTEST_SKIP() << "the build folder lies below /tmp, which the unit's PrivateTmp= hides; "
                      "build outside /tmp to run this test";
    }
    ASSERT_TRUE(server_.running());
    ASSERT_EQ(admin_.status(), 0);
    const int del = admin_.deleteTree(zeb_);
    ASSERT_TRUE(del == 0 || del == 32) << del;
    for (const std::string& ou : {zeb_, "OU=Elev," + zeb_, "OU=Medarbejder," + zeb_}) {
      ASSERT_EQ(admin_.addOu(ou), 0);
    }
    // The pupils' share root, readable by the domain's users.
    creds_.write("smb.cred", "username = Administrator\npassword = " + dc().adminPassword +
                                 "\ndomain = " + dc().domain + "\n");
    std::string why;
    auto creds = loadSmbCredentials(creds_.file("smb.cred"), &why);
    ASSERT_TRUE(creds) << why;
    files_ = SmbFileServer::open(*creds, &why);
    ASSERT_NE(files_, nullptr) << why;
    (void)files_->deleteShare("127.0.0.1", "haerdet1$");
    (void)files_->removeTree(kRoot);
    ASSERT_EQ(files_->makeFolder(kRoot), 0);
    ASSERT_EQ(files_->writeAccess(kRoot, {{kAdministratorsSid, kAllAccess, 3, 0}}), 0);

    // Outside /tmp: the unit's private /tmp would hide it from the program.
    fs::remove_all(work_);
    fs::create_directories(data_);
    fs::create_directories(etc_);
    fs::copy_file(dc().caFile, data_ / "ldap-ca.pem");
    fs::copy_file(server_.caFile(), data_ / "jobserver-ca.pem");
    fs::copy_file(creds_.file("smb.cred"), data_ / "smb.cred");
    writeFile(data_ / "ldap.password", dc().adminPassword);
    const std::string port = server_.host().substr(server_.host().find(':'));
    writeFile(data_ / "Tavlevagt.ini",
              utf8ToCp1252("[Tavlevagt]\r\nIDrift=Ja\r\nLogLevel=1\r\nGrupperIDrift=Nej\r\n"
                           "BrugerIdentifikation=employeeNumber\r\n"
                           "[ADsettings]\r\nLdapPath=OU=Haerdet\r\n"
                           "[FileShare]\r\nOpretShareElev=Ja\r\nHideShareElev=Ja\r\n"
                           "FileServerShareElev=" +
                           std::string(kRoot) + "\r\nFileServerPathElev=" + dc().shareRoot +
                           "/home/haerdet\r\nHomeDirDriveElev=H:\r\nFileServerCredentials=" +
                           (data_ / "smb.cred").string() +
                           "\r\n"
                           "[Profile]\r\nUserProfileShareElevCreate=Nej\r\n"
                           "[LDAP]\r\nLdapServer=" +
                           dc().uri + "\r\nLdapBind=simple\r\nLdapBindName=" + dc().adminUser +
                           "\r\nLdapPasswordFile=" + (data_ / "ldap.password").string() +
                           "\r\nLdapCaFile=" + (data_ / "ldap-ca.pem").string() +
                           "\r\n"
                           // A name, not an address: name resolution is part of the run.
                           "[Brovalt]\r\nBrovaltServer=localhost" +
                           port + "\r\nBrovaltTokenServer=localhost" + port +
                           "\r\nBrovaltCaFile=" + (data_ / "jobserver-ca.pem").string() +
                           "\r\nBrovaltPath=/api/brovalt\r\nBrovaltInstnr=280123\r\n"
                           "BrovaltVersion=v1\r\nBrovaltAuth=dGVzdDpzZWNyZXQ=\r\n"));
  }

  void TearDown() override {
    // A skipped or failed set-up may not have reached the file server.
    if (files_ != nullptr) {
      (void)files_->deleteShare("127.0.0.1", "haerdet1$");
      (void)files_->removeTree(kRoot);
    }
    (void)admin_.deleteTree(zeb_);
    fs::remove_all(work_);
    // After a share made by a process that has ended, Samba 4.17's share
    // service no longer finds the shares added later ("netsharegetinfo"
    // answers WERR_INVALID_NAME) until it starts again; the tests after
    // this one get a fresh domain controller.
    files_.reset();
    if (sharedByProgram_) {
      EXPECT_EQ(runHarness(dc(), {"stop"}), 0);
      EXPECT_EQ(runHarness(dc(), {"start"}), 0);
    }
  }

  // command inside the unit's sandbox: output and exit code.
  std::pair<std::string, int> sandboxed(const std::string& command) {
    return run(quoted(TAVLEVAGT_UNIT_SANDBOX) + " " + quoted(TAVLEVAGT_UNIT_FILE) + " " +
               quoted(TAVLEVAGT_RESTRICT_FAMILIES) + " --state-root " + quoted(work_.string()) +
               " -- " + command);
  }

  const fs::path work_ = fs::path(TAVLEVAGT_SANDBOX_WORK);
  const fs::path data_ = work_ / "tavlevagt";  // the unit's StateDirectory=tavlevagt
  const fs::path etc_ = work_ / "etc";
  const std::string zeb_ = "OU=Haerdet," + dc().baseDn;
  LocalJobServer server_;
  AdminLdap admin_{dc()};
  TempFolder creds_;
  std::unique_ptr<SmbFileServer> files_;
  bool sharedByProgram_ = false;
};

TEST_F(HardenedUnit, OneCycleReachesDirectoryFileServerAndJobServerInsideTheSandbox) {
  server_.set("list", "51");
  server_.set("job:51",
              "@*PERS\r\nhaerdet1;" + std::string(32, 'h') +
                  ";Kode1234x;Hanne;Hærdet;123;070312;7A;Vej 2;Sted;Ærø;5970;;;;7;7A\r\n");
  const std::string program = quoted(TAVLEVAGT_PROGRAM);
  const std::string config = " --config-root " + quoted(etc_.string());
  auto [installed, installRc] = run(program + config + " --unit-folder " + quoted(etc_.string()) +
                                    " -i " + quoted(data_.string()));
  ASSERT_EQ(installRc, 0) << installed;

  sharedByProgram_ = true;
  auto [console, rc] = sandboxed(program + config + " -d");
  EXPECT_EQ(rc, 0) << console;
  const std::string log = cp1252ToUtf8(readFile(data_ / "Tavlevagt.log"));
  for (const char* refused : {"** Fejl", "Read-only file system", "Permission denied",
                              "Address family not supported", "ERROR: AddressSanitizer"}) {
    EXPECT_EQ(log.find(refused), std::string::npos) << refused << " in\n" << log;
    EXPECT_EQ(console.find(refused), std::string::npos) << refused << " in\n" << console;
  }
  EXPECT_NE(log.find("   Oprettede brugeren haerdet1 \n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Flytter brovalt-51.behandler til brovalt-51.slut\n"), std::string::npos);

  // LDAP: the account with its home folder; SMB: the folder and its share;
  // HTTPS: the log went back.
  const std::string dn = "CN=haerdet1,OU=Elev," + zeb_;
  EXPECT_EQ(admin_.read(dn, "homeDirectory"),
            (std::vector<std::string>{"\\\\127.0.0.1\\haerdet1$"}));
  EXPECT_TRUE(files_->exists(std::string(kRoot) + "\\haerdet1"));
  EXPECT_EQ(files_->shareInfo("127.0.0.1", "haerdet1$").hr, kSOk);
  const auto requests = server_.requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_NE(requests.back().path.find("gemAdJobsvar"), std::string::npos);
  EXPECT_NE(requests.back().body.find("Oprettede brugeren haerdet1"), std::string::npos);
  EXPECT_NE(readFile(data_ / changeReportName("brovalt-51")).find("Elev;haerdet1;opret;"),
            std::string::npos);
}

TEST_F(HardenedUnit, EachLineOfTheSandboxBites) {
  writeFile("/tmp/tavlevagt-sandbox-probe", "the machine's /tmp");
  auto [out, rc] = sandboxed(
      "sh -c " +
      quoted("grep NoNewPrivs /proc/self/status; "
             "touch /etc/tavlevagt-probe 2>/dev/null || echo etc-read-only; "
             "touch " +
             quoted((work_ / "outside").string()) +
             " 2>/dev/null || echo beside-data-read-only; "
             "touch " +
             quoted((data_ / "inside").string()) +
             " && echo data-writable; "
             "test -e /tmp/tavlevagt-sandbox-probe || echo tmp-private; "
             "touch /tmp/x && echo tmp-writable; "
             "test -z \"$(ls -A /root)\" && echo root-empty; "
             "python3 -c 'import socket\n"
             "for f in (socket.AF_UNIX, socket.AF_INET, socket.AF_INET6, socket.AF_NETLINK,\n"
             "          socket.AF_PACKET):\n"
             "  try: socket.socket(f, socket.SOCK_DGRAM).close(); print(f.name, \"ok\")\n"
             "  except OSError as e: print(f.name, e.errno)'"));
  fs::remove("/tmp/tavlevagt-sandbox-probe");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out,
            "NoNewPrivs:\t1\n"
            "etc-read-only\n"
            "beside-data-read-only\n"
            "data-writable\n"
            "tmp-private\n"
            "tmp-writable\n"
            "root-empty\n"
            "AF_UNIX ok\nAF_INET ok\nAF_INET6 ok\n"
            "AF_NETLINK ok\nAF_PACKET 97\n");
  EXPECT_FALSE(fs::exists("/etc/tavlevagt-probe"));
}

}  // namespace
}  // namespace tv::test

// Listing users page by page through the LDAP adapter against the same paged
// listing by OpenLDAP's ldapsearch, over the same entries of the test domain
// controller, in the same run. The ratio says what the adapter adds on top of
// the protocol and the server.
//
// Needs the test domain controller running (tests/integration/samba/samba-dc.sh
// setup); its env file is found through TAVLEVAGT_SAMBA_ENV (default
// /tmp/tv-samba/dc.env). The first run fills OU=Bench with
// TAVLEVAGT_BENCH_USERS users (default 10000) by ldapadd of a generated LDIF,
// which takes minutes; later runs reuse them until the domain is reset.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "log/log.h"
#include "platform/ldap/ldap_directory.h"
#include "ports/clock.h"

extern char** environ;

namespace {

constexpr const char* kFilter = "(&(objectCategory=person)(objectClass=user)(cn=*))";
const std::vector<std::string> kAttrs = {"name", "sAMAccountName", "ADsPath", "whenChanged",
                                         "employeeNumber"};

struct Domain {
  std::map<std::string, std::string> env;
  std::string benchOu;
  int users = 10000;
  bool ok = false;
  std::string why;
  double adapterSeconds = 0;  // summed over the iterations
  int adapterRuns = 0;
  double ldapsearchSeconds = 0;
  int ldapsearchRuns = 0;
};

Domain& domain() {
  static Domain d;
  return d;
}

class NullClock : public tv::Clock {
 public:
  std::time_t now() const override { return std::time(nullptr); }
  std::tm localTime(std::time_t v) const override {
    std::tm tm{};
    localtime_r(&v, &tm);
    return tm;
  }
  bool sleepFor(std::chrono::milliseconds) override { return true; }
  void wake() override {}
};

int run(const std::vector<std::string>& argv, const std::string& out) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  envText.push_back("LDAPTLS_CACERT=" + domain().env["SAMBA_CA_FILE"]);
  envText.push_back("LDAPTLS_REQCERT=demand");
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ldapArgs(const std::string& tool) {
  Domain& d = domain();
  return {tool, "-x",
          "-H", d.env["SAMBA_URI"],
          "-D", d.env["SAMBA_ADMIN_DN"],
          "-y", d.env["SAMBA_ADMIN_PASSWORD_FILE"]};
}

int countUsers() {
  const std::string out = "/tmp/tv-bench-count.ldif";
  auto args = ldapArgs("ldapsearch");
  for (const char* a : {"-LLL", "-E", "pr=1000/noprompt", "-s", "one", "-b"}) args.push_back(a);
  args.push_back(domain().benchOu);
  args.push_back("(objectClass=user)");
  args.push_back("1.1");
  if (run(args, out) != 0) return -1;
  std::ifstream in(out);
  int n = 0;
  for (std::string line; std::getline(in, line);) n += line.rfind("dn:", 0) == 0;
  std::remove(out.c_str());
  return n;
}

// Fills OU=Bench up to the wanted number of users.
bool populate() {
  Domain& d = domain();
  int have = countUsers();
  if (have < 0) {
    const std::string ldif = "/tmp/tv-bench-ou.ldif";
    std::ofstream(ldif) << "dn: " << d.benchOu << "\nobjectClass: organizationalUnit\n\n";
    auto args = ldapArgs("ldapadd");
    args.insert(args.end(), {"-f", ldif});
    run(args, "/dev/null");
    std::remove(ldif.c_str());
    have = countUsers();
  }
  if (have >= d.users) return true;
  const std::string ldif = "/tmp/tv-bench-users.ldif";
  {
    std::ofstream out(ldif);
    char id[40];
    for (int k = have; k < d.users; ++k) {
      std::snprintf(id, sizeof id, "%032x", 0x5ca1ab1e + k);
      out << "dn: CN=bench" << k << "," << d.benchOu << "\nobjectClass: user\nsAMAccountName: bench"
          << k << "\ngivenName: Bench\nsn: Elev" << k << "\nemployeeNumber: " << id << "\n\n";
    }
  }
  std::fprintf(stderr, "populating %s with %d users (minutes)...\n", d.benchOu.c_str(),
               d.users - have);
  auto args = ldapArgs("ldapadd");
  args.insert(args.end(), {"-c", "-f", ldif});
  run(args, "/dev/null");
  std::remove(ldif.c_str());
  return countUsers() >= d.users;
}

bool prepare() {
  Domain& d = domain();
  if (d.ok) return true;
  const char* file = std::getenv("TAVLEVAGT_SAMBA_ENV");
  std::ifstream in(file ? file : "/tmp/tv-samba/dc.env");
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) d.env[line.substr(0, eq)] = line.substr(eq + 1);
  }
  if (d.env["SAMBA_URI"].empty()) {
    d.why = "no test domain controller (run tests/integration/samba/samba-dc.sh setup)";
    return false;
  }
  if (const char* n = std::getenv("TAVLEVAGT_BENCH_USERS")) d.users = std::atoi(n);
  d.benchOu = "OU=Bench," + d.env["SAMBA_BASE_DN"];
  d.ok = populate();
  if (!d.ok) d.why = "could not fill " + d.benchOu;
  return d.ok;
}

void BM_AdapterPagedUserList(benchmark::State& state) {
  if (!prepare()) {
    state.SkipWithError(domain().why.c_str());
    return;
  }
  Domain& d = domain();
  NullClock clock;
  tv::Log log(tv::Log::Options{"", "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  tv::Settings s;
  s.LdapServer = d.env["SAMBA_URI"];
  s.LdapBind = "simple";
  s.LdapBindName = d.env["SAMBA_ADMIN_DN"];
  s.LdapPasswordFile = d.env["SAMBA_ADMIN_PASSWORD_FILE"];
  s.LdapCaFile = d.env["SAMBA_CA_FILE"];
  auto dir = tv::openLdapDirectory(s, log);
  if (!dir) {
    state.SkipWithError("adapter not opened");
    return;
  }
  std::int64_t rows = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const tv::Hresult hr = dir->search(d.benchOu, kFilter, kAttrs, tv::SearchScope::kSubtree, 20,
                                       [&](const tv::SearchRow& row) {
                                         benchmark::DoNotOptimize(row.dn.size());
                                         ++rows;
                                         return true;
                                       });
    d.adapterSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++d.adapterRuns;
    if (hr != tv::kSOk) state.SkipWithError("search failed");
  }
  state.counters["users"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
  state.counters["users/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AdapterPagedUserList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_LdapsearchPagedUserList(benchmark::State& state) {
  if (!prepare()) {
    state.SkipWithError(domain().why.c_str());
    return;
  }
  Domain& d = domain();
  auto args = ldapArgs("ldapsearch");
  for (const char* a : {"-LLL", "-E", "pr=20/noprompt", "-b"}) args.push_back(a);
  args.push_back(d.benchOu);
  args.push_back(kFilter);
  for (const std::string& a : kAttrs) {
    if (a != "ADsPath") args.push_back(a);
  }
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (run(args, "/dev/null") != 0) state.SkipWithError("ldapsearch failed");
    d.ldapsearchSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++d.ldapsearchRuns;
  }
}
BENCHMARK(BM_LdapsearchPagedUserList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const Domain& d = domain();
  if (d.adapterRuns > 0 && d.ldapsearchRuns > 0) {
    std::printf("adapter / ldapsearch (mean wall time, %d users, page size 20): %.2f\n", d.users,
                (d.adapterSeconds / d.adapterRuns) / (d.ldapsearchSeconds / d.ldapsearchRuns));
  }
  return 0;
}

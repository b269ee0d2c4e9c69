// Listing users page by page through the LDAP adapter against the same paged
// listing by OpenLDAP's ldapsearch, over the same entries of the test domain
// controller, in the same run. The ratio says what the adapter adds on top of
// the protocol and the server.
//
// Needs the test domain controller running (tests/integration/samba/samba-dc.sh
// setup), found as samba_bench.h describes. The first run fills OU=Bench with
// TAVLEVAGT_BENCH_USERS users (default 10000) by ldapadd of a generated LDIF,
// which takes minutes; later runs reuse them until the domain is reset.
#include <benchmark/benchmark.h>

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
#include "samba_bench.h"
#include "support/fake_clock.h"

namespace {

constexpr const char* kFilter = "(&(objectCategory=person)(objectClass=user)(cn=*))";
const std::vector<std::string> kAttrs = {"name", "sAMAccountName", "ADsPath", "whenChanged",
                                         "employeeNumber"};

struct Domain {
  tv::bench::DomainController dc;
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

int countUsers() {
  const std::string out = "/tmp/tv-bench-count.ldif";
  if (tv::bench::runLdapTool(domain().dc, "ldapsearch",
                             {"-LLL", "-E", "pr=1000/noprompt", "-s", "one", "-b", domain().benchOu,
                              "(objectClass=user)", "1.1"},
                             out) != 0) {
    return -1;
  }
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
    (void)tv::bench::ldapaddText(d.dc, "dn: " + d.benchOu + "\nobjectClass: organizationalUnit\n\n",
                                 "/tmp/tv-bench-ou.ldif");
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
  (void)tv::bench::runLdapTool(d.dc, "ldapadd", {"-c", "-f", ldif});
  std::remove(ldif.c_str());
  return countUsers() >= d.users;
}

bool prepare() {
  Domain& d = domain();
  if (d.ok) return true;
  d.dc = tv::bench::domainController();
  if (!d.dc.ok()) {
    d.why = d.dc.why;
    return false;
  }
  if (const char* n = std::getenv("TAVLEVAGT_BENCH_USERS")) d.users = std::atoi(n);
  d.benchOu = "OU=Bench," + d.dc["SAMBA_BASE_DN"];
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
  tv::test::FakeClock clock;
  tv::Log log(tv::Log::Options{"", "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  auto dir = tv::bench::openAdminDirectory(d.dc, log);
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
  std::vector<std::string> args = {"-LLL", "-E", "pr=20/noprompt", "-b", d.benchOu};
  args.push_back(kFilter);
  for (const std::string& a : kAttrs) {
    if (a != "ADsPath") args.push_back(a);
  }
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (tv::bench::runLdapTool(d.dc, "ldapsearch", args) != 0) {
      state.SkipWithError("ldapsearch failed");
    }
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

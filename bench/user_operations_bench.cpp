// The live user operations against the memory directory: a full-list pass
// that creates n new pupils (users per second), and a pass over n matched
// pupils where nothing has changed, which must write nothing and should cost
// little more than reading each account once.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "directory/draft_directory.h"
#include "platform/memory/memory_directory.h"
#include "ports/clock.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "samba_bench.h"
#include "support/fake_clock.h"
#include "sync/sync_pass.h"
#include "text/cipher.h"
#include "text/text.h"

namespace {

using tv::test::FakeClock;

constexpr const char* kTree =
    "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
    "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";

std::string idOf(int i) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "p%031d", i);
  return std::string(buf, 32);
}

std::string login(int i) {
  return "elev" + std::to_string(i);
}

std::string pupil(int i) {
  return login(i) + ";" + idOf(i) + ";Kode1234x;Fornavn;Efternavn;" + std::to_string(1000 + i) +
         ";070312;7A;Vej;Sted;By;5970;;;;7;7A\n";
}

// An account exactly as the pass leaves it for pupil(i).
std::string account(int i) {
  const std::string cn = login(i);
  return "dn: CN=" + cn + ",OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: user\ncn: " + cn +
         "\nsAMAccountName: " + cn +
         "\nobjectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n"
         "userAccountControl: 512\npwdLastSet: 1\nemployeeNumber: " +
         idOf(i) + "\ndescription: Autooprettet af ZEB (" + std::to_string(1000 + i) +
         ")\ngivenName: Fornavn\nsn: Efternavn\ndisplayName: Fornavn Efternavn\n\n";
}

struct Bench {
  FakeClock clock;
  tv::MemoryDirectory directory;
  tv::DraftingDirectory drafts{directory};  // what the product is given, as in the service
  std::filesystem::path folder;
  tv::Log log;
  tv::Runtime rt;

  explicit Bench(const std::string& ldif)
      : directory(options(&clock)),
        folder(std::filesystem::temp_directory_path() / "tavlevagt-bench-users"),
        log(tv::Log::Options{(std::filesystem::create_directories(folder), folder.string()),
                             "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr}),
        rt(log, ports(), folder.string()) {
    if (!directory.loadLdif(ldif).empty()) std::abort();
    rt.settings.BrugerIdentifikation = "employeeNumber";
    rt.settings.LogLevel = 1;
    rt.settings.IDrift = true;
    rt.settings.BrugUuidDrift = true;
    rt.settings.ElevFelter = {
        {"givenName", "fornavn"}, {"sn", "efternavn"}, {"displayName", "NAVN"}};
    (void)log.open();
    tv::computeLocations(rt);
    tv::selectPupils(rt);
  }
  ~Bench() {
    log.release();
    std::filesystem::remove_all(folder);
  }

  static tv::MemoryDirectoryOptions options(tv::Clock* c) {
    tv::MemoryDirectoryOptions o;
    o.clock = c;
    o.indexedAttributes = {"employeeNumber"};
    return o;
  }
  tv::Ports ports() {
    tv::Ports p;
    p.directory = &drafts;
    p.clock = &clock;
    return p;
  }

  tv::PassCounts pass(const std::string& job) {
    tv::PassCounts counts;
    tv::JobReader reader(log, job, "brovalt-bench.behandler");
    tv::JobLine line;
    tv::synchronisationPass(rt, reader, line, counts);
    return counts;
  }
};

void BM_LiveCreatePass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string job;
  for (int i = 0; i < n; ++i) job += pupil(i);
  tv::PassCounts counts;
  for (auto _ : state) {
    state.PauseTiming();
    auto bench = std::make_unique<Bench>(kTree);
    state.ResumeTiming();
    counts = bench->pass(job);
    state.PauseTiming();
    if (counts.created != static_cast<std::size_t>(n) ||
        bench->directory.entryCount() < static_cast<std::size_t>(n)) {
      state.SkipWithError("not every pupil was created");
    }
    bench.reset();
    state.ResumeTiming();
  }
  state.counters["users_per_second"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LiveCreatePass)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LiveUnchangedPass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string ldif = kTree, job;
  for (int i = 0; i < n; ++i) {
    ldif += account(i);
    job += pupil(i);
  }
  Bench bench(ldif);
  const std::string before = bench.directory.saveLdif();
  for (auto _ : state) {
    auto counts = bench.pass(job);
    if (counts.updated != static_cast<std::size_t>(n)) state.SkipWithError("not all matched");
  }
  if (bench.directory.saveLdif() != before) state.SkipWithError("an unchanged pass wrote");
  state.counters["users_per_second"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LiveUnchangedPass)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);

double userSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
}

// A school of n pupils against its snapshot directory, as a school year
// turns over: half of them are matched accounts, a quarter are new pupils and
// a quarter are leavers. The first pass creates, updates and deactivates;
// the second pass with the same job finds nothing to do. With the second
// argument 1, every account is also a member of one school-wide group, as
// the groups every pupil joins make it: a leaver's move then has to find
// its place in a group as large as the school. Both passes must cost the
// same per pupil at every size, so compare the user CPU seconds of a large
// school with those of a small one, in one run of this program. peak_rss_MiB
// is the process's peak, so run one size per process to read it for that
// size.
void BM_LiveSchoolYearPass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string ldif = kTree, job;
  for (int i = 0; i < n / 2; ++i) {
    ldif += account(i);
    job += pupil(i);
  }
  for (int i = n / 2; i < n / 2 + n / 4; ++i) job += pupil(i);
  for (int i = n / 2 + n / 4; i < n; ++i) ldif += account(i);
  if (state.range(1) != 0) {
    ldif += "dn: CN=Elever,OU=ZEB,DC=skole,DC=test\nobjectClass: group\nsAMAccountName: elever\n";
    for (int i = 0; i < n; ++i) {
      const bool isNew = i >= n / 2 && i < n / 2 + n / 4;
      if (!isNew) ldif += "member: CN=" + login(i) + ",OU=Elev,OU=ZEB,DC=skole,DC=test\n";
    }
    ldif += "\n";
  }
  // The fastest of the runs: what the pass costs when the machine's other
  // work leaves it alone.
  double first = 1e9, unchanged = 1e9;
  for (auto _ : state) {
    state.PauseTiming();
    auto bench = std::make_unique<Bench>(ldif);
    state.ResumeTiming();
    const double t0 = userSeconds();
    const tv::PassCounts firstCounts = bench->pass(job);
    const double t1 = userSeconds();
    const tv::PassCounts againCounts = bench->pass(job);
    const double t2 = userSeconds();
    first = std::min(first, t1 - t0);
    unchanged = std::min(unchanged, t2 - t1);
    if (firstCounts.created != static_cast<std::size_t>(n / 4) ||
        firstCounts.deactivated != static_cast<std::size_t>(n - n / 2 - n / 4) ||
        againCounts.created != 0 ||
        againCounts.updated != static_cast<std::size_t>(n / 2 + n / 4)) {
      state.SkipWithError("the passes did not create, deactivate and match as generated");
    }
    state.PauseTiming();
    bench.reset();
    state.ResumeTiming();
  }
  state.counters["pupils"] = n;
  state.counters["first_user_s"] = first;
  state.counters["unchanged_user_s"] = unchanged;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
// Each size runs a few times and reports its fastest run, which a shared
// machine disturbs least; the largest school runs once.
BENCHMARK(BM_LiveSchoolYearPass)
    ->ArgsProduct({{2000, 4000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_LiveSchoolYearPass)
    ->ArgsProduct({{8000, 16000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_LiveSchoolYearPass)
    ->ArgsProduct({{100000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same creation pass against the test domain controller (see
// samba_bench.h). The accounts go below a fresh OU=ZEB, which is emptied
// again before each run.
void emptyContainer(tv::Directory& dir, const std::string& path) {
  auto container = dir.bind(path);
  if (!container.ok()) return;
  auto children = container.value->children("");
  if (!children.ok()) return;
  for (const std::string& child : children.value) {
    emptyContainer(dir, child);
    auto c = dir.bind(child);
    if (!c.ok()) continue;
    std::string rdn = c.value->name();
    (void)container.value->deleteChild(c.value->className(), rdn);
  }
}

// A live runtime over the test domain controller, its pupils below OU=ZEB.
struct SambaBench {
  tv::bench::DomainController dc = tv::bench::domainController();
  FakeClock clock;
  std::filesystem::path folder;
  tv::Log log;
  std::unique_ptr<tv::Directory> directory;
  std::unique_ptr<tv::DraftingDirectory> drafts;  // what the product is given, as in the service
  std::optional<tv::Runtime> rt;
  std::string base;

  explicit SambaBench(const std::string& name)
      : folder(std::filesystem::temp_directory_path() / name),
        log(tv::Log::Options{(std::filesystem::create_directories(folder), folder.string()),
                             "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr}) {
    if (!dc.ok()) return;
    directory = tv::bench::openAdminDirectory(dc, log);
    if (!directory) return;
    drafts = std::make_unique<tv::DraftingDirectory>(*directory);
    tv::Ports ports;
    ports.directory = drafts.get();
    ports.clock = &clock;
    rt.emplace(log, ports, folder.string());
    rt->settings.BrugerIdentifikation = "employeeNumber";
    rt->settings.LogLevel = 1;
    rt->settings.IDrift = true;
    rt->settings.BrugUuidDrift = true;
    rt->settings.ElevFelter = {
        {"givenName", "fornavn"}, {"sn", "efternavn"}, {"displayName", "NAVN"}};
    (void)log.open();
    base = dc["SAMBA_BASE_DN"];
  }
  ~SambaBench() {
    log.release();
    std::filesystem::remove_all(folder);
  }

  // Why the benchmark cannot run, or "".
  [[nodiscard]] std::string unusable() const {
    if (!dc.ok()) return dc.why;
    return rt ? "" : "no LDAP connection";
  }

  // OU=ZEB and OU=Elev below it, then the locations and the pupils selected.
  void ensureTree() {
    auto root = directory->bind("LDAP://" + base);
    if (auto zeb = directory->bind("LDAP://OU=ZEB," + base); !zeb.ok() && root.ok()) {
      auto ou = root.value->create("organizationalUnit", "OU=ZEB");
      if (ou.ok()) (void)ou.value->setInfo();
    }
    if (auto zeb = directory->bind("LDAP://OU=ZEB," + base); zeb.ok()) {
      auto ou = zeb.value->create("organizationalUnit", "OU=Elev");
      if (ou.ok()) (void)ou.value->setInfo();
    }
    tv::computeLocations(*rt);
    tv::selectPupils(*rt);
  }

  tv::PassCounts pass(const std::string& job) {
    tv::PassCounts counts;
    tv::JobReader reader(log, job, "brovalt-bench.behandler");
    tv::JobLine line;
    tv::synchronisationPass(*rt, reader, line, counts);
    return counts;
  }
};

std::string pupilJob(int n) {
  std::string job;
  for (int i = 0; i < n; ++i) job += pupil(i);
  return job;
}

void BM_LiveCreatePassSamba(benchmark::State& state) {
  SambaBench bench("tavlevagt-bench-users-samba");
  if (std::string why = bench.unusable(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  const int n = static_cast<int>(state.range(0));
  const std::string job = pupilJob(n);
  for (auto _ : state) {
    state.PauseTiming();
    emptyContainer(*bench.directory, "LDAP://OU=ZEB," + bench.base);
    bench.ensureTree();
    state.ResumeTiming();
    if (bench.pass(job).created != static_cast<std::size_t>(n)) {
      state.SkipWithError("not all created");
      break;
    }
  }
  emptyContainer(*bench.directory, "LDAP://OU=ZEB," + bench.base);
  state.counters["users_per_second"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LiveCreatePassSamba)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Creating n new pupils (group sync off) beside OpenLDAP's ldapadd adding
// the same accounts, enabled and with their password, one add each, in the
// same domain and the same run: ratio is the pass's rate over ldapadd's
// (1.0: as fast). Both start from an empty OU=ZEB each time.
void BM_SambaCreateVsLdapadd(benchmark::State& state) {
  SambaBench bench("tavlevagt-bench-create-ldapadd");
  if (std::string why = bench.unusable(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  const int n = static_cast<int>(state.range(0));
  const std::string job = pupilJob(n);
  const std::string elev = "OU=Elev,OU=ZEB," + bench.base;
  std::string ldif;
  for (int i = 0; i < n; ++i) {
    const std::string cn = login(i);
    ldif += "dn: CN=" + cn + "," + elev + "\nobjectClass: user\nsAMAccountName: " + cn +
            "\nemployeeNumber: " + idOf(i) + "\ndescription: Autooprettet af ZEB (" +
            std::to_string(1000 + i) +
            ")\ngivenName: Fornavn\nsn: Efternavn\ndisplayName: Fornavn Efternavn\n"
            "unicodePwd:: " +
            tv::cipher::base64Encode(tv::toUtf16le("\"Kode1234x\"")) +
            "\nuserAccountControl: 512\n\n";
  }
  const std::string file = (bench.folder / "create.ldif").string();
  std::ofstream(file, std::ios::binary) << ldif;
  double passSeconds = 0, ldapaddSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    emptyContainer(*bench.directory, "LDAP://OU=ZEB," + bench.base);
    bench.ensureTree();
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    const std::size_t created = bench.pass(job).created;
    const auto t1 = std::chrono::steady_clock::now();
    state.PauseTiming();
    if (created != static_cast<std::size_t>(n)) {
      state.SkipWithError("not all created");
      break;
    }
    emptyContainer(*bench.directory, "LDAP://OU=ZEB," + bench.base);
    bench.ensureTree();
    const auto a0 = std::chrono::steady_clock::now();
    const int rc = tv::bench::runLdapTool(bench.dc, "ldapadd", {"-f", file});
    const auto a1 = std::chrono::steady_clock::now();
    if (rc != 0 || tv::bench::accountsIn(*bench.directory, "LDAP://" + elev) != n) {
      state.SkipWithError("ldapadd did not add every account");
      break;
    }
    state.ResumeTiming();
    passSeconds += std::chrono::duration<double>(t1 - t0).count();
    ldapaddSeconds += std::chrono::duration<double>(a1 - a0).count();
  }
  emptyContainer(*bench.directory, "LDAP://OU=ZEB," + bench.base);
  const double runs = static_cast<double>(state.iterations());
  state.counters["pass_per_s"] = passSeconds > 0 ? n * runs / passSeconds : 0;
  state.counters["ldapadd_per_s"] = ldapaddSeconds > 0 ? n * runs / ldapaddSeconds : 0;
  state.counters["ratio"] = passSeconds > 0 ? ldapaddSeconds / passSeconds : 0;
}
BENCHMARK(BM_SambaCreateVsLdapadd)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(2);

// A live pass over n matched pupils on the domain controller where nothing
// has changed, beside a paged ldapsearch of the same accounts with the
// columns the pass's list search asks for. The accounts are made once by a
// creation pass (not timed) and kept for the runs that follow.
void BM_LiveUnchangedPassSamba(benchmark::State& state) {
  SambaBench bench("tavlevagt-bench-unchanged-samba");
  if (std::string why = bench.unusable(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  const int n = static_cast<int>(state.range(0));
  const std::string job = pupilJob(n);
  bench.ensureTree();
  (void)bench.pass(job);  // makes the accounts that are missing
  const std::vector<std::string> search = {"-LLL",
                                           "-b",
                                           "OU=Elev,OU=ZEB," + bench.base,
                                           "-E",
                                           "pr=20/noprompt",
                                           "(&(objectCategory=person)(objectClass=user)(cn=*))",
                                           "name",
                                           "sAMAccountName",
                                           "whenChanged",
                                           "employeeNumber",
                                           "userAccountControl",
                                           "description",
                                           "homeDirectory",
                                           "homeDrive",
                                           "profilePath",
                                           "userParameters",
                                           "mail",
                                           "homeMDB",
                                           "givenName",
                                           "sn",
                                           "displayName"};
  double passSeconds = 0, searchSeconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    auto counts = bench.pass(job);
    auto t1 = std::chrono::steady_clock::now();
    if (counts.updated != static_cast<std::size_t>(n)) {
      state.SkipWithError("not all matched");
      break;
    }
    state.PauseTiming();
    auto s0 = std::chrono::steady_clock::now();
    if (tv::bench::runLdapTool(bench.dc, "ldapsearch", search) != 0) {
      state.SkipWithError("ldapsearch failed");
    }
    auto s1 = std::chrono::steady_clock::now();
    state.ResumeTiming();
    passSeconds += std::chrono::duration<double>(t1 - t0).count();
    searchSeconds += std::chrono::duration<double>(s1 - s0).count();
  }
  state.counters["pass_s"] = passSeconds / static_cast<double>(state.iterations());
  state.counters["ldapsearch_s"] = searchSeconds / static_cast<double>(state.iterations());
  state.counters["ratio"] = searchSeconds > 0 ? passSeconds / searchSeconds : 0;
}
BENCHMARK(BM_LiveUnchangedPassSamba)
    ->Arg(500)
    ->Arg(2000)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

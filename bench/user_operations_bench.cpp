// The live user operations against the memory directory: a full-list pass
// that creates n new pupils (users per second), and a pass over n matched
// pupils where nothing has changed, which must write nothing and should cost
// little more than reading each account once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/locations.h"
#include "config/trim.h"
#include "platform/memory/memory_directory.h"
#include "ports/clock.h"
#include "service/runtime.h"
#include "sync/sync_pass.h"

namespace {

class StillClock : public tv::Clock {
 public:
  std::time_t now() const override { return 1655462572; }
  std::tm localTime(std::time_t t) const override {
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
  }
  bool sleepFor(std::chrono::milliseconds) override { return true; }
  void wake() override {}
};

constexpr const char* kTree =
    "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
    "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
    "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";

std::string idOf(int i) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "p%031d", i);
  return std::string(buf, 32);
}

std::string login(int i) { return "elev" + std::to_string(i); }

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
  StillClock clock;
  tv::MemoryDirectory directory;
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
    return o;
  }
  tv::Ports ports() {
    tv::Ports p;
    p.directory = &directory;
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

}  // namespace

BENCHMARK_MAIN();

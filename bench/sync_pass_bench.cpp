// The synchronisation pass in test mode over a large school: n pupils in the
// job against n accounts in the memory directory. Of each side half match by
// identification, a quarter pair up by login only (accounts without an
// identification yet), and a quarter are new pupils or leavers. The pass must
// stay n log n: compare the time per user at 10,000 and 100,000.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/memory/memory_directory.h"
#include "ports/clock.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "support/fake_clock.h"
#include "sync/sync_pass.h"

namespace {

using tv::test::FakeClock;

std::string idOf(const char* tag, int i) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%031d", tag, i);
  return std::string(buf, 32);
}

std::string account(const std::string& cn, const std::string& id) {
  std::string s = "dn: CN=" + cn + ",OU=Elev,OU=ZEB,DC=skole,DC=test\n" +
                  "objectClass: user\ncn: " + cn + "\nsAMAccountName: " + cn +
                  "\nobjectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n"
                  "userAccountControl: 512\n";
  if (!id.empty()) s += "employeeNumber: " + id + "\n";
  return s + "\n";
}

std::string pupil(const std::string& login, const std::string& id) {
  return login + ";" + id + ";Kode1234;Fornavn;Efternavn;123;070312;7A;Vej;Sted;By;5970;;;;7;7A\n";
}

void BM_TestModePass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string ldif =
      "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
      "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
      "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";
  std::string job;
  for (int i = 0; i < n / 2; ++i) {
    ldif += account("m" + std::to_string(i), idOf("m", i));
    job += pupil("m" + std::to_string(i), idOf("m", i));
  }
  for (int i = 0; i < n / 4; ++i) {
    ldif += account("l" + std::to_string(i), "");
    job += pupil("l" + std::to_string(i), idOf("l", i));
    ldif += account("x" + std::to_string(i), idOf("x", i));  // leavers
    job += pupil("n" + std::to_string(i), idOf("n", i));     // new pupils
  }
  FakeClock clock;
  tv::MemoryDirectoryOptions options;
  options.clock = &clock;
  options.indexedAttributes = {"employeeNumber"};
  tv::MemoryDirectory directory(options);
  if (std::string err = directory.loadLdif(ldif); !err.empty()) {
    state.SkipWithError(err.c_str());
    return;
  }
  auto folder = std::filesystem::temp_directory_path() / "tavlevagt-bench-pass";
  std::filesystem::create_directories(folder);
  tv::Log log(
      tv::Log::Options{folder.string(), "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  tv::Ports ports;
  ports.directory = &directory;
  ports.clock = &clock;
  tv::Runtime rt(log, ports, folder.string());
  rt.settings.BrugerIdentifikation = "employeeNumber";
  rt.settings.LogLevel = 1;
  (void)log.open();
  tv::computeLocations(rt);
  tv::selectPupils(rt);
  tv::PassCounts counts;
  for (auto _ : state) {
    tv::JobReader reader(log, job, "brovalt-bench.behandler");
    tv::JobLine line;
    tv::synchronisationPass(rt, reader, line, counts);
  }
  log.release();
  std::filesystem::remove_all(folder);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["users"] = n;
  state.counters["created"] = static_cast<double>(counts.created);
  state.counters["updated"] = static_cast<double>(counts.updated);
  state.counters["deactivated"] = static_cast<double>(counts.deactivated);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_TestModePass)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

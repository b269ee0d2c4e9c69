// The memory directory at a large school's size: 100,000 users. Listing
// them the way the user list reads them (paged, the list's columns) must take
// under a second; loading and saving the LDIF snapshot a few seconds. Each
// benchmark reports the process's peak memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <string>

#include "directory/hresult.h"
#include "platform/memory/memory_directory.h"

namespace {

constexpr int kUsers = 100000;
constexpr const char* kBase = "OU=Elev,OU=ZEB,DC=skole,DC=test";
constexpr const char* kFilter = "(&(objectCategory=person)(objectClass=user)(cn=*))";

double peakMib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

// A snapshot of a domain with kUsers pupils under one OU, each with the
// attributes the user list reads and a few it writes.
const std::string& snapshot() {
  static const std::string text = [] {
    std::string s = "version: 1\n\n";
    s += "dn: DC=skole,DC=test\nobjectClass: top\nobjectClass: domain\nobjectClass: domainDNS\n"
         "dc: skole\n\n";
    s += "dn: OU=ZEB,DC=skole,DC=test\nobjectClass: top\nobjectClass: organizationalUnit\n"
         "ou: ZEB\n\n";
    s += "dn: OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: top\n"
         "objectClass: organizationalUnit\nou: Elev\n\n";
    char buf[1024];
    for (int k = 0; k < kUsers; ++k) {
      std::snprintf(buf, sizeof buf,
                    "dn: CN=elev%06d,OU=Elev,OU=ZEB,DC=skole,DC=test\n"
                    "objectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
                    "objectClass: user\n"
                    "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n"
                    "cn: elev%06d\nsAMAccountName: elev%06d\ngivenName: Elev\nsn: Nummer %d\n"
                    "displayName: Elev Nummer %d\nuserAccountControl: 512\n"
                    "employeeNumber: %032d\nemployeeID: PERS_ID=%06d\n"
                    "description: Autooprettet af ZEB (%06d)\n"
                    "homeDirectory: \\\\fil\\home\\elev%06d\n"
                    "whenChanged: 20240101120000.0Z\n\n",
                    k, k, k, k, k, k, k, k, k);
      s += buf;
    }
    return s;
  }();
  return text;
}

tv::MemoryDirectory& directory() {
  static std::unique_ptr<tv::MemoryDirectory> dir = [] {
    auto d = std::make_unique<tv::MemoryDirectory>();
    const std::string error = d->loadLdif(snapshot());
    if (!error.empty()) std::fprintf(stderr, "snapshot: %s\n", error.c_str());
    return d;
  }();
  return *dir;
}

void BM_ListUsers(benchmark::State& state) {
  tv::MemoryDirectory& dir = directory();
  for (auto _ : state) {
    std::size_t rows = 0;
    const tv::Hresult hr = dir.search(
        std::string("LDAP://") + kBase, kFilter,
        {"name", "sAMAccountName", "ADsPath", "whenChanged", "employeeNumber", "employeeID"},
        tv::SearchScope::kSubtree, 20, [&](const tv::SearchRow& row) {
          rows += row.attributes.size() == 6;
          return true;
        });
    if (hr != tv::kSOk || rows != kUsers) state.SkipWithError("the list is incomplete");
    benchmark::DoNotOptimize(rows);
  }
  state.counters["users"] = kUsers;
  state.counters["peak_rss_mib"] = peakMib();
}
BENCHMARK(BM_ListUsers)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadSnapshot(benchmark::State& state) {
  const std::string& text = snapshot();
  for (auto _ : state) {
    tv::MemoryDirectory dir;
    const std::string error = dir.loadLdif(text);
    if (!error.empty()) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(dir.entryCount());
  }
  state.counters["mib"] = static_cast<double>(text.size()) / (1024.0 * 1024.0);
  state.counters["peak_rss_mib"] = peakMib();
}
BENCHMARK(BM_LoadSnapshot)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SaveSnapshot(benchmark::State& state) {
  tv::MemoryDirectory& dir = directory();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = dir.saveLdif();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["mib"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
  state.counters["peak_rss_mib"] = peakMib();
}
BENCHMARK(BM_SaveSnapshot)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();

// The group sync of a large pupil population on the memory directory:
// 10,000 pupils in 400 class groups of 25 plus two standard groups that hold
// everyone (about 30,000 memberships). BM_GroupSyncUnchanged runs the sync
// when the directory already matches the job; BM_GroupSyncFirstRun starts
// from a directory without groups, so every group and membership is made.
// A counting wrapper around the directory port reports the searches and
// binds each run costs, the figure that decides the time against a real
// domain controller.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>

#include "config/locations.h"
#include "directory/directory.h"
#include "groups/group_sync.h"
#include "platform/memory/memory_directory.h"
#include "ports/clock.h"
#include "service/runtime.h"

namespace {

constexpr int kPupils = 10000;
constexpr int kClasses = 400;

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

// Forwards to another directory and counts the calls that cost a round trip.
class CountingDirectory : public tv::Directory {
 public:
  explicit CountingDirectory(tv::Directory& inner) : inner_(inner) {}
  std::atomic<long> searches{0};
  std::atomic<long> binds{0};

  tv::DirResult<std::unique_ptr<tv::DirObject>> bind(std::string_view path) override {
    ++binds;
    return inner_.bind(path);
  }
  tv::DirResult<std::unique_ptr<tv::DirObject>> bindRow(const tv::SearchRow& row) override {
    return inner_.bindRow(row);
  }
  tv::Hresult search(std::string_view base, std::string_view filter,
                     const std::vector<std::string>& attrs, tv::SearchScope scope, int pageSize,
                     const tv::RowCallback& onRow) override {
    ++searches;
    return inner_.search(base, filter, attrs, scope, pageSize, onRow);
  }
  tv::DirResult<std::string> canonicalName(std::string_view dn) override {
    return inner_.canonicalName(dn);
  }
  std::optional<tv::DirectoryError> lastError() const override { return inner_.lastError(); }

 private:
  tv::Directory& inner_;
};

std::string pupilName(int i) {
  return "e" + std::to_string(i);
}
std::string className(int i) {
  return "klasse" + std::to_string(i % kClasses);
}

std::string tree() {
  std::string ldif = "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n";
  for (const char* ou : {"OU=ZEB", "OU=Elev,OU=ZEB", "OU=Medarbejder,OU=ZEB", "OU=Grupper,OU=ZEB",
                         "OU=Arkiv,OU=Grupper,OU=ZEB"}) {
    ldif += "dn: " + std::string(ou) + ",DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";
  }
  for (int i = 0; i < kPupils; ++i) {
    const std::string cn = pupilName(i);
    ldif += "dn: CN=" + cn + ",OU=Elev,OU=ZEB,DC=skole,DC=test\nobjectClass: user\ncn: " + cn +
            "\nsAMAccountName: " + cn +
            "\nobjectCategory: CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test\n"
            "userAccountControl: 512\n\n";
  }
  return ldif;
}

std::string group(const std::string& name, const std::vector<int>& members) {
  std::string ldif = "dn: CN=" + name +
                     ",OU=Grupper,OU=ZEB,DC=skole,DC=test\nobjectClass: group\n" +
                     "sAMAccountName: " + name + "\ndescription: Autooprettet af ZEB (E)\n" +
                     "mail: " + name + "@skole.dk\n";
  for (int m : members) {
    ldif += "member: CN=" + pupilName(m) + ",OU=Elev,OU=ZEB,DC=skole,DC=test\n";
  }
  return ldif + "\n";
}

// The directory after a first run: every class group and both standard groups filled.
std::string matchingGroups() {
  std::string ldif;
  std::vector<std::vector<int>> classes(kClasses);
  std::vector<int> everyone;
  for (int i = 0; i < kPupils; ++i) {
    classes[i % kClasses].push_back(i);
    everyone.push_back(i);
  }
  for (int c = 0; c < kClasses; ++c) ldif += group(className(c), classes[c]);
  ldif += group("Elever", everyone);
  ldif += group("Alle", everyone);
  return ldif;
}

std::string job() {
  std::string text;
  for (int i = 0; i < kPupils; ++i) {
    text += pupilName(i) + ";" + std::string(32, 'b') + ";Kode1;F;E;2;010110;" + className(i) +
            ";;;;;;;;;\n";
  }
  return text;
}

struct Bench {
  StillClock clock;
  tv::MemoryDirectory memory;
  CountingDirectory counting{memory};
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "tavlevagt-bench-groups";
  std::unique_ptr<tv::Log> log;
  std::unique_ptr<tv::Runtime> rt;

  explicit Bench(const std::string& ldif)
      : memory(tv::MemoryDirectoryOptions{"DC=skole,DC=test", false, "", &clock}) {
    if (std::string err = memory.loadLdif(ldif); !err.empty())
      std::fprintf(stderr, "%s\n", err.c_str());
    std::filesystem::create_directories(folder);
    log = std::make_unique<tv::Log>(tv::Log::Options{folder.string(), "Tavlevagt.log", &clock,
                                                     nullptr, nullptr, false, stderr});
    tv::Ports ports;
    ports.directory = &counting;
    ports.clock = &clock;
    rt = std::make_unique<tv::Runtime>(*log, ports, folder.string());
    rt->settings.LogLevel = 0;
    rt->settings.IDrift = true;
    rt->settings.GroupListElev = "Elever:Alle";
    rt->settings.GruppeMail = "@skole.dk";
    (void)log->open();
    tv::computeLocations(*rt);
  }
  ~Bench() {
    log->release();
    std::filesystem::remove_all(folder);
  }
  void run(const std::string& text) {
    tv::JobReader reader(*log, text, "brovalt-bench.behandler");
    tv::groupSync(*rt, reader, false);
  }
};

void report(benchmark::State& state, Bench& b, long runs) {
  state.counters["searches_per_run"] = static_cast<double>(b.counting.searches) / runs;
  state.counters["binds_per_run"] = static_cast<double>(b.counting.binds) / runs;
  state.counters["log_bytes"] =
      static_cast<double>(std::filesystem::file_size(b.folder / "Tavlevagt.log"));
}

void BM_GroupSyncUnchanged(benchmark::State& state) {
  Bench b(tree() + matchingGroups());
  const std::string text = job();
  long runs = 0;
  for (auto _ : state) {
    b.run(text);
    ++runs;
  }
  report(state, b, runs);
}
BENCHMARK(BM_GroupSyncUnchanged)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_GroupSyncFirstRun(benchmark::State& state) {
  const std::string ldif = tree();
  const std::string text = job();
  long runs = 0;
  long searches = 0;
  long binds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto b = std::make_unique<Bench>(ldif);
    state.ResumeTiming();
    b->run(text);
    state.PauseTiming();
    ++runs;
    searches += b->counting.searches;
    binds += b->counting.binds;
    b.reset();
    state.ResumeTiming();
  }
  state.counters["searches_per_run"] = static_cast<double>(searches) / runs;
  state.counters["binds_per_run"] = static_cast<double>(binds) / runs;
}
BENCHMARK(BM_GroupSyncFirstRun)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

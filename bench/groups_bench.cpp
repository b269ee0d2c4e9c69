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
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "config/locations.h"
#include "directory/directory.h"
#include "groups/group_sync.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/memory/memory_directory.h"
#include "ports/clock.h"
#include "service/runtime.h"
#include "text/text.h"
#include "still_clock.h"

namespace {

constexpr int kPupils = 10000;
constexpr int kClasses = 400;

using tv::bench::StillClock;

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

// Against the test domain controller (TAVLEVAGT_SAMBA_ENV names its env
// file; without it these skip): a smaller school of kSambaPupils pupils in
// kSambaClasses classes plus the two standard groups, since adding users to
// a domain controller runs at some tens a second. The first run creates
// every group and membership, the next finds nothing to do; a paged
// ldapsearch of the same users with memberOf is the yardstick.
constexpr int kSambaPupils = 1000;
constexpr int kSambaClasses = 40;
constexpr const char* kSambaSystem = "OU=GrpBench";

std::map<std::string, std::string> sambaEnv() {
  std::map<std::string, std::string> env;
  const char* file = std::getenv("TAVLEVAGT_SAMBA_ENV");
  if (file == nullptr) return env;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    auto eq = line.find('=');
    if (eq != std::string::npos) env[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return env;
}

void deleteTree(tv::Directory& dir, const std::string& path) {
  auto object = dir.bind(path);
  if (!object.ok()) return;
  auto children = object.value->children("");
  if (children.ok()) {
    for (const std::string& child : children.value) deleteTree(dir, child);
  }
  auto parent = dir.bind(object.value->parent());
  if (parent.ok()) (void)parent.value->deleteChild(object.value->className(), object.value->name());
}

struct SambaSchool {
  std::map<std::string, std::string> env = sambaEnv();
  StillClock clock;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "tavlevagt-bench-samba";
  std::unique_ptr<tv::Log> log;
  std::unique_ptr<tv::Directory> ldap;
  std::unique_ptr<CountingDirectory> counting;
  std::unique_ptr<tv::Runtime> rt;
  std::string text;
  std::string error;

  SambaSchool() {
    if (env.empty()) {
      error = "TAVLEVAGT_SAMBA_ENV names no test domain controller";
      return;
    }
    std::filesystem::create_directories(folder);
    log = std::make_unique<tv::Log>(tv::Log::Options{folder.string(), "Tavlevagt.log", &clock,
                                                     nullptr, nullptr, false, stderr});
    tv::Settings s;
    s.LdapServer = env["SAMBA_URI"];
    s.LdapBind = "simple";
    s.LdapBindName = env["SAMBA_ADMIN_DN"];
    s.LdapPasswordFile = env["SAMBA_ADMIN_PASSWORD_FILE"];
    s.LdapCaFile = env["SAMBA_CA_FILE"];
    ldap = tv::openLdapDirectory(s, *log);
    if (!ldap) {
      error = "no LDAP directory";
      return;
    }
    counting = std::make_unique<CountingDirectory>(*ldap);
    tv::Ports ports;
    ports.directory = counting.get();
    ports.clock = &clock;
    rt = std::make_unique<tv::Runtime>(*log, ports, folder.string());
    rt->settings.LdapPath = kSambaSystem;
    rt->settings.LogLevel = 0;
    rt->settings.IDrift = true;
    rt->settings.GroupListElev = "gb-Elever:gb-Alle";
    rt->settings.GruppeMail = "@skole.test";
    (void)log->open();
    tv::computeLocations(*rt);

    const std::string base = std::string(kSambaSystem) + "," + env["SAMBA_BASE_DN"];
    deleteTree(*ldap, "LDAP://" + base);
    auto domain = ldap->bind("LDAP://" + env["SAMBA_BASE_DN"]);
    auto ou = domain.value->create("organizationalUnit", kSambaSystem);
    (void)ou.value->setInfo();
    auto system = ldap->bind("LDAP://" + base);
    for (const char* name : {"OU=Elev", "OU=Medarbejder", "OU=Grupper"}) {
      auto child = system.value->create("organizationalUnit", name);
      (void)child.value->setInfo();
    }
    auto pupils = ldap->bind("LDAP://OU=Elev," + base);
    for (int i = 0; i < kSambaPupils; ++i) {
      const std::string cn = "gb-e" + std::to_string(i);
      auto user = pupils.value->create("user", "CN=" + cn);
      (void)user.value->put("sAMAccountName", cn);
      if (tv::Hresult hr = user.value->setInfo(); hr < 0 && error.empty()) {
        auto why = ldap->lastError();
        error = tv::format("could not add %s: 0x%X %s", cn.c_str(), static_cast<unsigned>(hr),
                           why ? why->text.c_str() : "");
      }
      text += cn + ";" + std::string(32, 'b') + ";Kode1;F;E;2;010110;gb-klasse" +
              std::to_string(i % kSambaClasses) + ";;;;;;;;;\n";
    }
  }
  ~SambaSchool() {
    if (ldap) deleteTree(*ldap, "LDAP://" + std::string(kSambaSystem) + "," + env["SAMBA_BASE_DN"]);
    if (log) log->release();
    std::filesystem::remove_all(folder);
  }
  void run() {
    tv::JobReader reader(*log, text, "brovalt-bench.behandler");
    tv::groupSync(*rt, reader, false);
  }
};

SambaSchool& sambaSchool() {
  static SambaSchool school;
  return school;
}

void sambaRun(benchmark::State& state) {
  SambaSchool& school = sambaSchool();
  if (!school.error.empty()) {
    state.SkipWithError(school.error.c_str());
    return;
  }
  const long searches = school.counting->searches;
  const long binds = school.counting->binds;
  long runs = 0;
  for (auto _ : state) {
    school.run();
    ++runs;
  }
  state.counters["searches_per_run"] =
      static_cast<double>(school.counting->searches - searches) / runs;
  state.counters["binds_per_run"] = static_cast<double>(school.counting->binds - binds) / runs;
}

// Registered in this order: the first run fills the groups the next finds.
void BM_SambaGroupSyncFirstRun(benchmark::State& state) {
  sambaRun(state);
}
BENCHMARK(BM_SambaGroupSyncFirstRun)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_SambaGroupSyncUnchanged(benchmark::State& state) {
  sambaRun(state);
}
BENCHMARK(BM_SambaGroupSyncUnchanged)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SambaPagedLdapsearch(benchmark::State& state) {
  SambaSchool& school = sambaSchool();
  if (!school.error.empty()) {
    state.SkipWithError(school.error.c_str());
    return;
  }
  auto& env = school.env;
  const std::string command =
      "LDAPTLS_CACERT='" + env["SAMBA_CA_FILE"] + "' ldapsearch -LLL -x -H '" + env["SAMBA_URI"] +
      "' -D '" + env["SAMBA_ADMIN_DN"] + "' -y '" + env["SAMBA_ADMIN_PASSWORD_FILE"] +
      "' -E pr=20/noprompt -b 'OU=Elev," + std::string(kSambaSystem) + "," + env["SAMBA_BASE_DN"] +
      "' '(objectClass=user)' name memberOf > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("ldapsearch failed");
  }
}
BENCHMARK(BM_SambaPagedLdapsearch)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

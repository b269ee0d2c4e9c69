// The group sync of a large pupil population on the memory directory:
// 10,000 pupils in 400 class groups of 25 plus two standard groups that hold
// everyone (about 30,000 memberships). BM_GroupSyncUnchanged runs the sync
// when the directory already matches the job; BM_GroupSyncFirstRun starts
// from a directory without groups, so every group and membership is made.
// BM_GroupSyncRemoves starts from the matching directory with a job that no
// longer names the standard group Alle, so every pupil leaves it.
// A counting wrapper around the directory port reports the searches and
// binds each run costs, the figure that decides the time against a real
// domain controller.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "../tests/support/counting_directory.h"
#include "directory/directory.h"
#include "groups/group_sync.h"
#include "platform/memory/memory_directory.h"
#include "ports/clock.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "samba_bench.h"
#include "support/fake_clock.h"
#include "text/text.h"

namespace {

constexpr int kPupils = 10000;
constexpr int kClasses = 400;

using tv::test::CountingDirectory;
using tv::test::FakeClock;

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
  FakeClock clock;
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

void report(benchmark::State& state, const tv::test::DirectoryCounts& c, long runs) {
  state.counters["searches_per_run"] = static_cast<double>(c.searches) / runs;
  state.counters["rows_per_run"] = static_cast<double>(c.searchRows) / runs;
  state.counters["binds_per_run"] = static_cast<double>(c.binds) / runs;
  // Member adds and removes, moves and deletes; commits are setInfo calls
  // (an object's creation among them).
  state.counters["changes_per_run"] = static_cast<double>(c.changes) / runs;
  state.counters["commits_per_run"] = static_cast<double>(c.commits) / runs;
}

void BM_GroupSyncUnchanged(benchmark::State& state) {
  Bench b(tree() + matchingGroups());
  const std::string text = job();
  long runs = 0;
  for (auto _ : state) {
    b.run(text);
    ++runs;
  }
  report(state, b.counting.counts(), runs);
}
BENCHMARK(BM_GroupSyncUnchanged)->Unit(benchmark::kMillisecond)->Iterations(3);

// Runs the job once per iteration on a school made afresh from ldif
// (untimed, as is prepare) and reports the directory work summed over them.
void runOnFreshSchools(benchmark::State& state, const std::string& ldif,
                       const std::function<void(Bench&)>& prepare = {}) {
  const std::string text = job();
  long runs = 0;
  tv::test::DirectoryCounts sum;
  for (auto _ : state) {
    state.PauseTiming();
    auto b = std::make_unique<Bench>(ldif);
    if (prepare) prepare(*b);
    state.ResumeTiming();
    b->run(text);
    state.PauseTiming();
    ++runs;
    sum += b->counting.counts();
    b.reset();
    state.ResumeTiming();
  }
  report(state, sum, runs);
}

void BM_GroupSyncFirstRun(benchmark::State& state) {
  runOnFreshSchools(state, tree());
}
BENCHMARK(BM_GroupSyncFirstRun)->Unit(benchmark::kMillisecond)->Iterations(1);

// The end of a school year: the job no longer names the standard group Alle,
// so each of the 10,000 pupils leaves it (10,000 removes from one group,
// the other memberships unchanged). changes_per_run counts the member
// changes sent: one per batch of removes rather than one per membership.
void BM_GroupSyncRemoves(benchmark::State& state) {
  runOnFreshSchools(state, tree() + matchingGroups(),
                    [](Bench& b) { b.rt->settings.GroupListElev = "Elever"; });
}
BENCHMARK(BM_GroupSyncRemoves)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same school against the test domain controller (see samba_bench.h;
// without one these skip). TAVLEVAGT_BENCH_GROUP_PUPILS sets its size
// (default 10,000, in classes of 25). The pupils are filled by ldapadd below
// OU=GrpBench<n> (minutes at this size) and the groups are left in place, so
// a later run reuses both. The first run empties the groups container and
// creates every group and membership; the unchanged run first brings the
// groups in step untimed (a no-op after the first run), so it can also run
// alone. A paged ldapsearch of the same users with memberOf is the yardstick.
struct SambaSchool {
  tv::bench::DomainController dc = tv::bench::domainController();
  int pupils = 10000;
  FakeClock clock;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "tavlevagt-bench-samba";
  std::unique_ptr<tv::Log> log;
  std::unique_ptr<tv::Directory> ldap;
  std::unique_ptr<CountingDirectory> counting;
  std::unique_ptr<tv::Runtime> rt;
  std::string system;  // the system container's DN
  std::string text;
  std::string firstRunLdif;  // the first run's changes for ldapmodify, one membership each
  std::string removalLdif;   // every pupil out of both standard groups, one membership per modify
  std::string error;

  SambaSchool() {
    if (!dc.ok()) {
      error = dc.why;
      return;
    }
    if (const char* n = std::getenv("TAVLEVAGT_BENCH_GROUP_PUPILS")) pupils = std::atoi(n);
    if (pupils < 1) pupils = 1;
    const int classes = pupils < 25 ? 1 : pupils / 25;
    const std::string root = "OU=GrpBench" + std::to_string(pupils);
    system = root + "," + dc["SAMBA_BASE_DN"];
    std::filesystem::create_directories(folder);
    log = std::make_unique<tv::Log>(tv::Log::Options{folder.string(), "Tavlevagt.log", &clock,
                                                     nullptr, nullptr, false, stderr});
    ldap = tv::bench::openAdminDirectory(dc, *log);
    if (!ldap) {
      error = "the LDAP directory cannot be opened (see the log)";
      return;
    }

    // Logins carry the size: sAMAccountName is unique domain-wide.
    std::string ldif = "dn: " + system + "\nobjectClass: organizationalUnit\n\n";
    for (const char* ou : {"OU=Elev,", "OU=Medarbejder,"}) {
      ldif += "dn: " + std::string(ou) + system + "\nobjectClass: organizationalUnit\n\n";
    }
    std::map<std::string, std::vector<std::string>> members;  // group -> member DNs
    for (int i = 0; i < pupils; ++i) {
      const std::string cn = "g" + std::to_string(pupils) + "_" + std::to_string(i);
      const std::string dn = "CN=" + cn + ",OU=Elev," + system;
      for (const std::string& g : {std::string("gb-alle"), std::string("gb-elever"),
                                   "gb-klasse" + std::to_string(i % classes)}) {
        members[g].push_back(dn);
      }
      ldif += "dn: " + dn + "\nobjectClass: user\nsAMAccountName: " + cn + "\n\n";
      text += cn + ";" + std::string(32, 'b') + ";Kode1;F;E;2;010110;gb-klasse" +
              std::to_string(i % classes) + ";;;;;;;;;\n";
    }
    for (const auto& [name, dns] : members) {
      const std::string dn = "CN=" + name + ",OU=Grupper," + system;
      firstRunLdif += "dn: " + dn +
                      "\nchangetype: add\nobjectClass: group\nsAMAccountName: " + name +
                      "\ndescription: Autooprettet af ZEB (E)\nmail: " + name + "@skole.test\n\n";
      for (const std::string& m : dns) {
        firstRunLdif += "dn: " + dn + "\nchangetype: modify\nadd: member\nmember: " + m + "\n-\n\n";
        if (name == "gb-alle" || name == "gb-elever") {
          removalLdif +=
              "dn: " + dn + "\nchangetype: modify\ndelete: member\nmember: " + m + "\n-\n\n";
        }
      }
    }
    const std::string elev = "OU=Elev," + system;
    if (tv::bench::accountsIn(*ldap, elev) != pupils) {
      std::fprintf(stderr, "filling %s with %d pupils (minutes) ...\n", elev.c_str(), pupils);
      (void)tv::bench::ldapaddText(dc, ldif, (folder / "pupils.ldif").string());
      if (const long found = tv::bench::accountsIn(*ldap, elev); found != pupils) {
        error = elev + " holds " + std::to_string(found) + " accounts, not " +
                std::to_string(pupils) + " (ldapadd failed?)";
        return;
      }
    }

    // The groups container, for runs without the first run's bench.
    (void)tv::bench::ldapaddText(
        dc, "dn: OU=Grupper," + system + "\nobjectClass: organizationalUnit\n\n",
        (folder / "groups.ldif").string());

    counting = std::make_unique<CountingDirectory>(*ldap);
    tv::Ports ports;
    ports.directory = counting.get();
    ports.clock = &clock;
    rt = std::make_unique<tv::Runtime>(*log, ports, folder.string());
    rt->settings.LdapPath = root;
    rt->settings.LogLevel = 0;
    rt->settings.IDrift = true;
    rt->settings.GroupListElev = "gb-Elever:gb-Alle";
    rt->settings.GruppeMail = "@skole.test";
    (void)log->open();
    tv::computeLocations(*rt);
  }
  ~SambaSchool() {
    if (log) log->release();
    std::filesystem::remove_all(folder);
  }
  void emptyGroups() {
    const std::string groups = "OU=Grupper," + system;
    tv::bench::deleteTree(*ldap, "LDAP://" + groups);
    (void)tv::bench::ldapaddText(dc, "dn: " + groups + "\nobjectClass: organizationalUnit\n\n",
                                 (folder / "groups.ldif").string());
  }
  void run() {
    tv::JobReader reader(*log, text, "brovalt-bench.behandler");
    tv::groupSync(*rt, reader, false);
  }
  // The job's standard groups; without them every pupil leaves both.
  void standardGroups(bool named) { rt->settings.GroupListElev = named ? "gb-Elever:gb-Alle" : ""; }
};

SambaSchool& sambaSchool() {
  static SambaSchool school;
  return school;
}

void sambaRun(benchmark::State& state, bool fromEmpty) {
  SambaSchool& school = sambaSchool();
  if (!school.error.empty()) {
    state.SkipWithError(school.error.c_str());
    return;
  }
  if (fromEmpty) {
    school.emptyGroups();
  } else {
    school.run();
  }
  school.counting->reset();
  long runs = 0;
  for (auto _ : state) {
    school.run();
    ++runs;
  }
  report(state, school.counting->counts(), runs);
  state.counters["pupils"] = school.pupils;
}

// Registered in this order: the first run fills the groups the next finds.
void BM_SambaGroupSyncFirstRun(benchmark::State& state) {
  sambaRun(state, true);
}
BENCHMARK(BM_SambaGroupSyncFirstRun)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_SambaGroupSyncUnchanged(benchmark::State& state) {
  sambaRun(state, false);
}
BENCHMARK(BM_SambaGroupSyncUnchanged)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SambaPagedLdapsearch(benchmark::State& state) {
  SambaSchool& school = sambaSchool();
  if (!school.error.empty()) {
    state.SkipWithError(school.error.c_str());
    return;
  }
  for (auto _ : state) {
    if (tv::bench::runLdapTool(school.dc, "ldapsearch",
                               {"-LLL", "-E", "pr=20/noprompt", "-b", "OU=Elev," + school.system,
                                "(objectClass=user)", "name", "memberOf"}) != 0) {
      state.SkipWithError("ldapsearch failed");
    }
  }
}
BENCHMARK(BM_SambaPagedLdapsearch)->Unit(benchmark::kMillisecond)->Iterations(3);

// The yardstick of the first run: OpenLDAP's ldapmodify making the same
// groups and memberships from empty, one membership per modify as the sync
// makes them. It leaves the groups as a first run does.
void BM_SambaLdapmodifyFirstRun(benchmark::State& state) {
  SambaSchool& school = sambaSchool();
  if (!school.error.empty()) {
    state.SkipWithError(school.error.c_str());
    return;
  }
  const std::string file = (school.folder / "first-run.ldif").string();
  std::ofstream(file, std::ios::binary) << school.firstRunLdif;
  for (auto _ : state) {
    state.PauseTiming();
    school.emptyGroups();
    state.ResumeTiming();
    if (tv::bench::runLdapTool(school.dc, "ldapmodify", {"-f", file}) != 0) {
      state.SkipWithError("ldapmodify failed");
    }
  }
  std::remove(file.c_str());
}
BENCHMARK(BM_SambaLdapmodifyFirstRun)->Unit(benchmark::kMillisecond)->Iterations(1);

// The end of a school year: the job names no standard group, so every pupil
// leaves gb-alle and gb-elever (two memberships per pupil: 10,000 with
// TAVLEVAGT_BENCH_GROUP_PUPILS=5000), the class groups unchanged; the
// unchanged run is the part of this time that is not the removes. The
// standard groups are filled again first, untimed, by a run that names them.
void BM_SambaGroupSyncRemoves(benchmark::State& state) {
  SambaSchool& school = sambaSchool();
  if (!school.error.empty()) {
    state.SkipWithError(school.error.c_str());
    return;
  }
  long runs = 0;
  tv::test::DirectoryCounts sum;
  for (auto _ : state) {
    state.PauseTiming();
    school.standardGroups(true);
    school.run();
    school.standardGroups(false);
    school.counting->reset();
    state.ResumeTiming();
    school.run();
    state.PauseTiming();
    ++runs;
    sum += school.counting->counts();
    state.ResumeTiming();
  }
  school.standardGroups(true);
  report(state, sum, runs);
  state.counters["pupils"] = school.pupils;
}
BENCHMARK(BM_SambaGroupSyncRemoves)->Unit(benchmark::kMillisecond)->Iterations(1);

// The yardstick of the removes: ldapmodify taking every pupil out of both
// standard groups, one membership per modify as the sync removed them one
// by one.
void BM_SambaLdapmodifyRemoves(benchmark::State& state) {
  SambaSchool& school = sambaSchool();
  if (!school.error.empty()) {
    state.SkipWithError(school.error.c_str());
    return;
  }
  const std::string file = (school.folder / "removes.ldif").string();
  std::ofstream(file, std::ios::binary) << school.removalLdif;
  for (auto _ : state) {
    state.PauseTiming();
    school.standardGroups(true);
    school.run();
    state.ResumeTiming();
    if (tv::bench::runLdapTool(school.dc, "ldapmodify", {"-f", file}) != 0) {
      state.SkipWithError("ldapmodify failed");
    }
  }
  std::remove(file.c_str());
  state.counters["pupils"] = school.pupils;
}
BENCHMARK(BM_SambaLdapmodifyRemoves)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

// The synchronisation pass in test mode against a real domain controller:
// n pupils in the job against n accounts in the test Samba AD domain, over
// the LDAP adapter. Of each side half match by identification, a quarter
// pair up by login only (accounts without an identification yet), and a
// quarter are new pupils or leavers. Besides the time, it counts what the
// pass asks of the directory: the searches must be a fixed number, the same
// for 1,000 and 10,000 pupils, never one per user.
//
// Run by hand, not in CI, as root, from the source tree after building with
// -DTAVLEVAGT_BENCH=ON (the domain controller is the one the Samba tests use):
//
//   tests/integration/samba/samba-dc.sh run plain -- <build>/bench/sync_pass_samba_bench
//
// The first run fills the domain (OU=Bench1000 and OU=Bench10000 below the
// domain root) through ldapadd, about 11,000 adds: several minutes. Later runs
// find the accounts there and reuse them; a domain reset (the tests switch
// schema variants) empties it again and the next run fills it anew.
// TAVLEVAGT_SAMBA_ENV names the domain controller's env file as for the tests.
// The time of a pass on a busy machine varies several-fold; the counts do not,
// and they are the point: searches stay 1 and binds, commits and changes 0
// (test mode) at both sizes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/counting_directory.h"
#include "platform/memory/ldif.h"
#include "ports/clock.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "samba_bench.h"
#include "support/fake_clock.h"
#include "sync/sync_pass.h"
#include "users/user_queries.h"

namespace {

namespace fs = std::filesystem;
using tv::test::FakeClock;

// Identifications and logins carry n, so the two populations never collide
// in the domain-wide unique sAMAccountName.
std::string idOf(char tag, int n, int i) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%c%07d%024d", tag, n, i);
  return std::string(buf, 32);
}

std::string loginOf(char tag, int n, int i) {
  return std::string(1, tag) + std::to_string(n) + "_" + std::to_string(i);
}

// An enabled account needs a password on AD; it goes in the same add.
std::string account(const std::string& container, const std::string& login, const std::string& id) {
  static const std::string kPassword = [] {
    std::string utf16;
    for (char c : std::string("\"Bench#2024x\"")) {
      utf16 += c;
      utf16 += '\0';
    }
    return tv::memdir::base64Encode(utf16);
  }();
  std::string s =
      "dn: CN=" + login + "," + container + "\nobjectClass: user\nsAMAccountName: " + login + "\n";
  if (!id.empty()) s += "employeeNumber: " + id + "\n";
  return s + "unicodePwd:: " + kPassword + "\nuserAccountControl: 512\n\n";
}

std::string pupil(const std::string& login, const std::string& id) {
  return login + ";" + id + ";Kode1234;Fornavn;Efternavn;123;070312;7A;Vej;Sted;By;5970;;;;7;7A\n";
}

struct School {
  std::string root;  // "OU=Bench10000"
  std::string elev;  // its pupils' container DN
  std::string ldif;  // the accounts, containers first
  std::string job;   // the pass's records
};

School school(int n, const std::string& baseDn) {
  School s;
  s.root = "OU=Bench" + std::to_string(n);
  const std::string zeb = s.root + "," + baseDn;
  s.elev = "OU=Elev," + zeb;
  s.ldif = "dn: " + zeb + "\nobjectClass: organizationalUnit\n\n" + "dn: " + s.elev +
           "\nobjectClass: organizationalUnit\n\n";
  for (int i = 0; i < n / 2; ++i) {
    s.ldif += account(s.elev, loginOf('m', n, i), idOf('m', n, i));
    s.job += pupil(loginOf('m', n, i), idOf('m', n, i));
  }
  for (int i = 0; i < n / 4; ++i) {
    s.ldif += account(s.elev, loginOf('l', n, i), "");
    s.job += pupil(loginOf('l', n, i), idOf('l', n, i));
    s.ldif += account(s.elev, loginOf('x', n, i), idOf('x', n, i));  // leavers
    s.job += pupil(loginOf('n', n, i), idOf('n', n, i));             // new pupils
  }
  return s;
}

void BM_SambaTestModePass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const tv::bench::DomainController dc = tv::bench::domainController();
  if (!dc.ok()) {
    state.SkipWithError(dc.why.c_str());
    return;
  }
  const fs::path folder =
      fs::temp_directory_path() / ("tavlevagt-bench-samba-" + std::to_string(n));
  fs::create_directories(folder);
  FakeClock clock;
  tv::Log log(
      tv::Log::Options{folder.string(), "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  std::unique_ptr<tv::Directory> ldap = tv::bench::openAdminDirectory(dc, log);
  if (!ldap) {
    state.SkipWithError("the LDAP directory cannot be opened (see the log)");
    return;
  }

  const School s = school(n, dc["SAMBA_BASE_DN"]);
  if (tv::bench::accountsIn(*ldap, s.elev) != n) {
    std::fprintf(stderr, "filling %s with %d accounts …\n", s.elev.c_str(), n);
    (void)tv::bench::ldapaddText(dc, s.ldif, (folder / "accounts.ldif").string());
    if (const long found = tv::bench::accountsIn(*ldap, s.elev); found != n) {
      const std::string text = s.elev + " holds " + std::to_string(found) + " accounts, not " +
                               std::to_string(n) + " (ldapadd failed?)";
      state.SkipWithError(text.c_str());
      return;
    }
  }

  tv::test::CountingDirectory directory(*ldap);
  tv::Ports ports;
  ports.directory = &directory;
  ports.clock = &clock;
  tv::Runtime rt(log, ports, folder.string());
  rt.settings.BrugerIdentifikation = "employeeNumber";
  rt.settings.LdapPath = s.root;
  rt.settings.LogLevel = 1;
  rt.settings.IDrift = false;
  (void)log.open();
  tv::computeLocations(rt);
  tv::selectPupils(rt);
  tv::PassCounts counts;
  directory.reset();
  for (auto _ : state) {
    tv::JobReader reader(log, s.job, "brovalt-bench.behandler");
    tv::JobLine line;
    tv::synchronisationPass(rt, reader, line, counts);
  }
  // The user list on its own, beside a paged ldapsearch of the same
  // container with the same columns, in the same run (straight to the
  // adapter, so the pass's counts above stay its own).
  rt.ports.directory = ldap.get();
  const auto l0 = std::chrono::steady_clock::now();
  const std::size_t listed = tv::GetADBrugerListe(rt, rt.trim.ldapPath, true, {}).users.size();
  const auto l1 = std::chrono::steady_clock::now();
  const int searched = tv::bench::runLdapTool(
      dc, "ldapsearch",
      {"-LLL", "-b", s.elev, "-E", "pr=20/noprompt",
       "(&(objectCategory=person)(objectClass=user)(cn=*))", "name", "sAMAccountName",
       "whenChanged", "employeeNumber", "userAccountControl", "description", "homeDirectory",
       "homeDrive", "profilePath", "userParameters", "mail", "homeMDB"});
  const auto l2 = std::chrono::steady_clock::now();
  const double listSeconds = std::chrono::duration<double>(l1 - l0).count();
  const double searchSeconds = std::chrono::duration<double>(l2 - l1).count();
  state.counters["list_users"] = static_cast<double>(listed);
  state.counters["list_s"] = listSeconds;
  state.counters["ldapsearch_s"] = searched == 0 ? searchSeconds : -1;
  state.counters["list_ratio"] =
      searched == 0 && searchSeconds > 0 ? listSeconds / searchSeconds : -1;
  log.release();
  fs::remove_all(folder);
  const tv::test::DirectoryCounts c = directory.counts();
  state.counters["users"] = n;
  state.counters["searches"] = static_cast<double>(c.searches);
  state.counters["search_rows"] = static_cast<double>(c.searchRows);
  state.counters["binds"] = static_cast<double>(c.binds);
  state.counters["row_binds"] = static_cast<double>(c.rowBinds);
  state.counters["commits"] = static_cast<double>(c.commits);
  state.counters["changes"] = static_cast<double>(c.changes);
  state.counters["created"] = static_cast<double>(counts.created);
  state.counters["updated"] = static_cast<double>(counts.updated);
  state.counters["deactivated"] = static_cast<double>(counts.deactivated);
}
BENCHMARK(BM_SambaTestModePass)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

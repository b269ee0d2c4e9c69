// The job scenarios under Wine against the test domain controller through
// the wldap32 adapter, as the Linux adapter runs them
// (tests/integration/scenario): each data folder's snapshot is loaded into
// the domain through the adapter, one cycle runs over it, and the job's log,
// the domain afterwards and the change reports must read as the folder's
// expected files, the same files the memory directory and the Linux adapter
// are held to. The domain and the expected directory are compared
// normalised alike (integration/scenario/normalised_tree.h).
//
// The school's subtree (OU=ZEB) is cleared and filled for every scenario, so
// nothing else may write there while this runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "integration/scenario/normalised_tree.h"
#include "integration/scenario/snapshot_loader.h"
#include "platform/memory/memory_directory.h"
#include "platform/windows/wldap32_directory.h"
#include "scenario/jobs/scenario.h"
#include "windows/samba_domain.h"

namespace tv::wintest {
namespace {
namespace fs = std::filesystem;
using test::ScenarioBackend;
using test::ScenarioOutcome;

const SambaDomain& dc() {
  static const std::optional<SambaDomain> domain = [] {
    std::string why;
    auto d = loadSambaDomain(&why);
    if (!d) {
      std::fprintf(stderr, "%s\n", why.c_str());
      std::abort();
    }
    return d;
  }();
  return *domain;
}

// The loader's connection writes its log lines (a failed connection …) to the
// test's output, not into the job's log.
class StderrLog : public LogSink {
 public:
  void write(unsigned, std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
};

ScenarioBackend wldapBackend() {
  ScenarioBackend b;
  b.open = [](const std::string& folder, Clock&, Log& log,
              std::string* error) -> std::unique_ptr<Directory> {
    const std::string ldif = test::readWholeFile((fs::path(folder) / "directory.ldif").string());
    std::unique_ptr<Directory> directory;
    for (int attempt = 0; attempt < 20; ++attempt) {
      {
        StderrLog loaderLog;
        std::unique_ptr<Directory> loader = openWldapDirectory(negotiateSettings(dc()), loaderLog);
        if (!loader) {
          *error = "cannot reach the domain controller at " + dc().host;
          return nullptr;
        }
        *error = test::loadSnapshot(*loader, dc().baseDn, ldif);
        if (!error->empty()) return nullptr;
      }
      directory = openWldapDirectory(negotiateSettings(dc()), log);
      if (!directory || test::sharedIdentificationsInNameOrder(*directory, dc().baseDn)) break;
    }
    return directory;
  };
  b.snapshot = [](Directory& d) { return test::normalisedTree(d, dc().baseDn); };
  return b;
}

// An LDIF file as the normalised tree of the memory directory loaded from it.
std::string normalisedLdif(const fs::path& file) {
  MemoryDirectory memory;
  const std::string error = memory.loadLdif(test::readWholeFile(file.string()));
  if (!error.empty()) return "<" + file.string() + ": " + error + ">\n";
  return test::normalisedTree(memory, dc().baseDn);
}

class ScenarioOnWldap32 : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioOnWldap32, LogDomainAndReportAsExpected) {
  const fs::path dir = GetParam();
  if (fs::exists(dir / "mail-schema")) {
    GTEST_SKIP() << "needs the domain with the mail server's schema";
  }
  const ScenarioOutcome domain = test::runScenario(dir.string(), wldapBackend());
  const ScenarioOutcome memory = test::runScenario(dir.string());

  // The domain holds what the snapshot holds, entry for entry.
  EXPECT_EQ(domain.before, normalisedLdif(dir / "directory.ldif"));

  const std::string expectedJob =
      test::jobPart(test::readWholeFile((dir / "expected.log").string()));
  ASSERT_FALSE(expectedJob.empty()) << "expected.log has no job part";
  EXPECT_EQ(test::maskExtendedErrors(test::jobPart(domain.log)),
            test::maskExtendedErrors(expectedJob));
  EXPECT_EQ(domain.directory, normalisedLdif(dir / "expected.ldif"));
  EXPECT_EQ(domain.report, test::readWholeFile((dir / "expected.rapport.csv").string()));
  if (test::readWholeFile((dir / "Tavlevagt.ini").string()).find("IDrift=Ja") ==
      std::string::npos) {
    EXPECT_EQ(domain.directory, domain.before) << "a test run changed the domain";
  }
  EXPECT_EQ(domain.jobs, memory.jobs);
  int expectedExit = -1;
  if (fs::exists(dir / "expected-exit")) {
    expectedExit = std::stoi(test::readWholeFile((dir / "expected-exit").string()));
  }
  EXPECT_EQ(domain.exitCode, expectedExit);
}

// The test-mode jobs and the live jobs of the user scenarios.
INSTANTIATE_TEST_SUITE_P(Jobs, ScenarioOnWldap32,
                         ::testing::ValuesIn(tv::test::scenarioFolders(
                             {TAVLEVAGT_SCENARIO_DATA, TAVLEVAGT_LIVE_SCENARIO_DATA})),
                         [](const auto& info) { return tv::test::scenarioTestName(info.param); });

}  // namespace
}  // namespace tv::wintest

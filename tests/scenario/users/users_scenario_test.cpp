// Live jobs end to end: the log and the directory a job leaves behind are
// compared with the expected files of each data folder (written once from a
// run, read and checked by a person; TAVLEVAGT_UPDATE_EXPECTED=1 rewrites
// them after an intended change).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "scenario/jobs/scenario.h"

namespace tv::test {
namespace {
namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void compareOrUpdate(const fs::path& expected, const std::string& actual) {
  if (std::getenv("TAVLEVAGT_UPDATE_EXPECTED") != nullptr) {
    std::ofstream(expected, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(fs::exists(expected)) << expected;
  EXPECT_EQ(actual, readFile(expected)) << "differs from " << expected;
}

class LiveJob : public ::testing::TestWithParam<std::string> {};

TEST_P(LiveJob, LogAndDirectoryAsExpected) {
  fs::path dir = fs::path(TAVLEVAGT_USERS_SCENARIO_DATA) / GetParam();
  ScenarioOutcome out = runScenario(dir.string());
  std::size_t jobFiles = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    jobFiles += e.path().filename().string().starts_with("brovalt") ? 1 : 0;
  }
  EXPECT_EQ(out.jobs, jobFiles);
  EXPECT_EQ(out.exitCode, -1);
  compareOrUpdate(dir / "expected.log", out.log);
  compareOrUpdate(dir / "expected.ldif", out.directory);
  compareOrUpdate(dir / "expected.rapport.csv", out.report);
  for (const std::string& password : jobPasswords(dir.string())) {
    EXPECT_EQ(out.report.find(password), std::string::npos) << "a password in the report";
  }
}

std::vector<std::string> scenarios() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(TAVLEVAGT_USERS_SCENARIO_DATA)) {
    if (e.is_directory()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Users, LiveJob, ::testing::ValuesIn(scenarios()), [](const auto& info) {
  std::string n = info.param;
  for (char& c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return n;
});

}  // namespace
}  // namespace tv::test

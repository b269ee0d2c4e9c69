#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "scenario.h"

namespace tv::test {
namespace {
namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Expected files are written once from a run and then read and checked by a
// person; TAVLEVAGT_UPDATE_EXPECTED=1 rewrites them after an intended change.
void compareOrUpdate(const fs::path& expected, const std::string& actual) {
  if (std::getenv("TAVLEVAGT_UPDATE_EXPECTED") != nullptr) {
    std::ofstream(expected, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(fs::exists(expected)) << expected;
  EXPECT_EQ(actual, readFile(expected)) << "differs from " << expected;
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, LogAndDirectoryAsExpected) {
  fs::path dir = fs::path(TAVLEVAGT_SCENARIO_DATA) / GetParam();
  ScenarioOutcome out = runScenario(dir.string());
  compareOrUpdate(dir / "expected.log", out.log);
  compareOrUpdate(dir / "expected.ldif", out.directory);
  compareOrUpdate(dir / "expected.rapport.csv", out.report);
  for (const std::string& password : jobPasswords(dir.string())) {
    EXPECT_EQ(out.report.find(password), std::string::npos) << "a password in the report";
  }
  int expectedExit = -1;
  if (fs::exists(dir / "expected-exit")) expectedExit = std::stoi(readFile(dir / "expected-exit"));
  EXPECT_EQ(out.exitCode, expectedExit);
  if (readFile(dir / "Tavlevagt.ini").find("IDrift=Ja") == std::string::npos) {
    EXPECT_EQ(out.directory, out.before) << "a test run changed the directory";
  }
}

std::vector<std::string> scenarios() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(TAVLEVAGT_SCENARIO_DATA)) {
    if (e.is_directory()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Jobs, Scenario, ::testing::ValuesIn(scenarios()), [](const auto& info) {
  std::string n = info.param;
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
});

}  // namespace
}  // namespace tv::test

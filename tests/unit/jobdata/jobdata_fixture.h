// A runtime over a temp data folder whose fatal exits are recorded instead of
// ending the test, and record lines built field by field.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "support/fakes.h"

namespace tv::test {

class JobdataTest : public ::testing::Test {
 protected:
  JobdataTest() {
    rt.fatalExit = [this](int code) { exits.push_back(code); };
    rt.trim.dnsDomain = "skole.test";
    rt.trim.path = "OU=Elev,OU=ZEB,DC=skole,DC=test";
  }
  void staff() { rt.trim.staff = true; }
  void pupils() { rt.trim.staff = false; }
  [[nodiscard]] std::string logText() const { return fixture.text(); }

  LogFixture fixture;
  Runtime rt{fixture.log, Ports{.clock = &fixture.clock}, fixture.folder.path()};
  std::vector<int> exits;
};

inline const std::string kId1 = "0123456789abcdef0123456789abcdef";
inline const std::string kId2 = "fedcba9876543210fedcba9876543210";

// A line of count fields "f<n>" with the given fields replaced.
inline std::string recordLine(int count, const std::map<int, std::string>& set) {
  std::string line;
  for (int i = 0; i < count; ++i) {
    if (i > 0) line += ';';
    auto it = set.find(i);
    line += it != set.end() ? it->second : "f" + std::to_string(i);
  }
  return line;
}

inline std::string staffLine(const std::string& login, const std::string& id,
                             std::map<int, std::string> set = {}) {
  set.emplace(0, login);
  set.emplace(1, id);
  set.emplace(2, "Kode1");
  set.emplace(6, "070315");
  return recordLine(21, set);
}

inline std::string pupilLine(const std::string& login, const std::string& id,
                             std::map<int, std::string> set = {}) {
  set.emplace(0, login);
  set.emplace(1, id);
  set.emplace(2, "Kode1");
  set.emplace(6, "070315");
  return recordLine(17, set);
}

}  // namespace tv::test

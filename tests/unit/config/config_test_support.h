// A runtime over a temp data folder, the fake clock and a directory that
// answers the root entry, for the settings and location tests.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/runtime.h"
#include "support/fakes.h"
#include "text/text.h"
#include "unit/config/fake_root_dse.h"

namespace tv::test {

struct ConfigFixture : LogFixture {
  FakeRootDseDirectory directory;
  Runtime rt{log, portsWith(&directory), folder.path()};

  Ports portsWith(Directory* d) {
    Ports p;
    p.directory = d;
    p.clock = &clock;
    p.system = &system;
    return p;
  }
  // The log file so far; the file is closed and opened again so that nothing
  // stays in the stream's buffer whatever LogLevel the load chose.
  std::string logText() {
    log.release();
    std::string t = text();
    (void)log.open();
    return t;
  }
};

// A file of tests/unit/config/data, as bytes.
inline std::string dataFile(const std::string& name) {
  std::ifstream in(std::string(TAVLEVAGT_CONFIG_DATA) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos)) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

// Replaces every "@NAME@" of a template.
inline std::string fillTemplate(std::string text, const std::string& name,
                                const std::string& value) {
  return replaceAll(std::move(text), "@" + name + "@", value);
}

}  // namespace tv::test

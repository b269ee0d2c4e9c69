// Whole jobs, as a school runs them: a data folder (settings, job files and a
// directory snapshot) goes in; the log and the directory afterwards come out
// and are compared with the folder's expected files.
#pragma once

#include <string>

#include "directory/directory.h"

namespace tv::test {

struct ScenarioOutcome {
  std::string log;        // the log file as UTF-8, the data folder and build time masked
  std::string directory;  // the directory afterwards as LDIF
  std::string before;     // the directory as loaded, as LDIF
  unsigned jobs = 0;      // job files the cycle found
  int exitCode = -1;      // a fatal data error's exit code, -1 when none
};

// Runs one cycle over a copy of the data folder src against the memory
// directory loaded from its directory.ldif.
ScenarioOutcome runScenario(const std::string& src);

}  // namespace tv::test

// Whole jobs, as a school runs them: a data folder (settings, job files and a
// directory snapshot) goes in; the log and the directory afterwards come out
// and are compared with the folder's expected files. The run itself does not
// care which directory it talks to: the memory directory loaded from the
// snapshot, or a real domain controller the snapshot was loaded into.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "directory/directory.h"
#include "log/log.h"
#include "ports/clock.h"

namespace tv::test {

struct ScenarioOutcome {
  std::string log;        // the log file as UTF-8, the data folder and build time masked
  std::string directory;  // the directory afterwards, as the backend's snapshot gives it
  std::string before;     // the directory as loaded, the same way
  std::string report;     // the jobs' change reports, in name order, the data folder masked
  unsigned jobs = 0;      // job files the cycle found
  int exitCode = -1;      // a fatal data error's exit code, -1 when none
};

// Where a run's directory comes from and how its state is read.
struct ScenarioBackend {
  // The directory for the copy of the data folder at folder; null with
  // *error set when it cannot be had.
  std::function<std::unique_ptr<Directory>(const std::string& folder, Clock& clock, Log& log,
                                           std::string* error)>
      open;
  // The directory's state as text; read right after opening and after the
  // cycle.
  std::function<std::string(Directory& directory)> snapshot;
};

// The memory directory loaded from the folder's directory.ldif (with the mail
// server's attributes when the folder holds a "mail-schema" file); its
// snapshot is the directory saved as LDIF.
[[nodiscard]] ScenarioBackend memoryBackend();

// Runs one cycle over a copy of the data folder src against the backend's
// directory.
ScenarioOutcome runScenario(const std::string& src, const ScenarioBackend& backend);
// The same against the memory backend.
ScenarioOutcome runScenario(const std::string& src);

// The job part of a log: from the first line that starts " Flytter " on; ""
// when there is none. What comes before it describes the directory's server
// and the settings, not the job.
[[nodiscard]] std::string jobPart(const std::string& log);

// Every password the sync jobs of the data folder src carry, as written and
// as deciphered: what must never appear in a report or a log.
[[nodiscard]] std::vector<std::string> jobPasswords(const std::string& src);

// The whole file (binary), "" when it cannot be read.
[[nodiscard]] std::string readWholeFile(const std::string& path);

}  // namespace tv::test

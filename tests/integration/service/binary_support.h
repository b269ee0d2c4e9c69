// Running the built executable from a test: at a pseudo terminal, detached
// with its output in a file (as systemd or cron would start it), and an
// installation into a private configuration root whose data folder holds an
// empty domain as its directory snapshot.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/fakes.h"

namespace tv::test {

using Argv = std::vector<std::string>;
using Environment = std::vector<std::pair<std::string, std::string>>;

// The snapshot of a domain with nothing in it yet.
inline constexpr const char* kEmptyDomain = "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n";

// Runs the program on a pseudo terminal and returns what it wrote there,
// with the terminal's "\r\n" turned back into "\n"; *exitCode receives the
// exit status (-1 for a signal).
std::string runAtTerminal(Argv args, int* exitCode);
// The same, expecting exit code 0.
std::string runAtTerminal(Argv args);

// Starts the program with standard output and error in a file (no
// terminal), with these variables added to the environment.
pid_t startDetached(Argv args, const std::string& outputFile, const Environment& extra = {});

// The exit status (128 + signal for a signal), or -1 when the process did not
// end within the time (it is then left running).
int waitFor(pid_t pid, std::chrono::seconds limit);

bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit);

// A configuration root whose keys point at a data folder; the unit goes to a
// private folder as well, so no test touches the machine's systemd.
struct Installed {
  TempFolder root;
  TempFolder data;
  Installed();  // the data folder holds kEmptyDomain as its snapshot; "-i" is the test's
  [[nodiscard]] Argv folders() const {
    return {"--config-root", root.path(), "--unit-folder", root.path()};
  }
  [[nodiscard]] Argv with(Argv more) const {
    Argv a = folders();
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
};

// What systemd hands a service it starts.
inline const Environment kStartedBySystemd = {
    {"INVOCATION_ID", "5ae1e7a1c0de4b1d9e2f3a4b5c6d7e8f"}};

}  // namespace tv::test

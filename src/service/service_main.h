// The process entry and the service around the job cycle: install and
// uninstall through the service manager, the service main with its poll loop,
// the control handler, and the "-d" single cycle. Failures are told in the
// log; the exit code is 0 except where work was left undone for a reason the
// admin must fix: a data folder that cannot be used or is held by another
// instance, and (with "-d") a job whose directory could not be read or saved.
//
// A data folder is worked by one process at a time: the service and "-d"
// hold a lock on it for their whole life, and a second one says so and ends.
//
// A stop (the manager's, or Ctrl-C, a closed terminal or a termination
// request with "-d") sets the state to stopped and ends the poll loop's and
// the password thread's waits at once; a cycle in progress finishes first, so
// no job file is left half-done. A program the cycle is running gets a grace
// period (Runtime::stopGrace) and is then ended with its process group.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "service/command_line.h"
#include "service/job_cycle.h"

namespace tv {

struct Runtime;

inline constexpr std::chrono::milliseconds kPollInterval{300000};
inline constexpr unsigned kIdleCyclesPerMark = 30;

// What the entry needs besides the runtime's ports. Null functions are left out.
struct EntryHooks {
  JobHandler handler;                           // one sync job file
  std::function<int(Runtime&)> loadSettings;    // settings and directory locations
  std::function<void(Runtime&)> passwordWatch;  // runs while the state is running
  std::FILE* usageStream = stderr;              // where the usage goes outside service mode
  std::FILE* errorStream = stderr;              // where a failure that ends the run is repeated
};

// Runs the option of the command line and returns the exit code. Without an
// option, at a terminal the usage is shown; elsewhere the service host
// decides whether the process runs as the service.
int runEntry(Runtime& rt, const CommandLine& cl, const EntryHooks& hooks);

void installService(Runtime& rt);
void uninstallService(Runtime& rt);

// Reads DataPath and makes it the runtime's absolute data folder (the current
// directory when the key gives none); the log follows it. False (after an
// error line) when it is no folder.
bool resolveDataFolder(Runtime& rt);

// The service main: the control handler registered with the service host,
// settings, running, the password thread, the poll loop.
// logOpened: the entry opened the log, and the service main releases it once.
void serviceMain(Runtime& rt, const EntryHooks& hooks, bool logOpened);

// The poll loop alone: a cycle, a sleep (cut short by a stop), the idle mark.
void pollLoop(Runtime& rt, const JobHandler& handler);

// A control code from the service manager (1 stop, 2 pause, 3 continue, 4 interrogate).
void controlHandler(Runtime& rt, long code);

// The stop itself: state stopped, the waits for a stop ended, running
// programs given their grace.
void requestStop(Runtime& rt);

}  // namespace tv

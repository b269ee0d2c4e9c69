// The process entry and the service around the job cycle: install and
// uninstall through the service manager, the service main with its poll loop,
// the control handler, and the "-d" single cycle. The process always ends
// with exit code 0; every failure is told in the log.
//
// A stop sets the state to stopped and wakes the poll loop's sleep at once; a
// cycle in progress finishes first, so no job file is left half-done.
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
};

// Runs the option of the command line; always 0. Without an option the
// service host decides whether the process runs as the service or shows the
// usage.
int runEntry(Runtime& rt, const CommandLine& cl, const EntryHooks& hooks);

void installService(Runtime& rt);
void uninstallService(Runtime& rt);

// Reads DataPath and makes it the runtime's absolute data folder (the current
// directory when the key gives none); the log follows it.
void resolveDataFolder(Runtime& rt);

// The service main: the control handler registered with the service host,
// settings, running, the password thread, the poll loop.
// logOpened: the entry opened the log, and the service main releases it once.
void serviceMain(Runtime& rt, const EntryHooks& hooks, bool logOpened);

// The poll loop alone: a cycle, a sleep (cut short by a stop), the idle mark.
void pollLoop(Runtime& rt, const JobHandler& handler);

// A control code from the service manager (1 stop, 2 pause, 3 continue, 4 interrogate).
void controlHandler(Runtime& rt, long code);

}  // namespace tv

// The context every operation receives: settings, locations, the values of
// the job in hand, the log and the ports. Built once in main (or in a test)
// and handed down by reference; there is no other process-wide state.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "log/log.h"
#include "runtime/change_report.h"
#include "runtime/trim.h"
#include "text/paths.h"

namespace tv {

class Directory;
class FileServer;
class HttpClient;
class ProcessRunner;
class Clock;
class SystemInfo;
class InstallKeys;
class JobServer;
class ServiceHost;
class LocalFiles;
class DirectoryStore;

struct Ports {
  Directory* directory = nullptr;
  FileServer* files = nullptr;
  HttpClient* http = nullptr;
  ProcessRunner* processes = nullptr;
  Clock* clock = nullptr;
  SystemInfo* system = nullptr;
  InstallKeys* keys = nullptr;
  JobServer* jobServer = nullptr;  // null: no job server
  ServiceHost* host = nullptr;
  LocalFiles* localFiles = nullptr;  // null: plain C library files (tests)
  DirectoryStore* store = nullptr;   // null: the directory stores its own changes
};

// Values of the job file in hand (school name, sequence value) and the
// list-changed flags the end-of-job list scripts look at.
struct JobValues {
  std::string schoolName;
  std::string sequence;  // at most 7 characters
  bool medaMailListChanged = false;
  bool elevMailListChanged = false;
  bool medaListChanged = false;
  bool elevListChanged = false;
};

// Service states as the service manager numbers them.
enum ServiceState : int { kStopped = 1, kStartPending = 2, kRunning = 4, kPaused = 7 };

// How long a program started by the service (a hook, the archiver, the
// UNI-login program) may still run after a stop before it is ended.
inline constexpr std::chrono::milliseconds kStopGrace{60000};

struct Runtime {
  Runtime(Log& l, Ports p, std::string folder) : log(l), ports(p), dataFolder(std::move(folder)) {}

  Settings settings;
  Trim trim;
  JobValues job;
  Log& log;
  Ports ports;
  std::string dataFolder;  // absolute, resolved once at start
  std::atomic<int> state{kStartPending};
  // The change report of the job in hand, per thread.
  ChangeReport changes{log};

  // Serialises appends to the list files so that the password thread and the
  // job thread never interleave half lines.
  std::mutex fileAppendLock;

  // Ends the process after a fatal data error (exit codes 25, 20, 2). Tests
  // replace it to see the code; callers must cope with it returning.
  std::function<void(int)> fatalExit = [](int code) { std::exit(code); };

  // Records one decision about an account of the current population in the
  // calling thread's change report. The password thread has no current
  // population (the locations belong to the job thread) and records through
  // changes itself.
  void recordChange(ChangeAction action, std::string_view login, std::string_view attribute,
                    std::string_view oldValue, std::string_view newValue,
                    const ChangeResult& result) {
    changes.record({trim.label, login, action, attribute, oldValue, newValue}, result);
  }

  // The grace a running program gets after a stop (kStopGrace; tests shorten it).
  std::chrono::milliseconds stopGrace = kStopGrace;

  // A failure that leaves work undone (a directory that cannot be read or
  // saved, a data folder that cannot be used): logged as an error to the log
  // file and the event log, and kept for the entry, which repeats it on
  // standard error after "-d" and ends with a non-zero exit code.
  void reportFailure(const std::string& text);
  // The same for a failure the caller has logged already.
  void recordFailure(const std::string& text);
  // The failures reported since the last call.
  [[nodiscard]] std::vector<std::string> takeFailures();

  // An absolute path of a file in the data folder.
  [[nodiscard]] std::string dataPath(const std::string& name) const {
    return dataFolder.empty() ? name : joinPath(dataFolder, name);
  }

 private:
  std::mutex failuresLock_;
  std::vector<std::string> failures_;
};

}  // namespace tv

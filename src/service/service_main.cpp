#include "service/service_main.h"

#include <filesystem>
#include <memory>
#include <thread>

#include "config/version.h"
#include "ports/clock.h"
#include "ports/install_keys.h"
#include "ports/local_files.h"
#include "ports/process_runner.h"
#include "ports/service_host.h"
#include "runtime/data_folder.h"
#include "runtime/runtime.h"
#include "service/registry.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

constexpr unsigned kLevelFailure = 99;

void reportStatus(Runtime& rt) {
  if (rt.ports.host == nullptr) return;
  if (int err = rt.ports.host->reportStatus(rt.state.load()); err != 0) {
    Log::setLastError(platformError(err));
    rt.log.message(kLevelFailure, "** Fejl: SetServiceStatus error");
  }
}

// The password thread runs beside the cycles and ends by itself once the
// state is no longer running; it is joined so that a password job in hand is
// finished before the process ends.
class PasswordThread {
 public:
  PasswordThread(Runtime& rt, const EntryHooks& hooks) {
    if (hooks.passwordWatch) thread_ = std::thread(hooks.passwordWatch, std::ref(rt));
  }
  ~PasswordThread() {
    if (thread_.joinable()) thread_.join();
  }
  PasswordThread(const PasswordThread&) = delete;
  PasswordThread& operator=(const PasswordThread&) = delete;

 private:
  std::thread thread_;
};

// The absolute, normal form of a folder; "/srv/data/" and "/srv/./data"
// name "/srv/data". Empty when there is no current directory to start from.
std::string absoluteFolder(const std::string& path) {
  std::error_code ec;
  fs::path folder = fs::absolute(pathFromUtf8(path), ec);
  if (ec) return {};
  folder = folder.lexically_normal();
  if (folder.has_relative_path() && !folder.has_filename()) folder = folder.parent_path();
  return utf8FromPath(folder);
}

// Takes the data folder for this process: locked against a second instance,
// found writable, cleared of what a crash left of the service's temporary
// files. Null, after the failure was reported, when it cannot be used.
std::unique_ptr<FolderLock> takeDataFolder(Runtime& rt) {
  LocalFiles* files = rt.ports.localFiles;
  if (files == nullptr) return std::make_unique<FolderLock>();
  const char* folder = rt.dataFolder.c_str();
  LocalFiles::Locked locked = files->lockFolder(rt.dataFolder);
  if (locked.heldElsewhere) {
    rt.reportFailure(
        format("** Fejl: Datamappen \"%s\" bruges allerede af en anden kørsel af "
               "Tavlevagt; denne kørsel stopper uden at røre den.\n",
               folder));
    return nullptr;
  }
  if (!locked.lock) {
    rt.reportFailure(format("** Fejl: Datamappen \"%s\" kan ikke læses: %s\n", folder,
                            fileErrorText(rt.log, locked.error).c_str()));
    return nullptr;
  }
  std::string probe;
  LocalFiles::Opened o = files->createUnique(rt.dataPath(".tavlevagt-skriveprove-"), probe);
  if (o.file == nullptr) {
    rt.reportFailure(format("** Fejl: Datamappen \"%s\" kan ikke skrives: %s\n", folder,
                            fileErrorText(rt.log, o.error).c_str()));
    return nullptr;
  }
  std::fclose(o.file);
  std::error_code ec;
  std::filesystem::remove(pathFromUtf8(probe), ec);
  removeStaleTemporaryFiles(rt);
  return std::move(locked.lock);
}

// The exit code of a run that ends now: 1 when something was left undone,
// repeated on the error stream where the console did not show it already.
int endOfRun(Runtime& rt, const EntryHooks& hooks) {
  const std::vector<std::string> failures = rt.takeFailures();
  if (failures.empty()) return 0;
  if (!rt.log.console() && hooks.errorStream != nullptr) {
    for (const std::string& f : failures) std::fputs(f.c_str(), hooks.errorStream);
    std::fflush(hooks.errorStream);
  }
  return 1;
}

}  // namespace

void requestStop(Runtime& rt) {
  rt.state = kStopped;
  if (rt.ports.clock != nullptr) rt.ports.clock->wake();
  if (rt.ports.processes != nullptr) rt.ports.processes->endAfterStop(rt.stopGrace);
}

void installService(Runtime& rt) {
  ServiceHost* host = rt.ports.host;
  if (host == nullptr) return;
  if (int err = host->openManager(); err != 0) {
    Log::setLastError(platformError(err));
    rt.log.message(kLevelFailure, "** Fejl: Cannot initialize access to the service manager");
    return;
  }
  if (int err = host->createService(); err != 0) {
    Log::setLastError(platformError(err));
    rt.log.message(kLevelFailure, "** Fejl: Cannot create service");
  }
}

void uninstallService(Runtime& rt) {
  ServiceHost* host = rt.ports.host;
  if (host == nullptr) return;
  if (int err = host->openManager(); err != 0) {
    Log::setLastError(platformError(err));
    rt.log.message(kLevelFailure, "** Fejl: Cannot initialize access to the service manager");
    return;
  }
  if (int err = host->openService(); err != 0) {
    Log::setLastError(platformError(err));
    rt.log.message(kLevelFailure, "** Fejl: Cannot open service");
    return;
  }
  // Only a service that is stopped may go: one that is starting or stopping
  // still has a process working the data folder.
  if (host->queryActivity() == ServiceHost::Activity::kInOperation) {
    Log::setLastError(SystemError());
    rt.log.message(
        kLevelFailure,
        "** Fejl: Service currently in operation - Stop service and rerun the uninstall.");
    return;
  }
  if (int err = host->deleteService(); err != 0) {
    Log::setLastError(platformError(err));
    rt.log.message(kLevelFailure, "** Fejl: Cannot delete service");
  }
}

bool resolveDataFolder(Runtime& rt) {
  std::string dataPath;
  if (rt.ports.keys != nullptr) (void)readKeys(rt.log, *rt.ports.keys, dataPath);
  const std::string text = absoluteFolder(dataPath.empty() ? "." : dataPath);
  const fs::path folder = pathFromUtf8(text);
  std::error_code ec;
  rt.dataFolder = text;
  rt.log.setFolder(text);
  if (fs::is_directory(folder, ec)) return true;
  const SystemError error = ec ? ec : systemError(std::errc::no_such_file_or_directory);
  Log::setLastError(error);
  rt.log.message(kLevelFailure, "** Fejl: Kan ikke læse datamappen \"%s\" ", text.c_str());
  rt.recordFailure(format("** Fejl: Kan ikke læse datamappen \"%s\"  (%s)\n", text.c_str(),
                          std::string(trim(rt.log.systemText(error))).c_str()));
  return false;
}

void controlHandler(Runtime& rt, long code) {
  switch (code) {
    case 1: {
      requestStop(rt);
      const bool opened = rt.log.open() == 0;
      rt.log.message(11, "\n-%s-Stopper Tavlevagt ver. %s (%s) - (%s %s %s)\n\n",
                     ctimeText(*rt.ports.clock, rt.ports.clock->now()).c_str(), kVersion,
                     kReleaseDate, kPlatform, buildDate(), buildTime());
      if (opened) rt.log.release();
      break;
    }
    case 2:
      rt.state = kPaused;
      break;
    case 3:
      rt.state = kRunning;
      break;
    case 4:
      break;
    default:
      rt.log.message(35, "** Fejl: Unrecognized opcode %ld\n", code);
      break;
  }
  reportStatus(rt);
}

void pollLoop(Runtime& rt, const JobHandler& handler) {
  unsigned idle = 0;
  while (rt.state.load() == kRunning) {
    unsigned found = runCycle(rt, handler);
    // The service told its failures in the log and the event log; nothing
    // is kept of them between cycles.
    (void)rt.takeFailures();
    (void)rt.ports.clock->waitForStop(kPollInterval);
    if (found != 0) {
      idle = 0;
      continue;
    }
    if (++idle > kIdleCyclesPerMark) {
      const bool opened = rt.log.open() == 0;
      rt.log.message(lvl::kFile, ".");
      if (opened) rt.log.release();
      idle = 0;
    }
  }
}

void serviceMain(Runtime& rt, const EntryHooks& hooks, bool logOpened) {
  rt.state = kStartPending;
  if (ServiceHost* host = rt.ports.host; host != nullptr) {
    const int err = host->registerControl([&rt](long code) { controlHandler(rt, code); });
    if (err != 0) {
      Log::setLastError(platformError(err));
      rt.log.message(kLevelFailure, "** Fejl: RegisterServiceCtrlHandler failed");
      if (logOpened) rt.log.release();
      return;
    }
  }
  if (hooks.loadSettings) (void)hooks.loadSettings(rt);
  // A stop that came while the settings loaded wins over the start.
  int pending = kStartPending;
  rt.state.compare_exchange_strong(pending, kRunning);
  reportStatus(rt);
  // From here on each cycle opens and releases the log itself.
  if (logOpened) rt.log.release();
  PasswordThread passwords(rt, hooks);
  pollLoop(rt, hooks.handler);
}

int runEntry(Runtime& rt, const CommandLine& cl, const EntryHooks& hooks) {
  switch (cl.mode) {
    case CommandLine::Mode::kInstall: {
      installService(rt);
      // The service starts in another directory than "-i" ran in: a relative
      // folder would name another place there.
      std::string dataFolder = absoluteFolder(cl.installPath);
      if (dataFolder.empty()) dataFolder = cl.installPath;
      if (rt.ports.keys != nullptr) (void)installKeys(rt.log, *rt.ports.keys, dataFolder);
      return 0;
    }
    case CommandLine::Mode::kUninstall:
      uninstallService(rt);
      if (rt.ports.keys != nullptr) (void)deleteKeys(rt.log, *rt.ports.keys);
      return 0;
    case CommandLine::Mode::kDebug: {
      std::unique_ptr<FolderLock> lock;
      if (resolveDataFolder(rt)) lock = takeDataFolder(rt);
      if (!lock) return endOfRun(rt, hooks);
      const bool opened = rt.log.open() == 0;
      if (hooks.loadSettings) (void)hooks.loadSettings(rt);
      if (opened) rt.log.release();
      rt.state = kRunning;
      if (rt.ports.host != nullptr) {
        (void)rt.ports.host->registerConsoleStop([&rt] { controlHandler(rt, 1); });
      }
      {
        PasswordThread passwords(rt, hooks);
        (void)runCycle(rt, hooks.handler);
        requestStop(rt);
      }
      if (rt.ports.host != nullptr) (void)rt.ports.host->registerConsoleStop({});
      return endOfRun(rt, hooks);
    }
    case CommandLine::Mode::kServiceOrUsage:
      break;
  }
  // At a terminal only the usage is shown: no key is read, no log is created.
  if (rt.log.console()) {
    std::fputs(usageText().c_str(), hooks.usageStream);
    std::fflush(hooks.usageStream);
    return 0;
  }
  const bool folderOk = resolveDataFolder(rt);
  bool logHeld = rt.log.open() == 0;
  int exitCode = 0;
  const auto service = [&] {
    std::unique_ptr<FolderLock> lock;
    if (folderOk) lock = takeDataFolder(rt);
    if (!lock) {
      exitCode = 1;
      return;
    }
    const bool opened = logHeld;
    logHeld = false;  // the service main releases it
    serviceMain(rt, hooks, opened);
  };
  // Only the service manager may start the service: a copy started from a
  // pipe, cron or a script gets the manager's refusal and does nothing.
  const SystemError err = rt.ports.host != nullptr
                              ? platformError(rt.ports.host->runAsService(service))
                              : systemError(std::errc::not_connected);
  if (err) {
    Log::setLastError(err);
    rt.log.message(kLevelFailure, "** Fejl: StartServiceCtrlDispatcher error");
  }
  if (logHeld) rt.log.release();
  (void)rt.takeFailures();
  return exitCode;
}

}  // namespace tv

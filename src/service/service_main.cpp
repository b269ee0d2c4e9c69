#include "service/service_main.h"

#include <filesystem>
#include <thread>

#include "config/version.h"
#include "ports/clock.h"
#include "ports/install_keys.h"
#include "ports/service_host.h"
#include "runtime/runtime.h"
#include "service/registry.h"
#include "text/paths.h"

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

void stopRunning(Runtime& rt) {
  rt.state = kStopped;
  if (rt.ports.clock != nullptr) rt.ports.clock->wake();
}

}  // namespace

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
  if (host->queryActivity() == ServiceHost::Activity::kActive) {
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

void resolveDataFolder(Runtime& rt) {
  std::string dataPath;
  if (rt.ports.keys != nullptr) (void)readKeys(rt.log, *rt.ports.keys, dataPath);
  std::error_code ec;
  fs::path folder =
      dataPath.empty() ? fs::current_path(ec) : fs::absolute(pathFromUtf8(dataPath), ec);
  folder = folder.lexically_normal();
  // "/srv/data/" names the folder "/srv/data".
  if (folder.has_relative_path() && !folder.has_filename()) folder = folder.parent_path();
  const std::string text = utf8FromPath(folder);
  rt.dataFolder = text;
  rt.log.setFolder(text);
  if (!fs::is_directory(folder, ec)) {
    Log::setLastError(ec ? ec : systemError(std::errc::no_such_file_or_directory));
    rt.log.message(kLevelFailure, "** Fejl: Kan ikke læse datamappen \"%s\" ", text.c_str());
  }
}

void controlHandler(Runtime& rt, long code) {
  switch (code) {
    case 1: {
      stopRunning(rt);
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
    rt.ports.clock->sleepFor(kPollInterval);
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
    case CommandLine::Mode::kInstall:
      installService(rt);
      if (rt.ports.keys != nullptr) (void)installKeys(rt.log, *rt.ports.keys, cl.installPath);
      return 0;
    case CommandLine::Mode::kUninstall:
      uninstallService(rt);
      if (rt.ports.keys != nullptr) (void)deleteKeys(rt.log, *rt.ports.keys);
      return 0;
    case CommandLine::Mode::kDebug: {
      resolveDataFolder(rt);
      const bool opened = rt.log.open() == 0;
      if (hooks.loadSettings) (void)hooks.loadSettings(rt);
      if (opened) rt.log.release();
      rt.state = kRunning;
      {
        PasswordThread passwords(rt, hooks);
        (void)runCycle(rt, hooks.handler);
        stopRunning(rt);
      }
      return 0;
    }
    case CommandLine::Mode::kServiceOrUsage:
      break;
  }
  // The service manager decides: when it started this process as the
  // service, the service main runs; anywhere else (at a terminal) only the
  // usage is shown: no key is read, no log is created.
  const auto service = [&rt, &hooks] {
    resolveDataFolder(rt);
    serviceMain(rt, hooks, rt.log.open() == 0);
  };
  if (rt.ports.host == nullptr || !rt.ports.host->runAsService(service)) {
    std::fputs(usageText().c_str(), hooks.usageStream);
    std::fflush(hooks.usageStream);
  }
  return 0;
}

}  // namespace tv

#include "service/service_main.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "config/version.h"
#include "service/registry.h"
#include "service_test_support.h"
#include "text/text.h"

namespace tv::test {
namespace {

struct ServiceMain : ::testing::Test, ServiceFixture {
  std::string stopLine() const {
    return format(
        "\n-Fri Jun 17 10:42:52 2022\n-Stopper Tavlevagt ver. 7.2.0 (17.06.2022) - (x64 %s %s)\n\n",
        buildDate(), buildTime());
  }
};

TEST_F(ServiceMain, StopLogsTheStopLineWakesTheWaitsGivesProgramsTheirGraceAndReportsStopped) {
  rt.state = kRunning;
  controlHandler(rt, 1);
  EXPECT_EQ(rt.state.load(), kStopped);
  EXPECT_TRUE(clock.woken);
  EXPECT_EQ(processes.stopGraces, std::vector<long long>{60000});
  EXPECT_EQ(logText(), stopLine());
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].type, EventType::Information);
  EXPECT_EQ(events.events[0].text, stopLine());
  EXPECT_EQ(host.reported, std::vector<int>{kStopped});
  EXPECT_EQ(log.openCount(), 0u);
}

TEST_F(ServiceMain, OtherControlCodes) {
  rt.state = kRunning;
  controlHandler(rt, 2);
  EXPECT_EQ(rt.state.load(), kPaused);
  controlHandler(rt, 3);
  EXPECT_EQ(rt.state.load(), kRunning);
  controlHandler(rt, 4);
  EXPECT_EQ(rt.state.load(), kRunning);
  (void)log.open();
  host.reportError = EIO;
  controlHandler(rt, 17);
  log.release();
  EXPECT_EQ(rt.state.load(), kRunning);
  EXPECT_EQ(logText(), "** Fejl: Unrecognized opcode 17\n** Fejl: SetServiceStatus error (" +
                           errnoText(EIO) + ")");
  EXPECT_EQ(host.reported, (std::vector<int>{kPaused, kRunning, kRunning, kRunning}));
}

// A clock that stops the service after a number of waits.
struct StoppingClock : FakeClock {
  Runtime* rt = nullptr;
  std::size_t stopAfter = 0;
  bool waitForStop(std::chrono::milliseconds ms) override {
    bool result = FakeClock::waitForStop(ms);
    if (stopWaits.size() == stopAfter) rt->state = kStopped;
    return result;
  }
};

TEST_F(ServiceMain, AfterMoreThan30IdleCyclesOneDotIsLogged) {
  StoppingClock stopping;
  stopping.rt = &rt;
  stopping.stopAfter = 62;
  rt.ports.clock = &stopping;
  rt.state = kRunning;
  pollLoop(rt, {});
  EXPECT_EQ(stopping.stopWaits.size(), 62u);
  for (long long ms : stopping.stopWaits) EXPECT_EQ(ms, 300000);
  // Cycles 31 and 62 each pass the count of 30.
  EXPECT_EQ(logText(), "..");
}

TEST_F(ServiceMain, AJobResetsTheIdleCount) {
  StoppingClock stopping;
  stopping.rt = &rt;
  stopping.stopAfter = 40;
  rt.ports.clock = &stopping;
  rt.state = kRunning;
  // The twentieth cycle finds a job; the twenty idle cycles after it are too
  // few for a dot, and so were the nineteen before it.
  struct Dropper : JobServer {
    int cycles = 0;
    std::string file;
    void downloadJobs(Runtime&) override {
      if (++cycles == 20) std::fclose(std::fopen(file.c_str(), "w"));
    }
    void uploadLog(Runtime&, const std::string&, const std::string&) override {}
  } dropper;
  dropper.file = folder.file("brovalt-1.dat");
  rt.ports.jobServer = &dropper;
  pollLoop(rt, {});
  EXPECT_EQ(dropper.cycles, 40);
  EXPECT_TRUE(exists("brovalt-1.slut"));
  EXPECT_EQ(logText().find('.', logText().rfind("brovalt-1.slut") + 14), std::string::npos);
}

TEST_F(ServiceMain, AStopWhileSleepingEndsTheLoopAfterTheSleep) {
  rt.state = kRunning;
  // The cycle itself stops the service: the loop must not start another.
  struct StopInCycle : JobServer {
    int cycles = 0;
    void downloadJobs(Runtime& r) override {
      ++cycles;
      controlHandler(r, 1);
    }
    void uploadLog(Runtime&, const std::string&, const std::string&) override {}
  } stopper;
  rt.ports.jobServer = &stopper;
  pollLoop(rt, {});
  EXPECT_EQ(stopper.cycles, 1);
  EXPECT_EQ(rt.state.load(), kStopped);
}

TEST_F(ServiceMain, InstallWritesTheServiceAndBothKeysWithTheFolderMadeAbsolute) {
  // The service starts in another directory than "-i" ran in.
  const std::string here = std::filesystem::current_path().string();
  const struct {
    std::vector<std::string> args;
    std::string stored;
  } cases[] = {
      {{"-i"}, here},
      {{"-i", ""}, here},
      {{"-i", "data/skole"}, here + "/data/skole"},
      {{"-i", "/srv/./tavlevagt/"}, "/srv/tavlevagt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(runEntry(rt, parseCommandLine(c.args), {}), 0);
    EXPECT_EQ(keys.keys[kDataKey]["DataPath"].text, c.stored) << c.args.back();
  }
  EXPECT_TRUE(host.installed);
  EXPECT_EQ(keys.keys[kEventKey]["EventMessageFile"].text, "%SystemRoot%\\System32\\Tavlevagt.dll");
  EXPECT_EQ(keys.keys[kEventKey]["TypesSupported"].dword, 7u);
  EXPECT_EQ(keys.keys[kEventKey]["TypesSupported"].type, KeyValue::kDword);
}

TEST_F(ServiceMain, AFailedInstallStillWritesTheKeys) {
  host.managerError = EACCES;
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-i", "/srv/data"}), {}), 0);
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].type, EventType::Error);
  EXPECT_EQ(events.events[0].text,
            "** Fejl: Cannot initialize access to the service manager (" + errnoText(EACCES) + ")");
  EXPECT_EQ(keys.keys[kDataKey]["DataPath"].text, "/srv/data");
  host.managerError = 0;
  host.createError = EROFS;
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-i", "/srv/data"}), {}), 0);
  EXPECT_EQ(events.events.back().text, "** Fejl: Cannot create service (" + errnoText(EROFS) + ")");
}

TEST_F(ServiceMain, UninstallRefusesWhileActiveButDeletesTheKeys) {
  (void)runEntry(rt, parseCommandLine({"-i", "/srv/data"}), {});
  host.activity = ServiceHost::Activity::kInOperation;
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-u"}), {}), 0);
  EXPECT_TRUE(host.installed);
  EXPECT_TRUE(keys.keys.empty());
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_TRUE(startsWith(events.events[0].text,
                         "** Fejl: Service currently in operation - Stop service and rerun the "
                         "uninstall. ("));
  // Stopped (or a status that cannot be asked): the service goes.
  host.activity = ServiceHost::Activity::kUnknown;
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-u"}), {}), 0);
  EXPECT_FALSE(host.installed);
  ASSERT_EQ(events.events.size(), 3u);
  EXPECT_EQ(events.events[1].text, std::string("** Fejl: Cannot delete registry keys: \"") +
                                       kDataKey + "\" (" + errnoText(ENOENT) + ")");
  EXPECT_EQ(events.events[2].text, std::string("** Fejl: Cannot delete registry keys: \"") +
                                       kEventKey + "\" (" + errnoText(ENOENT) + ")");
  // Not installed at all.
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-u"}), {}), 0);
  EXPECT_EQ(events.events[3].text, "** Fejl: Cannot open service (" + errnoText(ENOENT) + ")");
}

TEST_F(ServiceMain, KeysReplacedAndFailures) {
  (void)log.open();
  ASSERT_EQ(installKeys(log, keys, "/a"), 0);
  ASSERT_EQ(installKeys(log, keys, "/b"), 0);
  EXPECT_EQ(keys.keys[kDataKey]["DataPath"].text, "/b");
  keys.failSet = EIO;
  EXPECT_EQ(installKeys(log, keys, "/c"), 1);
  keys.failSet = 0;
  keys.failCreate = EACCES;
  EXPECT_EQ(installKeys(log, keys, "/d"), 1);
  log.release();
  EXPECT_EQ(logText(),
            std::string("Replacing existing keys: \"") + kDataKey + "\"" +
                "Replacing existing keys: \"" + kEventKey + "\"" + "Replacing existing keys: \"" +
                kDataKey + "\"" + "** Fejl: Cannot install registry key: Key=\"DataPath\" (" +
                errnoText(EIO) + ")" + "** Fejl: Cannot initialize access to registry: \"" +
                kDataKey + "\" (" + errnoText(EACCES) + ")");
  std::string dataPath = "x";
  keys.keys.clear();
  EXPECT_EQ(readKeys(log, keys, dataPath), 1);
  EXPECT_EQ(dataPath, "");
  keys.keys[kDataKey];
  EXPECT_EQ(readKeys(log, keys, dataPath), 1);
  EXPECT_EQ(events.events.back().text,
            "** Fejl: Cannot query registry key: \"DataPath\" (" + errnoText(ENOENT) + ")");
}

TEST_F(ServiceMain, DebugRunsOneCycleInTheKeysDataFolder) {
  keys.keys[kDataKey]["DataPath"] = {"DataPath", KeyValue::kExpandString, folder.path() + "/./", 0};
  rt.dataFolder.clear();
  folder.write("brovalt-7.dat", "job");
  std::vector<std::string> handled;
  int passwordRuns = 0;
  int settingsLoads = 0;
  EntryHooks hooks;
  hooks.handler = [&](Runtime&, const std::string& name) { handled.push_back(name); };
  hooks.loadSettings = [&](Runtime& r) {
    ++settingsLoads;
    EXPECT_EQ(r.log.openCount(), 1u);
    return 0;
  };
  hooks.passwordWatch = [&](Runtime& r) {
    // Runs until the cycle is over; the entry waits for it.
    while (r.state.load() == kRunning) r.ports.clock->waitForStop(std::chrono::milliseconds(1));
    ++passwordRuns;
  };
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-d"}), hooks), 0);
  EXPECT_EQ(rt.dataFolder, folder.path());
  EXPECT_EQ(handled, std::vector<std::string>{"brovalt-7.behandler"});
  EXPECT_EQ(folder.read("brovalt-7.slut"), "job");
  EXPECT_EQ(settingsLoads, 1);
  EXPECT_EQ(passwordRuns, 1);
  EXPECT_EQ(rt.state.load(), kStopped);
  EXPECT_EQ(log.openCount(), 0u);
}

TEST_F(ServiceMain, AtATerminalOnlyTheUsageIsShown) {
  test::CapturedStream out;
  log.setConsole(true);
  EntryHooks hooks;
  hooks.usageStream = out.get();
  int loads = 0;
  hooks.loadSettings = [&](Runtime&) { return ++loads; };
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-x"}), hooks), 0);
  EXPECT_EQ(out.text(), usageText());
  EXPECT_EQ(loads, 0);
  EXPECT_FALSE(host.served);
  EXPECT_TRUE(host.reported.empty());
  EXPECT_FALSE(exists("Tavlevagt.log"));
}

TEST_F(ServiceMain, ServiceModeRunsUntilStopped) {
  keys.keys[kDataKey]["DataPath"] = {"DataPath", KeyValue::kExpandString, folder.path(), 0};
  StoppingClock stopping;
  stopping.rt = &rt;
  stopping.stopAfter = 3;
  rt.ports.clock = &stopping;
  int registered = 0;
  host.whenRegistered = [&] {
    EXPECT_EQ(rt.state.load(), kStartPending);
    ++registered;
  };
  EXPECT_EQ(runEntry(rt, parseCommandLine({}), EntryHooks{}), 0);
  EXPECT_TRUE(host.served);
  EXPECT_EQ(registered, 1);
  EXPECT_EQ(stopping.stopWaits.size(), 3u);
  EXPECT_EQ(host.reported, std::vector<int>{kRunning});
  EXPECT_EQ(log.openCount(), 0u);
  // The manager's controls reach the control handler.
  ASSERT_TRUE(host.control);
  host.control(3);
  EXPECT_EQ(rt.state.load(), kRunning);
}

TEST_F(ServiceMain, AFailedControlRegistrationEndsTheService) {
  keys.keys[kDataKey]["DataPath"] = {"DataPath", KeyValue::kExpandString, folder.path(), 0};
  host.controlError = EPERM;
  EXPECT_EQ(runEntry(rt, parseCommandLine({}), EntryHooks{}), 0);
  EXPECT_EQ(logText(), "** Fejl: RegisterServiceCtrlHandler failed (" + errnoText(EPERM) + ")");
  EXPECT_TRUE(clock.stopWaits.empty());
  EXPECT_EQ(log.openCount(), 0u);
}

TEST_F(ServiceMain, OutsideTheServiceManagerNothingRunsAndTheDispatcherErrorIsLogged) {
  keys.keys[kDataKey]["DataPath"] = {"DataPath", KeyValue::kExpandString, folder.path(), 0};
  folder.write("brovalt-7.dat", "job");
  host.notStarted = ENOTCONN;
  int loads = 0;
  EntryHooks hooks;
  hooks.loadSettings = [&](Runtime&) { return ++loads; };
  hooks.passwordWatch = [&](Runtime&) { ++loads; };
  EXPECT_EQ(runEntry(rt, parseCommandLine({}), hooks), 0);
  EXPECT_EQ(loads, 0);
  EXPECT_FALSE(host.served);
  EXPECT_FALSE(host.control);
  EXPECT_EQ(folder.read("brovalt-7.dat"), "job");
  EXPECT_EQ(logText(), "** Fejl: StartServiceCtrlDispatcher error (" + errnoText(ENOTCONN) + ")");
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].type, EventType::Error);
  EXPECT_EQ(log.openCount(), 0u);
}

// Local files whose new files cannot be created (a read-only data folder:
// root, who runs the tests, may write anywhere else).
struct ReadOnlyFolder : LocalFiles {
  Opened openAppend(const std::string&) override { return {nullptr, platformError(EROFS)}; }
  Opened createUnique(const std::string&, std::string&) override {
    return {nullptr, platformError(EROFS)};
  }
  SystemError finish(std::FILE* f) override {
    std::fclose(f);
    return {};
  }
  SystemError readWhole(const std::string&, std::string&) override { return {}; }
  SystemError restrictToOwner(const std::string&) override { return {}; }
  Locked lockFolder(const std::string&) override {
    Locked l;
    if (heldElsewhere) {
      l.heldElsewhere = true;
      l.error = platformError(EWOULDBLOCK);
    } else {
      l.lock = std::make_unique<FolderLock>();
    }
    return l;
  }
  bool heldElsewhere = false;
};

TEST_F(ServiceMain, ADataFolderThatCannotBeUsedEndsTheRunWithAnErrorAndExitCode1) {
  keys.keys[kDataKey]["DataPath"] = {"DataPath", KeyValue::kExpandString, folder.path(), 0};
  folder.write("brovalt-7.dat", "job");
  ReadOnlyFolder files;
  rt.ports.localFiles = &files;
  const struct {
    const char* what;
    bool held;
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {"read-only, -d", false, {"-d"}, "\" kan ikke skrives: " + std::string(std::strerror(EROFS))},
      {"read-only, service", false, {}, "\" kan ikke skrives: "},
      {"another instance, -d", true, {"-d"}, "\" bruges allerede af en anden kørsel af Tavlevagt"},
      {"another instance, service", true, {}, "\" bruges allerede af en anden kørsel"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    files.heldElsewhere = c.held;
    events.events.clear();
    host.control = nullptr;
    test::CapturedStream err;
    EntryHooks hooks;
    hooks.errorStream = err.get();
    int runs = 0;
    hooks.loadSettings = [&](Runtime&) { return ++runs; };
    hooks.handler = [&](Runtime&, const std::string&) { ++runs; };
    EXPECT_EQ(runEntry(rt, parseCommandLine(c.args), hooks), 1);
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(host.control);  // the service never started
    EXPECT_EQ(folder.read("brovalt-7.dat"), "job");
    const std::string error = "** Fejl: Datamappen \"" + folder.path() + c.error;
    ASSERT_FALSE(events.events.empty());
    EXPECT_TRUE(startsWith(events.events.back().text, error)) << events.events.back().text;
    EXPECT_EQ(events.events.back().type, EventType::Error);
    if (c.args.empty()) {
      EXPECT_EQ(err.text(), "");  // the service has no terminal; the event log tells
    } else {
      EXPECT_TRUE(startsWith(err.text(), error)) << err.text();
    }
  }
}

TEST_F(ServiceMain, DebugEndsWithExitCode1AndTheReasonWhenAJobCouldNotBeDone) {
  keys.keys[kDataKey]["DataPath"] = {"DataPath", KeyValue::kExpandString, folder.path(), 0};
  folder.write("brovalt-7.dat", "job");
  RecordingStore store;
  store.acquired = {false, "Katalogfilen x kan ikke læses: line 3: \"attribute: value\" expected"};
  rt.ports.store = &store;
  test::CapturedStream err;
  EntryHooks hooks;
  hooks.errorStream = err.get();
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-d"}), hooks), 1);
  EXPECT_EQ(folder.read("brovalt-7.dat"), "job");
  EXPECT_NE(err.text().find(store.acquired.why), std::string::npos) << err.text();

  // Once the directory is there again, the same job is done and the run ends well.
  store.acquired = {};
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-d"}), hooks), 0);
  EXPECT_EQ(folder.read("brovalt-7.slut"), "job");
}

TEST_F(ServiceMain, CtrlCInDebugStopsAfterTheJobInHand) {
  keys.keys[kDataKey]["DataPath"] = {"DataPath", KeyValue::kExpandString, folder.path(), 0};
  folder.write("brovalt-7.dat", "job");
  EntryHooks hooks;
  hooks.handler = [&](Runtime& r, const std::string&) {
    ASSERT_TRUE(host.consoleStop);
    host.consoleStop();  // Ctrl-C while the job is in hand
    EXPECT_EQ(r.state.load(), kStopped);
  };
  EXPECT_EQ(runEntry(rt, parseCommandLine({"-d"}), hooks), 0);
  EXPECT_EQ(folder.read("brovalt-7.slut"), "job");
  EXPECT_NE(logText().find("-Stopper Tavlevagt ver. 7.2.0"), std::string::npos);
  EXPECT_EQ(processes.stopGraces.front(), 60000);
  // Registered for the run, and let go after it.
  EXPECT_EQ(host.consoleRegistrations, 2);
  EXPECT_FALSE(host.consoleStop);
}

}  // namespace
}  // namespace tv::test

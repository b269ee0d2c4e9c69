#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/posix/key_files.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_process_runner.h"
#include "platform/posix/proc_system_info.h"
#include "platform/posix/process_facts.h"
#include "platform/posix/systemd_host.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;
using Argv = std::vector<std::string>;

void writeScript(const TempFolder& folder, const std::string& name, const std::string& body) {
  folder.write(name, "#!/bin/sh\n" + body);
  fs::permissions(folder.file(name),
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

TEST(PosixProcessRunner, RunsTheArgumentVectorInTheFolderAndReportsTheExitCode) {
  TempFolder folder;
  // Prints each argument on its own line, the working folder and standard
  // input, and lists its open descriptors.
  writeScript(folder, "script/args.sh",
              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > out.txt\n"
              "pwd >> out.txt\nread line; echo \"stdin:$line\" >> out.txt\n"
              "ls -l /proc/$$/fd > fds.txt\nexit 3\n");
  // A descriptor the program holds (as the log file) must not reach the child.
  folder.write("secret", "");
  int held = ::open(folder.file("secret").c_str(), O_RDONLY);
  PosixProcessRunner runner;
  ProcessResult r =
      runner.run({"script/args.sh", "x;touch owned", "$(id)", "a b", ""}, folder.path());
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.waitResult, 0u);
  EXPECT_EQ(r.exitCode, 3u);
  ::close(held);
  EXPECT_EQ(folder.read("out.txt"), "x;touch owned\n$(id)\na b\n\n" + folder.path() + "\nstdin:\n");
  EXPECT_EQ(folder.read("fds.txt").find("secret"), std::string::npos);
  EXPECT_NE(folder.read("fds.txt").find("args.sh"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder.file("owned")));
}

TEST(PosixProcessRunner, ExitCodesAboveAByteWrapAndSignalsAdd128) {
  TempFolder folder;
  writeScript(folder, "exit259.sh", "exit 259\n");
  writeScript(folder, "killed.sh", "kill -9 $$\n");
  PosixProcessRunner runner;
  EXPECT_EQ(runner.run({folder.file("exit259.sh")}, "").exitCode, 3u);
  EXPECT_EQ(runner.run({folder.file("killed.sh")}, "").exitCode, 137u);
  ProcessResult missing = runner.run({folder.file("missing.sh")}, "");
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.startError, ENOENT);
  EXPECT_FALSE(runner.run({}, "").started);
}

TEST(PosixClock, WakeEndsTheWaitsForAStopButNoPlainSleep) {
  PosixClock clock;
  EXPECT_TRUE(clock.waitForStop(std::chrono::milliseconds(1)));
  auto waiter = std::async(std::launch::async, [&] {
    auto start = std::chrono::steady_clock::now();
    bool full = clock.waitForStop(std::chrono::minutes(5));
    return std::make_pair(full, std::chrono::steady_clock::now() - start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  clock.wake();
  auto [full, took] = waiter.get();
  EXPECT_FALSE(full);
  EXPECT_LT(took, std::chrono::minutes(1));
  EXPECT_FALSE(clock.waitForStop(std::chrono::minutes(5)));
  // The finishing cycle's own pauses (the waits of an account lookup) are
  // not cut short by the stop.
  auto start = std::chrono::steady_clock::now();
  clock.sleepFor(std::chrono::milliseconds(300));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

// The state of a process: its /proc stat letter, or 0 when it is gone.
char processState(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return 0;
  const std::size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

TEST(PosixProcessRunner, AChildStartsWithDefaultSignalsAndAProcessGroupOfItsOwn) {
  TempFolder folder;
  // The service ignores SIGPIPE (as libraries do); a script must not inherit that.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before {};
  ::sigaction(SIGPIPE, &ignore, &before);
  writeScript(folder, "facts.sh",
              "grep -E '^Sig(Ign|Blk):' /proc/self/status > signals.txt\n"
              "echo \"$$ $(cut -d' ' -f5 /proc/$$/stat)\" > group.txt\n");
  PosixProcessRunner runner;
  EXPECT_EQ(runner.run({folder.file("facts.sh")}, folder.path()).exitCode, 0u);
  ::sigaction(SIGPIPE, &before, nullptr);
  // The standard signals (1 to 31) as masks; glibc keeps its own two above them.
  std::istringstream signals(folder.read("signals.txt"));
  std::map<std::string, unsigned long long> masks;
  for (std::string name, hex; signals >> name >> hex;) masks[name] = std::stoull(hex, nullptr, 16);
  ASSERT_EQ(masks.size(), 2u) << folder.read("signals.txt");
  EXPECT_EQ(masks["SigBlk:"] & 0x7FFFFFFFull, 0u);
  EXPECT_EQ(masks["SigIgn:"] & 0x7FFFFFFFull, 0u);
  std::istringstream group(folder.read("group.txt"));
  std::string pid, pgid;
  group >> pid >> pgid;
  EXPECT_EQ(pid, pgid);
}

TEST(PosixProcessRunner, AfterAStopAHungProgramIsEndedWithItsGroupOnceItsGraceIsOver) {
  TempFolder folder;
  // A hook that never ends, with a child of its own.
  writeScript(folder, "hang.sh", "sleep 300 &\necho $! > child.pid\nsleep 300\n");
  writeScript(folder, "quick.sh", "sleep 0.1\n");
  PosixProcessRunner runner;
  auto hung =
      std::async(std::launch::async, [&] { return runner.run({"./hang.sh"}, folder.path()); });
  for (int i = 0; i < 3000 && folder.read("child.pid").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const pid_t child = std::stoi(folder.read("child.pid"));
  auto start = std::chrono::steady_clock::now();
  runner.endAfterStop(std::chrono::milliseconds(1500));
  // A program that ends within its grace is left alone.
  ProcessResult quick = runner.run({"./quick.sh"}, folder.path());
  EXPECT_FALSE(quick.endedAfterStop);
  EXPECT_EQ(quick.exitCode, 0u);
  ASSERT_EQ(hung.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  ProcessResult r = hung.get();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(r.endedAfterStop);
  EXPECT_EQ(r.exitCode, 128u + SIGKILL);
  // Its own child went with it (gone, or a zombie nobody has collected yet).
  for (int i = 0; i < 200 && processState(child) != 0 && processState(child) != 'Z'; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const char state = processState(child);
  EXPECT_TRUE(state == 0 || state == 'Z') << state;
  // One started after the stop gets its grace from its own start.
  start = std::chrono::steady_clock::now();
  ProcessResult later = runner.run({"sleep", "300"}, folder.path());
  EXPECT_TRUE(later.endedAfterStop);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(PosixProcessRunner, RunForOutputGivesWhatTheProgramPrinted) {
  PosixProcessRunner runner;
  std::string out;
  ProcessResult r = runner.runForOutput({"printf", "deactivating\\n"}, out);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(out, "deactivating\n");
  r = runner.runForOutput({"head", "-c", "100000", "/dev/zero"}, out);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(out.size(), 65536u);
  EXPECT_FALSE(runner.runForOutput({"/nonexistent/program"}, out).started);
}

TEST(ProcSystemInfo, UsedIsTotalLessAvailable) {
  auto s = ProcSystemInfo::parse(
      "MemTotal:       16000000 kB\nMemFree: 1 kB\nMemAvailable:    4000000 kB\n");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->totalBytes, 16000000ull * 1024);
  EXPECT_EQ(s->availableBytes, 4000000ull * 1024);
  EXPECT_EQ(s->loadPercent, 75u);
  EXPECT_FALSE(ProcSystemInfo::parse("MemTotal: 10 kB\n").has_value());
  EXPECT_FALSE(ProcSystemInfo::parse("MemTotal: 10 kB\nMemAvailable: 11 kB\n").has_value());
  EXPECT_TRUE(ProcSystemInfo().memory().has_value());
}

TEST(KeyFiles, ValuesRoundTripAndKeysAreFilesBelowTheRoot) {
  TempFolder root;
  KeyFiles keys(root.path() + "/etc");
  const std::string key = "Software\\MORENA\\Tavlevagt";
  EXPECT_EQ(keys.queryText(key, "DataPath").keyError, ENOENT);
  InstallKeys::Opened first = keys.createKey(key);
  EXPECT_EQ(first.error, 0);
  EXPECT_FALSE(first.existed);
  EXPECT_EQ(keys.queryText(key, "DataPath").valueError, ENOENT);
  const std::string odd = "/srv/a b\\c\nd%SystemRoot%=x";
  EXPECT_EQ(keys.setValue(key, {"DataPath", KeyValue::kExpandString, odd, 0}), 0);
  EXPECT_EQ(keys.setValue(key, {"TypesSupported", KeyValue::kDword, "", 7}), 0);
  EXPECT_EQ(keys.queryText(key, "DataPath").text, odd);
  EXPECT_EQ(keys.queryText(key, "TypesSupported").valueError, ENOENT);
  EXPECT_EQ(keys.keyPath(key), root.path() + "/etc/Software.MORENA.Tavlevagt.key");
  EXPECT_EQ(root.read("etc/Software.MORENA.Tavlevagt.key"),
            "DataPath=REG_EXPAND_SZ:/srv/a b\\\\c\\nd%SystemRoot%=x\nTypesSupported=REG_DWORD:7\n");
  EXPECT_TRUE(keys.createKey(key).existed);
  EXPECT_EQ(keys.deleteKey(key), 0);
  EXPECT_EQ(keys.deleteKey(key), ENOENT);
  // A root that cannot be made.
  root.write("file", "");
  EXPECT_EQ(KeyFiles(root.file("file/etc")).createKey(key).error, ENOTDIR);
}

std::string run(const Argv& argv, int* exitCode = nullptr) {
  std::string line;
  for (const auto& a : argv) line += "'" + a + "' ";
  std::string output;
  FILE* p = popen((line + "2>&1").c_str(), "r");
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  int status = pclose(p);
  if (exitCode != nullptr) *exitCode = WEXITSTATUS(status);
  return output;
}

TEST(SystemdServiceHost, TheUnitPassesSystemdAnalyzeVerify) {
  TempFolder units;
  PosixProcessRunner runner;
  SystemdServiceHost::Options o;
  o.unitFolder = units.path();
  o.execStart = {TAVLEVAGT_BINARY, "--config-root", "/etc/tavle vagt%"};
  o.systemctl.clear();
  o.processes = &runner;
  SystemdServiceHost host(o);
  ASSERT_EQ(host.openManager(), 0);
  EXPECT_EQ(host.openService(), ENOENT);
  ASSERT_EQ(host.createService(), 0);
  EXPECT_EQ(host.openService(), 0);
  std::string unit = units.read("tavlevagt.service");
  EXPECT_NE(unit.find(std::string("\nExecStart=") + TAVLEVAGT_BINARY +
                      " --config-root \"/etc/tavle vagt%%\"\n"),
            std::string::npos);
  // A stop waits for the job in hand however long it runs, and a failed
  // service is restarted, within a limit.
  for (const char* line : {"\nTimeoutStopSec=infinity\n", "\nKillMode=mixed\n",
                           "\nRestart=on-failure\n", "\nStartLimitBurst=3\n"}) {
    EXPECT_NE(unit.find(line), std::string::npos) << line;
  }
  int code = -1;
  std::string output = run({"systemd-analyze", "verify", host.unitPath()}, &code);
  EXPECT_EQ(code, 0) << output;
  EXPECT_EQ(output, "");
  EXPECT_EQ(host.deleteService(), 0);
  EXPECT_EQ(host.deleteService(), ENOENT);
  o.unitFolder = units.file("missing");
  EXPECT_EQ(SystemdServiceHost(o).openManager(), ENOENT);
}

// The package's unit is the one "-i" writes, plus its manual page and the
// sandbox, which suits only the package's data folder.
TEST(SystemdServiceHost, ThePackagedUnitIsTheOneInstallWritesWithItsSandbox) {
  std::ifstream in(TAVLEVAGT_PACKAGED_UNIT);
  const std::set<std::string> packageOnly = {
      "Documentation", "NoNewPrivileges", "ProtectSystem",          "StateDirectory",
      "PrivateTmp",    "ProtectHome",     "RestrictAddressFamilies"};
  std::string rest;
  std::set<std::string> sandbox;
  for (std::string line; std::getline(in, line);) {
    const std::string key = line.substr(0, line.find('='));
    if (line.starts_with("#")) continue;
    if (packageOnly.contains(key)) {
      sandbox.insert(key);
    } else {
      rest += line + "\n";
    }
  }
  // The comments may differ: the package's explain its sandbox as well.
  std::string written;
  std::istringstream unit(SystemdServiceHost::unitText({"/usr/sbin/tavlevagt"}));
  for (std::string line; std::getline(unit, line);) {
    if (!line.starts_with("#")) written += line + "\n";
  }
  EXPECT_EQ(rest, written);
  EXPECT_EQ(sandbox, packageOnly);
}

TEST(SystemdServiceHost, OnlyAStoppedOrFailedUnitCountsAsStopped) {
  TempFolder folder;
  PosixProcessRunner runner;
  // systemctl as it answers "is-active" for each state of the unit; it exits
  // 0 only for "active", as the real one does.
  auto activity = [&](const std::string& state) {
    writeScript(folder, "systemctl",
                "echo \"$@\" > " + folder.file("asked") + "\nprintf '" + state + "'\n[ \"" + state +
                    "\" = 'active\\n' ]\n");
    SystemdServiceHost::Options o;
    o.unitFolder = folder.path();
    o.systemctl = {folder.file("systemctl")};
    o.processes = &runner;
    return SystemdServiceHost(o).queryActivity();
  };
  using A = ServiceHost::Activity;
  const std::pair<std::string, A> cases[] = {
      {"active\\n", A::kInOperation},
      {"activating\\n", A::kInOperation},
      {"deactivating\\n", A::kInOperation},
      {"reloading\\n", A::kInOperation},
      {"inactive\\n", A::kStopped},
      {"failed\\n", A::kStopped},
      {"", A::kUnknown},  // no systemd to ask
  };
  for (const auto& [state, expected] : cases) {
    EXPECT_EQ(activity(state), expected) << state;
  }
  EXPECT_EQ(folder.read("asked"), "is-active tavlevagt.service\n");
  SystemdServiceHost::Options missing;
  missing.systemctl = {folder.file("missing")};
  missing.processes = &runner;
  EXPECT_EQ(SystemdServiceHost(missing).queryActivity(), A::kUnknown);
}

TEST(SystemdServiceHost, AProcessSystemdDidNotStartDoesNotRunAsTheService) {
  struct Saved {
    const char* name;
    std::optional<std::string> value;
  };
  std::vector<Saved> saved;
  for (const char* name : {"INVOCATION_ID", "NOTIFY_SOCKET", "SYSTEMD_EXEC_PID"}) {
    const char* v = std::getenv(name);
    saved.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
    ::unsetenv(name);
  }
  const std::string self = std::to_string(::getpid());
  const struct {
    std::vector<std::pair<const char*, std::string>> env;
    bool started;
  } cases[] = {
      {{}, false},  // a terminal, a pipe, cron
      {{{"INVOCATION_ID", "0f3a"}}, true},
      {{{"NOTIFY_SOCKET", "/run/systemd/notify"}}, true},
      {{{"INVOCATION_ID", "0f3a"}, {"SYSTEMD_EXEC_PID", self}}, true},
      // A script run by another service inherits its environment.
      {{{"INVOCATION_ID", "0f3a"}, {"SYSTEMD_EXEC_PID", "1"}}, false},
  };
  for (const auto& c : cases) {
    for (const auto& [name, value] : c.env) ::setenv(name, value.c_str(), 1);
    EXPECT_EQ(startedBySystemd(), c.started) << (c.env.empty() ? "" : c.env.back().second);
    for (const auto& [name, value] : c.env) ::unsetenv(name);
  }
  for (const Saved& s : saved) {
    if (s.value) ::setenv(s.name, s.value->c_str(), 1);
  }
  SystemdServiceHost::Options o;
  o.startedByManager = false;
  bool ran = false;
  EXPECT_EQ(SystemdServiceHost(o).runAsService([&] { ran = true; }), ENOTCONN);
  EXPECT_FALSE(ran);
  o.startedByManager = true;
  EXPECT_EQ(SystemdServiceHost(o).runAsService([&] { ran = true; }), 0);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tv::test

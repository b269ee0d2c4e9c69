#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>

#include "platform/posix/key_files.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_process_runner.h"
#include "platform/posix/proc_system_info.h"
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

TEST(PosixClock, WakeEndsASleepInProgressAndEveryLaterOne) {
  PosixClock clock;
  EXPECT_TRUE(clock.sleepFor(std::chrono::milliseconds(1)));
  auto sleeper = std::async(std::launch::async, [&] {
    auto start = std::chrono::steady_clock::now();
    bool slept = clock.sleepFor(std::chrono::minutes(5));
    return std::make_pair(slept, std::chrono::steady_clock::now() - start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  clock.wake();
  auto [slept, took] = sleeper.get();
  EXPECT_FALSE(slept);
  EXPECT_LT(took, std::chrono::minutes(1));
  EXPECT_FALSE(clock.sleepFor(std::chrono::minutes(5)));
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
  EXPECT_EQ(rest, SystemdServiceHost::unitText({"/usr/sbin/tavlevagt"}));
  EXPECT_EQ(sandbox, packageOnly);
}

TEST(SystemdServiceHost, ActivityComesFromSystemctlIsActive) {
  TempFolder folder;
  writeScript(folder, "active.sh", "echo \"$@\" > " + folder.file("asked") + "\nexit 0\n");
  writeScript(folder, "inactive.sh", "exit 3\n");
  PosixProcessRunner runner;
  auto activity = [&](Argv systemctl) {
    SystemdServiceHost::Options o;
    o.unitFolder = folder.path();
    o.systemctl = std::move(systemctl);
    o.processes = &runner;
    return SystemdServiceHost(o).queryActivity();
  };
  EXPECT_EQ(activity({folder.file("active.sh")}), ServiceHost::Activity::kActive);
  EXPECT_EQ(folder.read("asked"), "is-active --quiet tavlevagt.service\n");
  EXPECT_EQ(activity({folder.file("inactive.sh")}), ServiceHost::Activity::kInactive);
  EXPECT_EQ(activity({folder.file("missing.sh")}), ServiceHost::Activity::kUnknown);
}

}  // namespace
}  // namespace tv::test

// The built executable from the outside: at a terminal (a pseudo terminal),
// with "-i"/"-u" into a private configuration root, with "-d", and as the
// service that systemd would start, stopped by SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "binary_support.h"
#include "config/version.h"
#include "service/command_line.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;

TEST(Binary, AtATerminalNoArgumentOrAMalformedOptionPrintsTheUsage) {
  for (const Argv& args :
       {Argv{}, Argv{"-"}, Argv{"-dd"}, Argv{"d"}, Argv{"-x"}, Argv{"--config-root"}}) {
    EXPECT_EQ(runAtTerminal(args), usageText()) << (args.empty() ? "" : args[0]);
  }
}

TEST(Binary, InstallAndUninstallTwiceIntoAPrivateRoot) {
  Installed inst;
  const std::string dataKey = "Software\\MORENA\\Tavlevagt";
  const std::string eventKey =
      "System\\CurrentControlSet\\Services\\EventLog\\Application\\Tavlevagt";

  EXPECT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), "");
  EXPECT_EQ(inst.root.read("Software.MORENA.Tavlevagt.key"),
            "DataPath=REG_EXPAND_SZ:" + inst.data.path() + "\n");
  std::string unit = inst.root.read("tavlevagt.service");
  EXPECT_NE(unit.find(std::string("\nExecStart=") + fs::canonical(TAVLEVAGT_BINARY).string() +
                      " --config-root " + inst.root.path() + "\n"),
            std::string::npos)
      << unit;

  EXPECT_EQ(
      runAtTerminal(inst.with({"-i", inst.data.path()})),
      "Replacing existing keys: \"" + dataKey + "\"Replacing existing keys: \"" + eventKey + "\"");

  EXPECT_EQ(runAtTerminal(inst.with({"-u"})), "");
  EXPECT_FALSE(fs::exists(inst.root.file("tavlevagt.service")));
  EXPECT_FALSE(fs::exists(inst.root.file("Software.MORENA.Tavlevagt.key")));

  EXPECT_EQ(runAtTerminal(inst.with({"-u"})), "** Fejl: Cannot open service (" + errnoText(ENOENT) +
                                                  ")" + "** Fejl: Cannot delete registry keys: \"" +
                                                  dataKey + "\" (" + errnoText(ENOENT) + ")" +
                                                  "** Fejl: Cannot delete registry keys: \"" +
                                                  eventKey + "\" (" + errnoText(ENOENT) + ")");
}

// Removes the time stamps of the move lines so the rest can be compared exactly.
std::string withoutStamps(const std::string& log) {
  static const std::regex stamp(
      "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n");
  return std::regex_replace(log, stamp, "<time>");
}

TEST(Binary, DebugRunsOneCycleOverTheInstalledDataFolder) {
  Installed inst;
  ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), "");
  inst.data.write("brovalt-1.dat", "one");
  inst.data.write("brovalt-2.dat", "two");
  inst.data.write("brovalt-1.behandler", "left over");

  pid_t pid = startDetached(inst.with({"-d"}), inst.root.file("out.txt"));
  ASSERT_EQ(waitFor(pid, std::chrono::seconds(60)), 0);

  EXPECT_EQ(inst.data.read("brovalt-1.slut"), "one");
  EXPECT_EQ(inst.data.read("brovalt-2.slut"), "two");
  EXPECT_FALSE(fs::exists(inst.data.file("brovalt-1.behandler")));
  // The settings report comes first; the cycle's lines follow it. The jobs
  // hold no sections, so each only reaches the group section.
  std::string log = withoutStamps(cp1252ToUtf8(inst.data.read("Tavlevagt.log")));
  EXPECT_TRUE(endsWith(log,
                       "\n\n-<time> Flytter brovalt-1.dat til brovalt-1.behandler\n"
                       " Gruppe Sektion:\n"
                       "-<time> Flytter brovalt-1.behandler til brovalt-1.slut\n"
                       "\n-<time> Flytter brovalt-2.dat til brovalt-2.behandler\n"
                       " Gruppe Sektion:\n"
                       "-<time> Flytter brovalt-2.behandler til brovalt-2.slut\n"))
      << log;
}

TEST(Binary, WhatACrashLeftOfTemporaryFilesGoesAtTheStartLinksAndAll) {
  Installed inst;
  ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), "");
  TempFolder elsewhere;
  elsewhere.write("victim", "precious\n");
  for (const char* name :
       {"directory.ldif.ny", "directory.ldif.ny-Ab12Cd", "hentes-brovalt-3.dat-x"}) {
    inst.data.write(name, "half written");
  }
  fs::create_symlink(elsewhere.file("victim"), inst.data.file("directory.ldif.ny-Link01"));
  pid_t pid = startDetached(inst.with({"-d"}), inst.root.file("out.txt"));
  ASSERT_EQ(waitFor(pid, std::chrono::seconds(60)), 0) << inst.root.read("out.txt");
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(inst.data.path())) {
    left.push_back(e.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Tavlevagt.log", "directory.ldif"}));
  EXPECT_EQ(elsewhere.read("victim"), "precious\n");
}

TEST(Binary, TheServiceStopsOnSigtermAfterItsCycle) {
  Installed inst;
  ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), "");
  inst.data.write("brovalt-1.dat", "one");

  pid_t pid = startDetached(inst.folders(), inst.root.file("out.txt"), kStartedBySystemd);
  ASSERT_GT(pid, 0);
  // The first cycle has run once the job is done; the service then sleeps.
  ASSERT_TRUE(waitUntil([&] { return fs::exists(inst.data.file("brovalt-1.slut")); },
                        std::chrono::seconds(60)));
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(waitFor(pid, std::chrono::seconds(10)), 0);
  if (waitpid(pid, nullptr, WNOHANG) == 0) kill(pid, SIGKILL);

  std::string log = withoutStamps(cp1252ToUtf8(inst.data.read("Tavlevagt.log")));
  std::string stop = format("\n-<time>-Stopper Tavlevagt ver. 7.2.0 (17.06.2022) - (x64 %s %s)\n\n",
                            buildDate(), buildTime());
  EXPECT_TRUE(endsWith(log, stop)) << log;
}

TEST(Binary, AMissingDataFolderIsReportedNotACrash) {
  Installed inst;
  ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.file("gone")})), "");
  int exitCode = 0;
  std::string out = runAtTerminal(inst.with({"-d"}), &exitCode);
  // Told once, to the terminal and the event log, and the run ends at once.
  const std::string error = "** Fejl: Kan ikke læse datamappen \"" + inst.data.file("gone") +
                            "\"  (" + errnoText(ENOENT) + ")";
  EXPECT_EQ(out, error);
  EXPECT_EQ(exitCode, 1);
  EXPECT_FALSE(fs::exists(inst.data.file("gone")));
}

TEST(Binary, StartedOutsideSystemdItLogsTheDispatcherErrorAndDoesNothing) {
  Installed inst;
  ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), "");
  inst.data.write("brovalt-1.dat", "one");
  // From a pipe, cron or ">/dev/null": no terminal, and not systemd's.
  pid_t pid = startDetached(inst.folders(), inst.root.file("out.txt"));
  ASSERT_GT(pid, 0);
  const int exitCode = waitFor(pid, std::chrono::seconds(30));
  if (exitCode == -1) kill(pid, SIGKILL);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(inst.data.read("brovalt-1.dat"), "one");
  EXPECT_EQ(cp1252ToUtf8(inst.data.read("Tavlevagt.log")),
            "** Fejl: StartServiceCtrlDispatcher error (" + errnoText(ENOTCONN) + ")");
}

TEST(Binary, ASecondInstanceOnTheSameDataFolderSaysSoAndLeavesItAlone) {
  Installed inst;
  ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), "");
  inst.data.write("brovalt-1.dat", "one");
  pid_t service = startDetached(inst.folders(), inst.root.file("service.txt"), kStartedBySystemd);
  ASSERT_GT(service, 0);
  ASSERT_TRUE(waitUntil([&] { return fs::exists(inst.data.file("brovalt-1.slut")); },
                        std::chrono::seconds(60)));
  // The service sleeps five minutes now; a job dropped meanwhile is its own.
  inst.data.write("brovalt-2.dat", "two");
  for (const Environment& env : {Environment{}, kStartedBySystemd}) {
    const Argv args = env.empty() ? inst.with({"-d"}) : inst.folders();
    pid_t second = startDetached(args, inst.root.file("second.txt"), env);
    EXPECT_EQ(waitFor(second, std::chrono::seconds(30)), 1);
    // "-d" says so on standard error, the service in its log (and the event log).
    const std::string told =
        env.empty() ? inst.root.read("second.txt") : cp1252ToUtf8(inst.data.read("Tavlevagt.log"));
    EXPECT_NE(told.find("** Fejl: Datamappen \"" + inst.data.path() +
                        "\" bruges allerede af en anden kørsel af Tavlevagt"),
              std::string::npos)
        << told;
    EXPECT_EQ(inst.data.read("brovalt-2.dat"), "two");
  }
  ASSERT_EQ(kill(service, SIGTERM), 0);
  EXPECT_EQ(waitFor(service, std::chrono::seconds(30)), 0);
}

}  // namespace
}  // namespace tv::test

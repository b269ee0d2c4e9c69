// The built executable from the outside: at a terminal (a pseudo terminal),
// with "-i"/"-u" into a private configuration root, with "-d", and as the
// service that systemd would start, stopped by SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "config/version.h"
#include "service/command_line.h"
#include "support/fakes.h"
#include "text/text.h"

extern char** environ;

namespace tv::test {
namespace {

namespace fs = std::filesystem;
using Argv = std::vector<std::string>;

std::vector<char*> cArgs(Argv& argv) {
  std::vector<char*> out;
  for (auto& a : argv) out.push_back(a.data());
  out.push_back(nullptr);
  return out;
}

// Runs the program on a pseudo terminal and returns what it wrote there,
// with the terminal's "\r\n" turned back into "\n".
std::string runAtTerminal(Argv args) {
  args.insert(args.begin(), TAVLEVAGT_BINARY);
  std::vector<char*> argv = cArgs(args);
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string out;
  char buf[4096];
  for (;;) {
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    text += out[i];
  }
  return text;
}

// Starts the program with standard output and error in a file (no terminal).
pid_t startDetached(Argv args, const std::string& outputFile) {
  args.insert(args.begin(), TAVLEVAGT_BINARY);
  std::vector<char*> argv = cArgs(args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status, or -1 when the process did not end within the time.
int waitFor(pid_t pid, std::chrono::seconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// A configuration root whose keys point at a data folder; the unit goes to a
// private folder as well, so no test touches the machine's systemd.
struct Installed {
  TempFolder root;
  TempFolder data;
  Argv folders() const { return {"--config-root", root.path(), "--unit-folder", root.path()}; }
  Argv with(Argv more) const {
    Argv a = folders();
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
};

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

TEST(Binary, TheServiceStopsOnSigtermAfterItsCycle) {
  Installed inst;
  ASSERT_EQ(runAtTerminal(inst.with({"-i", inst.data.path()})), "");
  inst.data.write("brovalt-1.dat", "one");

  pid_t pid = startDetached(inst.folders(), inst.root.file("out.txt"));
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
  std::string out = runAtTerminal(inst.with({"-d"}));
  // Told at the start and again by the cycle that finds no folder to search.
  const std::string error = "** Fejl: Kan ikke læse datamappen \"" + inst.data.file("gone") +
                            "\"  (" + errnoText(ENOENT) + ")";
  EXPECT_TRUE(startsWith(out, error)) << out;
  EXPECT_TRUE(endsWith(out, error)) << out;
  EXPECT_FALSE(fs::exists(inst.data.file("gone")));
}

}  // namespace
}  // namespace tv::test

// "-i" and "-u" through the entry with the real unit writer and key files,
// against a stand-in for systemctl that says whether the unit runs.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/key_files.h"
#include "platform/posix/posix_process_runner.h"
#include "platform/posix/syslog_event_log.h"
#include "platform/posix/systemd_host.h"
#include "runtime/runtime.h"
#include "service/service_main.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;

struct Install : ::testing::Test {
  TempFolder root;
  FakeClock clock;
  RecordingEventLog events;
  char* consoleText = nullptr;
  std::size_t consoleSize = 0;
  std::FILE* console = open_memstream(&consoleText, &consoleSize);
  Log log{Log::Options{"", "Tavlevagt.log", &clock, &events, nullptr, true, console}};
  PosixProcessRunner processes;
  KeyFiles keys{root.file("etc")};
  std::unique_ptr<SystemdServiceHost> host;
  std::unique_ptr<Runtime> rt;

  Install() {
    // Answers "is-active" with the state in the file "state" ("inactive" without it).
    root.write("systemctl", "#!/bin/sh\n[ \"$1\" != is-active ] || cat " + root.file("state") +
                                " 2>/dev/null || echo inactive\n");
    fs::permissions(root.file("systemctl"), fs::perms::owner_all);
    fs::create_directories(root.file("units"));
    SystemdServiceHost::Options o;
    o.unitFolder = root.file("units");
    o.execStart = {"/usr/sbin/tavlevagt"};
    o.systemctl = {root.file("systemctl")};
    o.processes = &processes;
    host = std::make_unique<SystemdServiceHost>(o);
    Ports p;
    p.clock = &clock;
    p.keys = &keys;
    p.host = host.get();
    p.processes = &processes;
    rt = std::make_unique<Runtime>(log, p, "");
  }
  ~Install() override {
    std::fclose(console);
    std::free(consoleText);
  }
  // What the console showed since the last call.
  std::string shown() {
    std::fflush(console);
    std::string all(consoleText, consoleSize);
    std::string fresh = all.substr(seen_);
    seen_ = all.size();
    return fresh;
  }
  std::size_t seen_ = 0;
};

TEST_F(Install, TwiceThenUninstallRefusedWhileRunningThenDone) {
  const std::string dataKey = "Software\\MORENA\\Tavlevagt";
  const std::string eventKey =
      "System\\CurrentControlSet\\Services\\EventLog\\Application\\Tavlevagt";
  EXPECT_EQ(runEntry(*rt, parseCommandLine({"-i", "/srv/data"}), {}), 0);
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(root.read("units/tavlevagt.service"),
            SystemdServiceHost::unitText({"/usr/sbin/tavlevagt"}));
  EXPECT_EQ(keys.queryText(dataKey, "DataPath").text, "/srv/data");

  EXPECT_EQ(runEntry(*rt, parseCommandLine({"-i", "/srv/other"}), {}), 0);
  EXPECT_EQ(shown(), "Replacing existing keys: \"" + dataKey + "\"Replacing existing keys: \"" +
                         eventKey + "\"");
  EXPECT_EQ(keys.queryText(dataKey, "DataPath").text, "/srv/other");

  // Stopping: the process still works the data folder while its cycle ends.
  root.write("state", "deactivating\n");
  EXPECT_EQ(runEntry(*rt, parseCommandLine({"-u"}), {}), 0);
  EXPECT_EQ(shown(),
            "** Fejl: Service currently in operation - Stop service and rerun the uninstall. (" +
                errnoText(0) + ")");
  EXPECT_TRUE(fs::exists(root.file("units/tavlevagt.service")));
  EXPECT_FALSE(fs::exists(keys.keyPath(dataKey)));
  EXPECT_FALSE(fs::exists(keys.keyPath(eventKey)));

  root.write("state", "failed\n");
  EXPECT_EQ(runEntry(*rt, parseCommandLine({"-u"}), {}), 0);
  EXPECT_FALSE(fs::exists(root.file("units/tavlevagt.service")));
  const std::string gone = " (" + errnoText(ENOENT) + ")";
  EXPECT_EQ(shown(), "** Fejl: Cannot delete registry keys: \"" + dataKey + "\"" + gone +
                         "** Fejl: Cannot delete registry keys: \"" + eventKey + "\"" + gone);
  ASSERT_EQ(events.events.size(), 3u);
  EXPECT_EQ(events.events[0].type, EventType::Error);
}

TEST_F(Install, AMissingUnitFolderIsNoServiceManager) {
  fs::remove_all(root.file("units"));
  EXPECT_EQ(runEntry(*rt, parseCommandLine({"-i", "/srv/data"}), {}), 0);
  EXPECT_EQ(shown(),
            "** Fejl: Cannot initialize access to the service manager (" + errnoText(ENOENT) + ")");
  // The keys are written all the same.
  EXPECT_EQ(keys.queryText("Software\\MORENA\\Tavlevagt", "DataPath").text, "/srv/data");
}

TEST(SystemdNotify, ReadyAndStoppingReachTheNotifySocket) {
  TempFolder folder;
  std::string path = folder.file("notify");
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  SystemdServiceHost::Options o;
  o.notifySocket = path;
  SystemdServiceHost host(o);
  auto receive = [&] {
    char buf[256];
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
  };
  EXPECT_EQ(host.reportStatus(4), 0);
  EXPECT_EQ(receive(), "READY=1\nSTATUS=Running");
  EXPECT_EQ(host.reportStatus(1), 0);
  EXPECT_EQ(receive(), "STOPPING=1\nSTATUS=Stopping after the current cycle");
  EXPECT_EQ(host.reportStatus(7), 0);
  EXPECT_EQ(receive(), "");
  ::close(fd);
  SystemdServiceHost::Options none;
  EXPECT_EQ(SystemdServiceHost(none).reportStatus(4), 0);
  SystemdServiceHost::Options gone;
  gone.notifySocket = folder.file("nobody");
  EXPECT_EQ(SystemdServiceHost(gone).reportStatus(4), ENOENT);
}

TEST(SyslogEventLog, EventTypesMapToSyslogPriorities) {
  EXPECT_EQ(SyslogEventLog::priority(EventType::Error), LOG_ERR);
  EXPECT_EQ(SyslogEventLog::priority(EventType::Warning), LOG_WARNING);
  EXPECT_EQ(SyslogEventLog::priority(EventType::Information), LOG_INFO);
}

}  // namespace
}  // namespace tv::test

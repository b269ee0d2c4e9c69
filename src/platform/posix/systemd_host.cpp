#include "platform/posix/systemd_host.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace tv {
namespace {

// One ExecStart word: systemd expands "%" specifiers and "$" variables and
// splits at blanks, so a path is quoted and those characters are doubled.
std::string execWord(const std::string& word) {
  std::string out;
  bool quote = word.empty();
  for (char c : word) {
    if (c == '%' || c == '$') {
      out += c;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      quote = true;
    } else if (c == ' ' || c == '\t' || c == '\'' || c == ';') {
      quote = true;
    }
    out += c;
  }
  return quote ? "\"" + out + "\"" : out;
}

int writeFileWhole(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int err = 0;
  std::size_t done = 0;
  while (err == 0 && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) err = errno;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(tmp.c_str());
  return err;
}

}  // namespace

std::string SystemdServiceHost::unitText(const std::vector<std::string>& execStart) {
  std::string command;
  for (const std::string& w : execStart) command += (command.empty() ? "" : " ") + execWord(w);
  return "[Unit]\n"
         "Description=Tavlevagt - keeps the school's Active Directory in step with its registers\n"
         "Wants=network-online.target\n"
         "After=network-online.target\n"
         "# Restarted after a failure, but given up after three starts within an\n"
         "# hour; the job that was in hand waits as \".behandler\" (see the log).\n"
         "StartLimitIntervalSec=1h\n"
         "StartLimitBurst=3\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "NotifyAccess=main\n"
         "ExecStart=" +
         command +
         "\n"
         "KillSignal=SIGTERM\n"
         "# SIGTERM goes to the service alone: a hook or the archiver in progress\n"
         "# finishes with the cycle, and is ended only if it hangs a minute after the stop.\n"
         "KillMode=mixed\n"
         "TimeoutStartSec=5min\n"
         "# A stop waits for the job in hand: a first sync of a large school runs for\n"
         "# hours, and killing it would leave the job half-done as \".behandler\".\n"
         "TimeoutStopSec=infinity\n"
         "Restart=on-failure\n"
         "RestartSec=1min\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

std::string SystemdServiceHost::unitPath() const {
  return opt_.unitFolder + "/" + kUnitName;
}

int SystemdServiceHost::openManager() {
  struct stat st {};
  if (::stat(opt_.unitFolder.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (::access(opt_.unitFolder.c_str(), W_OK) != 0) return errno;
  return 0;
}

int SystemdServiceHost::createService() {
  if (opt_.execStart.empty()) return EINVAL;
  int err = writeFileWhole(unitPath(), unitText(opt_.execStart));
  if (err == 0) reload();
  return err;
}

int SystemdServiceHost::openService() {
  struct stat st {};
  if (::stat(unitPath().c_str(), &st) != 0) return errno;
  return 0;
}

ServiceHost::Activity SystemdServiceHost::activityOf(const std::string& state) {
  std::string word = state;
  while (!word.empty() && (word.back() == '\n' || word.back() == ' ')) word.pop_back();
  // No answer at all: systemctl could not reach systemd (none is running).
  if (word.empty()) return Activity::kUnknown;
  // Only a unit that is not running in any way may go; "activating" and
  // "deactivating" have a live process.
  if (word == "inactive" || word == "failed") return Activity::kStopped;
  return Activity::kInOperation;
}

ServiceHost::Activity SystemdServiceHost::queryActivity() {
  if (opt_.processes == nullptr || opt_.systemctl.empty()) return Activity::kUnknown;
  std::vector<std::string> argv = opt_.systemctl;
  argv.insert(argv.end(), {"is-active", kUnitName});
  std::string state;
  ProcessResult r = opt_.processes->runForOutput(argv, state);
  if (!r.started || r.waitResult != 0) return Activity::kUnknown;
  return activityOf(state);
}

int SystemdServiceHost::deleteService() {
  if (::unlink(unitPath().c_str()) != 0) return errno;
  reload();
  return 0;
}

void SystemdServiceHost::reload() {
  // Best effort: without a running systemd there is nothing to reload, and the
  // unit file is in place for the next boot all the same.
  if (opt_.processes == nullptr || opt_.systemctl.empty()) return;
  std::vector<std::string> argv = opt_.systemctl;
  argv.push_back("daemon-reload");
  (void)opt_.processes->run(argv, "");
}

int SystemdServiceHost::reportStatus(int state) {
  if (opt_.notifySocket.empty()) return 0;
  const char* text = state == 4   ? "READY=1\nSTATUS=Running"
                     : state == 1 ? "STOPPING=1\nSTATUS=Stopping after the current cycle"
                                  : nullptr;
  if (text == nullptr) return 0;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string& path = opt_.notifySocket;
  if (path.size() >= sizeof addr.sun_path || (path[0] != '/' && path[0] != '@')) return EINVAL;
  std::memcpy(addr.sun_path, path.data(), path.size());
  if (path[0] == '@') addr.sun_path[0] = '\0';  // an abstract socket
  socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int err = 0;
  if (::sendto(fd, text, std::strlen(text), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), len) <
      0) {
    err = errno;
  }
  ::close(fd);
  return err;
}

int SystemdServiceHost::runAsService(const std::function<void()>& serviceMain) {
  // Not started by systemd (a pipe, cron, a script): no service main, as the
  // dispatcher of a service control manager refuses a process it did not start.
  if (!opt_.startedByManager) return ENOTCONN;
  serviceMain();
  stop_.reset();  // the service is over: a later SIGTERM has nothing to stop
  return 0;
}

int SystemdServiceHost::registerControl(std::function<void(long code)> onControl) {
  // systemd's stop; StopSignal::block() ran first in main.
  stop_ = std::make_unique<StopSignal>([onControl = std::move(onControl)] { onControl(1); });
  return 0;
}

int SystemdServiceHost::registerConsoleStop(std::function<void()> onStop) {
  stop_.reset();
  if (onStop) stop_ = std::make_unique<StopSignal>(std::move(onStop));
  return 0;
}

}  // namespace tv

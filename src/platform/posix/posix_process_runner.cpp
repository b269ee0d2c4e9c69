#include "platform/posix/posix_process_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace tv {
namespace {

constexpr std::size_t kOutputBytes = 65536;

class FileActions {
 public:
  FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~FileActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }
  [[nodiscard]] bool ok() const { return ok_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attr_; }
  [[nodiscard]] bool ok() const { return ok_; }

 private:
  posix_spawnattr_t attr_{};
  bool ok_ = false;
};

// The child's start: no blocked signals (the service blocks its stop
// signals), every signal at its default (the service or a library may ignore
// SIGPIPE, which a script would otherwise inherit and never see a closed
// pipe), and a process group of its own.
int prepareAttributes(SpawnAttributes& attr) {
  if (!attr.ok()) return ENOMEM;
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  int err = posix_spawnattr_setsigmask(attr.get(), &none);
  if (err == 0) err = posix_spawnattr_setsigdefault(attr.get(), &all);
  if (err == 0) err = posix_spawnattr_setpgroup(attr.get(), 0);
  if (err == 0) {
    err = posix_spawnattr_setflags(
        attr.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  }
  return err;
}

void closeQuietly(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

PosixProcessRunner::~PosixProcessRunner() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
}

ProcessResult PosixProcessRunner::run(const std::vector<std::string>& argv,
                                      const std::string& cwd) {
  return spawnAndWait(argv, cwd, nullptr);
}

ProcessResult PosixProcessRunner::runForOutput(const std::vector<std::string>& argv,
                                               std::string& output) {
  output.clear();
  return spawnAndWait(argv, "", &output);
}

ProcessResult PosixProcessRunner::spawnAndWait(const std::vector<std::string>& argv,
                                               const std::string& cwd, std::string* output) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.startError = ENOENT;
    return result;
  }
  FileActions actions;
  SpawnAttributes attr;
  if (!actions.ok()) {
    result.startError = ENOMEM;
    return result;
  }
  int pipeEnds[2] = {-1, -1};
  if (output != nullptr && ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    result.startError = errno;
    return result;
  }
  int err = posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (err == 0 && output != nullptr)
    err = posix_spawn_file_actions_adddup2(actions.get(), pipeEnds[1], STDOUT_FILENO);
  if (err == 0) err = posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
  // A relative program name with a slash is found from the working directory,
  // as the data folder's "script/…" names expect.
  if (err == 0 && !cwd.empty())
    err = posix_spawn_file_actions_addchdir_np(actions.get(), cwd.c_str());
  if (err == 0) err = prepareAttributes(attr);
  if (err != 0) {
    closeQuietly(pipeEnds[0]);
    closeQuietly(pipeEnds[1]);
    result.startError = err;
    return result;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  {
    // Registered under the lock it is spawned in, so the watchdog never
    // misses a child that a stop should end.
    std::lock_guard lock(mutex_);
    err = posix_spawnp(&pid, args[0], actions.get(), attr.get(), args.data(), environ);
    if (err == 0) children_[pid] = Child{Clock::now(), false};
  }
  closeQuietly(pipeEnds[1]);
  if (err != 0) {
    closeQuietly(pipeEnds[0]);
    result.startError = err;
    return result;
  }
  changed_.notify_all();
  result.started = true;

  if (output != nullptr) {
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(pipeEnds[0], buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      const std::size_t room = kOutputBytes - std::min(kOutputBytes, output->size());
      output->append(buf, std::min(room, static_cast<std::size_t>(n)));
    }
    closeQuietly(pipeEnds[0]);
  }

  // Wait for the end without reaping, let go of the child, then reap it.
  siginfo_t info{};
  int waited;
  do {
    waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  } while (waited == -1 && errno == EINTR);
  {
    std::lock_guard lock(mutex_);
    result.endedAfterStop = children_[pid].ended;
    children_.erase(pid);
  }
  changed_.notify_all();
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid, &status, 0);
  } while (reaped == -1 && errno == EINTR);
  if (waited == -1 || reaped == -1) {
    result.waitResult = kWaitFailed;
    result.exitCode = kStillActive;
    return result;
  }
  if (WIFEXITED(status)) {
    result.exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    result.exitCode = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return result;
}

void PosixProcessRunner::endAfterStop(std::chrono::milliseconds grace) {
  {
    std::lock_guard lock(mutex_);
    if (!stopAt_) {
      stopAt_ = Clock::now();
      grace_ = grace;
    }
    if (!watchdog_.joinable()) watchdog_ = std::thread([this] { watch(); });
  }
  changed_.notify_all();
}

void PosixProcessRunner::watch() {
  std::unique_lock lock(mutex_);
  while (!closing_) {
    std::optional<Clock::time_point> next;
    const Clock::time_point now = Clock::now();
    for (auto& [pid, child] : children_) {
      if (child.ended) continue;
      const Clock::time_point deadline = std::max(*stopAt_, child.started) + grace_;
      if (deadline <= now) {
        // The child is not reaped before it leaves this list, so its id
        // still names its group.
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);  // in case it left its group
        child.ended = true;
      } else if (!next || deadline < *next) {
        next = deadline;
      }
    }
    if (next) {
      changed_.wait_until(lock, *next);
    } else {
      changed_.wait(lock);
    }
  }
}

}  // namespace tv

#include "platform/posix/posix_process_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tv {
namespace {

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

}  // namespace

ProcessResult PosixProcessRunner::run(const std::vector<std::string>& argv,
                                      const std::string& cwd) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.startError = ENOENT;
    return result;
  }
  FileActions actions;
  if (!actions.ok()) {
    result.startError = ENOMEM;
    return result;
  }
  int err = posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (err == 0) err = posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
  // A relative program name with a slash is found from the working directory,
  // as the data folder's "script/…" names expect.
  if (err == 0 && !cwd.empty())
    err = posix_spawn_file_actions_addchdir_np(actions.get(), cwd.c_str());
  if (err != 0) {
    result.startError = err;
    return result;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  // Children must not inherit a blocked stop signal from the service.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);

  pid_t pid = 0;
  err = posix_spawnp(&pid, args[0], actions.get(), &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (err != 0) {
    result.startError = err;
    return result;
  }
  result.started = true;
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited == -1 && errno == EINTR);
  if (waited == -1) {
    result.waitResult = kWaitFailed;
    result.exitCode = 259;
    return result;
  }
  if (WIFEXITED(status)) {
    result.exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    result.exitCode = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return result;
}

}  // namespace tv

#include "binary_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace tv::test {
namespace {

std::vector<char*> cArgs(Argv& argv) {
  std::vector<char*> out;
  for (auto& a : argv) out.push_back(a.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

std::string runAtTerminal(Argv args, int* exitCode) {
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
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::string text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    text += out[i];
  }
  return text;
}

std::string runAtTerminal(Argv args) {
  int exitCode = -1;
  std::string out = runAtTerminal(std::move(args), &exitCode);
  EXPECT_EQ(exitCode, 0) << out;
  return out;
}

pid_t startDetached(Argv args, const std::string& outputFile, const Environment& extra) {
  args.insert(args.begin(), TAVLEVAGT_BINARY);
  std::vector<char*> argv = cArgs(args);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const auto& [name, value] : extra) {
      replaced |= std::strncmp(*e, (name + "=").c_str(), name.size() + 1) == 0;
    }
    if (!replaced) env.emplace_back(*e);
  }
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  std::vector<char*> envp = cArgs(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int waitFor(pid_t pid, std::chrono::seconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
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

Installed::Installed() {
  data.write("directory.ldif", kEmptyDomain);
}

}  // namespace tv::test

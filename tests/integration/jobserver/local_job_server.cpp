#include "integration/jobserver/local_job_server.h"

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

extern char** environ;

namespace tv::test {

std::string RecordedRequest::header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (k == name) return v;
  }
  return "<none>";
}

LocalJobServer::LocalJobServer() {
  std::string python = TAVLEVAGT_PYTHON3;
  std::string script = TAVLEVAGT_JOB_SERVER_SCRIPT;
  std::string folder = folder_.path();
  std::string endWithParent = "--end-with-parent";
  char* argv[] = {python.data(), script.data(), folder.data(), endWithParent.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, python.c_str(), nullptr, nullptr, argv, environ) != 0) return;
  pid_ = pid;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(folder_.file("port"))) {
      port_ = std::stoi(folder_.read("port"));
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

LocalJobServer::~LocalJobServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

void LocalJobServer::set(const std::string& key, const std::string& value) {
  scenario_[key] = value;
  std::string text;
  for (const auto& [k, v] : scenario_) {
    text += k + " " + std::to_string(v.size()) + "\n" + v + "\n";
  }
  // Written aside and renamed, so the server never reads half a scenario.
  folder_.write("scenario.part", text);
  std::filesystem::rename(folder_.file("scenario.part"), folder_.file("scenario"));
}

std::vector<RecordedRequest> LocalJobServer::requests() const {
  std::vector<RecordedRequest> out;
  std::string all = folder_.read("requests");
  std::size_t pos = 0;
  auto line = [&]() {
    auto end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    std::string l = all.substr(pos, end - pos);
    pos = end + 1;
    return l;
  };
  while (pos < all.size()) {
    std::string l = line();
    if (l.rfind("REQUEST ", 0) != 0) break;
    RecordedRequest r;
    auto blank = l.find(' ', 8);
    r.method = l.substr(8, blank - 8);
    r.path = l.substr(blank + 1);
    for (l = line(); l.rfind("HEADER ", 0) == 0; l = line()) {
      auto colon = l.find(": ", 7);
      r.headers.emplace_back(l.substr(7, colon - 7), l.substr(colon + 2));
    }
    std::size_t length = std::stoul(l.substr(5));  // "BODY <n>"
    r.body = all.substr(pos, length);
    pos += length + 1;
    line();  // "END"
    out.push_back(std::move(r));
  }
  return out;
}

int closedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  close(s);  // bound but never listened on, and now closed: connections are refused
  return ntohs(addr.sin_port);
}

}  // namespace tv::test

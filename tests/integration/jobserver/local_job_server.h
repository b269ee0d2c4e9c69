// The local HTTPS job server of the integration tests (server.py) as a test
// object: started on a free loopback port with a fresh CA, told what to answer
// through its scenario file, and read back through its request record.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/fakes.h"

namespace tv::test {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header of that name, or "<none>".
  [[nodiscard]] std::string header(const std::string& name) const;
};

class LocalJobServer {
 public:
  LocalJobServer();
  ~LocalJobServer();
  LocalJobServer(const LocalJobServer&) = delete;
  LocalJobServer& operator=(const LocalJobServer&) = delete;

  [[nodiscard]] bool running() const { return port_ > 0; }
  [[nodiscard]] std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  [[nodiscard]] std::string caFile() const { return folder_.file("ca.pem"); }

  // One scenario entry ("list", "job:17", "fault:hentAdJobListe" …); read by
  // the server before each request.
  void set(const std::string& key, const std::string& value);
  [[nodiscard]] std::vector<RecordedRequest> requests() const;

 private:
  TempFolder folder_;
  std::map<std::string, std::string> scenario_;
  int pid_ = -1;
  int port_ = 0;
};

// A loopback port on which nothing listens.
[[nodiscard]] int closedPort();

}  // namespace tv::test

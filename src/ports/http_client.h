// HTTPS requests to the job server and its token endpoint. One call is one
// request on its own connection: nothing is kept between calls. Certificates
// are always verified; proxies come only from the settings, never from the
// environment. The result keeps apart "no answer" (transport failure, with the
// library's text) from "an answer with a status", because the job server
// client logs the two differently.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tv {

struct HttpRequest {
  std::string host;  // "name" (port 443) or "name:port"; "[::1]:8443" for IPv6
  std::string path;  // "/connect/token", "/api/123/1.0/hentAdJobListe" …
  std::string method = "POST";
  std::vector<std::string> headers;    // whole lines without CR LF: "Name: value"
  std::string body;                    // empty: sent with Content-Length 0
  std::string caFile;                  // empty: the system's trusted CAs
  std::chrono::seconds timeout{60};    // connect and whole exchange
  std::size_t maxBodyBytes = 3000000;  // a longer answer is abandoned (kTooLarge)
};

enum class HttpFailure {
  kNone,
  kTimeout,   // no complete answer within the time-out
  kConnect,   // host unknown, refused, unreachable
  kTls,       // handshake or certificate failed
  kTooLarge,  // the body exceeded maxBodyBytes
  kOther,     // dropped connection, malformed answer …
};

struct HttpResponse {
  HttpFailure failure = HttpFailure::kNone;
  std::string error;  // the library's text when failure != kNone
  long status = 0;    // 0 when no status line was received
  std::vector<std::pair<std::string, std::string>> headers;  // of the final answer
  std::optional<std::uint64_t> contentLength;                // only when the answer announced one
  std::string body;  // what arrived, complete only when failure == kNone

  [[nodiscard]] bool complete() const { return failure == HttpFailure::kNone; }
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpResponse send(const HttpRequest& request) = 0;
};

}  // namespace tv

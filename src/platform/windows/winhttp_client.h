// The HTTPS port over WinHTTP. As on Linux: HTTPS only, no redirects
// followed, no proxy (WinHTTP reads no proxy variables from the environment
// with direct access), the certificate and the server name always verified,
// one request per call, and the same failure kinds (time-out, connect, TLS,
// too large, other) for the job server client to log.
//
// The time-out bounds name resolution, connect, sending, the wait for the
// answer and the whole reading of the body.
//
// Trust: the machine's certificate store ("Trusted Root Certification
// Authorities"). A CA file (BrovaltCaFile) narrows that trust: the server's
// chain must then also lead to a certificate of that file. WinHTTP verifies
// before it sends anything, but only against the machine's store; trusting a
// CA from a file alone would mean sending the credentials before the
// certificate was checked, so a private CA must also be imported into the
// machine's store on Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ports/http_client.h"

namespace tv::win {

struct HostPort {
  std::string name;  // without the brackets of an IPv6 address
  std::uint16_t port = 443;
};

// "name", "name:port" or "[v6]:port"; none when the port is not a number
// from 1 to 65535 or the name is empty.
[[nodiscard]] std::optional<HostPort> splitHost(const std::string& host);

class WinHttpClient : public HttpClient {
 public:
  HttpResponse send(const HttpRequest& request) override;
};

}  // namespace tv::win

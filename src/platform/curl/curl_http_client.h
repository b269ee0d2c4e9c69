// The HTTPS port over libcurl. Every request verifies the server's
// certificate and name (against the configured CA file when one is given),
// ignores proxy variables in the environment, speaks HTTPS only and follows
// no redirects, so what is reached is decided by the settings file alone.
#pragma once

#include "ports/http_client.h"

namespace tv {

class CurlHttpClient : public HttpClient {
 public:
  CurlHttpClient();
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  HttpResponse send(const HttpRequest& request) override;
};

// "https://" + host + path, with a port of 443 when the host names none and
// a leading "/" added to a path that lacks it.
[[nodiscard]] std::string httpsUrl(const std::string& host, const std::string& path);

}  // namespace tv

// The job web service client: the OAuth 2.0 client-credentials token, the
// general request with its bearer token, the job download into the data
// folder and the log upload after each sync job file. Nothing is kept between
// calls; each exchange fetches its own token over the HttpClient port of the
// runtime.
//
// Job files are written under a temporary name and renamed into place, so
// neither the cycle nor the password thread ever finds one half-written; a
// failed download leaves any waiting file of the same name as it was.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "runtime/job_server.h"

namespace tv {

struct HttpResponse;

namespace jobserver {
// The answer of the token endpoint is small; a longer one is not a token.
inline constexpr std::size_t kTokenResponseBytes = 65536;
// Job content above this is refused whole: a job cut short would read as a
// full list with users missing.
inline constexpr std::size_t kJobContentBytes = 2999999;
inline constexpr std::size_t kAnswerBytes = 3000000;

// BrovaltPath + "/" + BrovaltInstnr + "/" + BrovaltVersion + "/" + name.
[[nodiscard]] std::string requestPath(const Settings& s, std::string_view name);
}  // namespace jobserver

class JobServerClient : public JobServer {
 public:
  // Receives the progress texts of the log upload ("Sender log fil...").
  using Output = std::function<void(std::string_view)>;

  // An empty output writes to standard output.
  explicit JobServerClient(Output output = {});

  void downloadJobs(Runtime& rt) override;
  void uploadLog(Runtime& rt, const std::string& baseName, const std::string& logText) override;

  // The token endpoint's answer when it gave status 200 with an announced,
  // non-zero length; nothing otherwise.
  [[nodiscard]] std::optional<std::string> fetchToken(Runtime& rt);

  // POST of the named request with the bearer token of tokenResponse; the
  // answer body when status 200 brought a complete, non-empty one.
  [[nodiscard]] std::optional<std::string> request(Runtime& rt, std::string_view tokenResponse,
                                                   std::string_view name, std::string_view body,
                                                   std::size_t maxAnswer = jobserver::kAnswerBytes);

 private:
  void saveJob(Runtime& rt, const std::string& fileName, const std::string& content);
  void say(std::string_view text);

  Output output_;
};

}  // namespace tv

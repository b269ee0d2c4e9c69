#include "jobserver/job_server_client.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "jobserver/job_text.h"
#include "ports/http_client.h"
#include "ports/local_files.h"
#include "runtime/data_folder.h"
#include "runtime/runtime.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr const char* kTokenPath = "/connect/token";
constexpr const char* kTokenBody = "grant_type=client_credentials";

std::chrono::seconds timeoutOf(const Runtime& rt) {
  return std::chrono::seconds(rt.settings.BrovaltTimeout > 0 ? rt.settings.BrovaltTimeout : 60);
}

// Why an exchange brought no usable answer, in the log's words.
std::string failureText(const HttpResponse& r, std::chrono::seconds timeout, std::size_t max) {
  switch (r.failure) {
    case HttpFailure::kTimeout:
      return format("intet svar inden for %lld sekunder", static_cast<long long>(timeout.count()));
    case HttpFailure::kTooLarge:
      return format("svaret er større end %zu bytes", max);
    default:
      return r.error;
  }
}

}  // namespace

namespace jobserver {
std::string requestPath(const Settings& s, std::string_view name) {
  std::string path = cutChars(s.BrovaltPath, 259);
  path += '/';
  path += cutChars(s.BrovaltInstnr, 511);
  path += '/';
  path += cutChars(s.BrovaltVersion, 511);
  path += '/';
  path += name;
  return path;
}
}  // namespace jobserver

JobServerClient::JobServerClient(Output output) : output_(std::move(output)) {}

void JobServerClient::say(std::string_view text) {
  if (output_) {
    output_(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::optional<std::string> JobServerClient::fetchToken(Runtime& rt) {
  HttpClient* http = rt.ports.http;
  if (http == nullptr) return std::nullopt;
  if (rt.settings.BrovaltTokenServer.empty()) {
    // Neither address set: no job server is in use, which is nothing to report.
    if (!rt.settings.BrovaltServer.empty()) {
      rt.log.message(1, "    externalAPIToken fejl: BrovaltTokenServer er ikke sat\n");
    }
    return std::nullopt;
  }

  HttpRequest req;
  req.host = cutChars(rt.settings.BrovaltTokenServer, 259);
  req.path = kTokenPath;
  // The credential is already the Base64 of id:secret; it is sent as it stands.
  req.headers = {"Authorization: Basic " + utf8ToCp1252(cutChars(rt.settings.BrovaltAuth, 259)),
                 "Content-Type: application/x-www-form-urlencoded"};
  req.body = kTokenBody;
  req.caFile = rt.settings.BrovaltCaFile;
  req.timeout = timeoutOf(rt);
  req.maxBodyBytes = jobserver::kTokenResponseBytes;

  HttpResponse r = http->send(req);
  if (!r.complete()) {
    rt.log.message(1, "    externalAPIToken fejl: %s\n",
                   failureText(r, req.timeout, req.maxBodyBytes).c_str());
    return std::nullopt;
  }
  // A refusal or an unannounced length give no token, silently.
  if (r.status != 200 || !r.contentLength || *r.contentLength == 0) {
    return std::nullopt;
  }
  return std::move(r.body);
}

std::optional<std::string> JobServerClient::request(Runtime& rt, std::string_view tokenResponse,
                                                    std::string_view name, std::string_view body,
                                                    std::size_t maxAnswer) {
  HttpClient* http = rt.ports.http;
  if (http == nullptr) return std::nullopt;
  auto token = jobserver::readToken(tokenResponse);
  if (!token) {
    rt.log.message(
        1, "    externalAPIRequest fejl: token-svaret mangler token_type eller access_token\n");
    return std::nullopt;
  }

  const std::string authorization = "Authorization: " + token->type + " " + token->access;
  const std::string contentType = "Content-Type: application/x-www-form-urlencoded;charset=UTF-8";
  HttpRequest req;
  req.host = cutChars(rt.settings.BrovaltServer, 259);
  req.path = jobserver::requestPath(rt.settings, name);
  req.headers = {authorization, contentType};
  req.body = std::string(body);
  req.caFile = rt.settings.BrovaltCaFile;
  req.timeout = timeoutOf(rt);
  req.maxBodyBytes = maxAnswer;

  HttpResponse r = http->send(req);
  if (r.status == 0 && !r.complete()) {
    // The bearer token stays out of the log; the length is that of what was sent.
    const std::size_t sentLength = authorization.size() + 2 + contentType.size();
    const std::string shown = "Authorization: " + token->type + " ***\r\n" + contentType;
    rt.log.message(1, "    externalAPIRequest else 3, %s, %d, %s, %d\n", shown.c_str(),
                   static_cast<int>(sentLength), req.body.c_str(),
                   static_cast<int>(req.body.size()));
    rt.log.message(1, "    externalAPIRequest fejl: %s\n",
                   failureText(r, req.timeout, maxAnswer).c_str());
    return std::nullopt;
  }
  if (r.status != 200) {
    rt.log.message(1, "    externalAPIRequest else 2 - address error, %d\n",
                   static_cast<int>(r.status));
    return std::nullopt;
  }
  if (!r.complete()) {
    // A body cut short is not an answer: a job saved from it would be missing records.
    rt.log.message(1, "    externalAPIRequest fejl: %s\n",
                   failureText(r, req.timeout, maxAnswer).c_str());
    return std::nullopt;
  }
  if (r.body.empty()) return std::nullopt;
  return std::move(r.body);
}

void JobServerClient::saveJob(Runtime& rt, const std::string& fileName,
                              const std::string& content) {
  const std::string finalPath = rt.dataPath(fileName);
  // Neither "brovalt*.dat" nor "kodevalt*.dat": no scan takes it up
  // half-written. A name of its own, made only by this call and readable by
  // the service alone: a job holds names and enciphered passwords.
  const std::string stem = rt.dataPath(std::string(kDownloadTempStem) + fileName + "-");
  const std::string bytes = jobserver::jobFileBytes(content);

  std::string partPath;
  std::FILE* f = nullptr;
  SystemError error;
  if (rt.ports.localFiles != nullptr) {
    LocalFiles::Opened o = rt.ports.localFiles->createUnique(stem, partPath);
    f = o.file;
    error = o.error;
  } else {
    partPath = stem + "tmp";
    f = openFile(partPath, "wx");
    if (f == nullptr) error = lastCLibraryError();
  }
  if (f == nullptr) {
    rt.log.message(1, "** Fejl: Kan ikke gemme %s: %s\n", fileName.c_str(),
                   fileErrorText(rt.log, error).c_str());
    return;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (!written) error = lastCLibraryError();
  SystemError closeError;
  if (rt.ports.localFiles != nullptr) {
    closeError = rt.ports.localFiles->finish(f);
  } else if (std::fclose(f) != 0) {
    closeError = lastCLibraryError();
  }
  if (written && closeError) error = closeError;
  std::error_code ec;
  if (!error) {
    std::filesystem::rename(pathFromUtf8(partPath), pathFromUtf8(finalPath), ec);
    if (!ec) return;
    error = ec;
  }
  rt.log.message(1, "** Fejl: Kan ikke gemme %s: %s\n", fileName.c_str(),
                 fileErrorText(rt.log, error).c_str());
  std::filesystem::remove(pathFromUtf8(partPath), ec);
}

void JobServerClient::downloadJobs(Runtime& rt) {
  auto token = fetchToken(rt);
  if (!token) return;
  auto list = request(rt, *token, "hentAdJobListe", {});
  if (!list) return;
  for (const auto& job : jobserver::readJobList(*list)) {
    if (!jobserver::safeJobId(job.id)) {
      rt.log.message(1, "** Fejl: Job-id fra jobserveren kan ikke bruges i et filnavn: \"%s\"\n",
                     job.id.c_str());
      continue;
    }
    auto content = request(rt, *token, "hentAdJob?brovaltId=" + jobserver::queryValue(job.id), {},
                           jobserver::kJobContentBytes);
    if (!content) continue;
    saveJob(rt, job.fileName(), *content);
  }
}

void JobServerClient::uploadLog(Runtime& rt, const std::string& baseName,
                                const std::string& logText) {
  auto token = fetchToken(rt);
  if (!token) return;
  auto id = jobserver::uploadJobId(baseName);
  if (!id) return;
  say("Sender log fil...");
  if (request(rt, *token, "gemAdJobsvar", jobserver::uploadBody(*id, logText))) {
    say("Log fil sendt");
  }
}

}  // namespace tv

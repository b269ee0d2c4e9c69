#include "platform/curl/curl_http_client.h"

#include <curl/curl.h>

#include <memory>

namespace tv {
namespace {

struct Transfer {
  std::string body;
  std::size_t maxBody = 0;
  bool tooLarge = false;
  std::vector<std::pair<std::string, std::string>> headers;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::size_t n = size * count;
  if (t->body.size() + n > t->maxBody) {
    t->tooLarge = true;
    return 0;  // makes libcurl abandon the transfer
  }
  t->body.append(data, n);
  return n;
}

std::string trimLine(std::string s) {
  while (!s.empty() &&
         (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) {
    s.pop_back();
  }
  std::size_t start = 0;
  while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
  return s.substr(start);
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::size_t n = size * count;
  std::string line(data, n);
  // An interim answer (100 Continue) is followed by the real one: keep only the last.
  if (line.rfind("HTTP/", 0) == 0) {
    t->headers.clear();
    return n;
  }
  auto colon = line.find(':');
  if (colon != std::string::npos) {
    t->headers.emplace_back(trimLine(line.substr(0, colon)), trimLine(line.substr(colon + 1)));
  }
  return n;
}

HttpFailure classify(CURLcode rc, bool tooLarge) {
  switch (rc) {
    case CURLE_OK:
      return HttpFailure::kNone;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::kTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::kConnect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpFailure::kTls;
    case CURLE_WRITE_ERROR:
      return tooLarge ? HttpFailure::kTooLarge : HttpFailure::kOther;
    default:
      return HttpFailure::kOther;
  }
}

struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

std::string httpsUrl(const std::string& host, const std::string& path) {
  std::string url = "https://" + host;
  if (path.empty() || path.front() != '/') url += '/';
  return url + path;
}

CurlHttpClient::CurlHttpClient() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
}
CurlHttpClient::~CurlHttpClient() {
  curl_global_cleanup();
}

HttpResponse CurlHttpClient::send(const HttpRequest& request) {
  HttpResponse out;
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) {
    out.failure = HttpFailure::kOther;
    out.error = "libcurl could not start a request";
    return out;
  }
  CURL* c = easy.get();
  Transfer transfer;
  transfer.maxBody = request.maxBodyBytes;
  char errorText[CURL_ERROR_SIZE] = {};
  std::string url = httpsUrl(request.host, request.path);
  long seconds = request.timeout.count() > 0 ? static_cast<long>(request.timeout.count()) : 60L;

  // Every header the server sees is one the caller chose, apart from Host,
  // User-Agent and Content-Length; libcurl's Accept and Expect are removed.
  curl_slist* raw = nullptr;
  for (const auto& h : request.headers) raw = curl_slist_append(raw, h.c_str());
  raw = curl_slist_append(raw, "Accept:");
  raw = curl_slist_append(raw, "Expect:");
  std::unique_ptr<curl_slist, ListDeleter> headers(raw);

  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_PROXY, "");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "ZEB/MORENA");
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, request.caFile.c_str());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, seconds);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, seconds);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  if (request.method == "POST") {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
  } else if (request.method != "GET") {
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);

  CURLcode rc = curl_easy_perform(c);

  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  curl_off_t length = -1;
  curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);

  out.failure = classify(rc, transfer.tooLarge);
  if (out.failure == HttpFailure::kTooLarge) {
    out.error = "the answer is larger than " + std::to_string(request.maxBodyBytes) + " bytes";
  } else if (rc != CURLE_OK) {
    out.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
  }
  out.status = status;
  out.headers = std::move(transfer.headers);
  if (length >= 0) out.contentLength = static_cast<std::uint64_t>(length);
  out.body = std::move(transfer.body);
  return out;
}

}  // namespace tv

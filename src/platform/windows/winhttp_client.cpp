#include "platform/windows/winhttp_client.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/windows/wide.h"

namespace tv::win {
namespace {

using Clock = std::chrono::steady_clock;

struct InternetCloser {
  void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

struct CertCloser {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
struct ChainCloser {
  void operator()(PCCERT_CHAIN_CONTEXT c) const { CertFreeCertificateChain(c); }
};

// WinHTTP's own text of one of its errors, or the system's.
std::string errorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  HMODULE module = GetModuleHandleW(L"winhttp.dll");
  if (code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST && module != nullptr)
    flags |= FORMAT_MESSAGE_FROM_HMODULE;
  const DWORD n =
      FormatMessageW(flags, module, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer != nullptr) text = toUtf8(std::wstring_view(buffer, n));
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return "WinHTTP error " + std::to_string(code) + (text.empty() ? "" : ": " + text);
}

// Wine's WinHTTP passes some socket errors through as they are, so those
// count the same as WinHTTP's own.
HttpFailure classify(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return HttpFailure::kTimeout;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
      return HttpFailure::kConnect;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
      return HttpFailure::kTls;
    default:
      return HttpFailure::kOther;
  }
}

// What the status callback learnt of a refused certificate.
struct SecureFailure {
  DWORD flags = 0;
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || context == 0) return;
  if (info != nullptr && length >= sizeof(DWORD)) {
    reinterpret_cast<SecureFailure*>(context)->flags = *static_cast<DWORD*>(info);
  }
}

std::string secureFailureText(DWORD flags) {
  std::string why;
  auto add = [&why](const char* text) { why += (why.empty() ? "" : ", ") + std::string(text); };
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
    add("the certificate authority is not trusted by this machine");
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
    add("the certificate does not name the server");
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) add("the certificate has expired");
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) add("the certificate is revoked");
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT) add("the certificate is invalid");
  return why;
}

// The certificates of a PEM file, DER-encoded; none when it cannot be read.
std::optional<std::vector<std::string>> readCaFile(const std::string& path) {
  std::ifstream in(toWide(path).c_str(), std::ios::binary);
  if (!in) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::vector<std::string> certs;
  for (std::size_t pos = text.find(kBegin); pos != std::string::npos;
       pos = text.find(kBegin, pos)) {
    const std::size_t end = text.find(kEnd, pos);
    if (end == std::string::npos) break;
    const std::string block = text.substr(pos, end + kEnd.size() - pos);
    DWORD size = 0;
    if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) &&
        size > 0) {
      std::string der(size, '\0');
      if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                               CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()),
                               &size, nullptr, nullptr)) {
        der.resize(size);
        certs.push_back(std::move(der));
      }
    }
    pos = end + kEnd.size();
  }
  if (certs.empty()) return std::nullopt;
  return certs;
}

// True when the chain of the server's certificate holds one of the CA file's
// certificates.
bool chainsTo(HINTERNET request, const std::vector<std::string>& anchors) {
  PCCERT_CONTEXT raw = nullptr;
  DWORD size = sizeof raw;
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) ||
      raw == nullptr) {
    return false;
  }
  std::unique_ptr<const CERT_CONTEXT, CertCloser> cert(raw);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT rawChain = nullptr;
  if (!CertGetCertificateChain(nullptr, cert.get(), nullptr, cert->hCertStore, &para, 0, nullptr,
                               &rawChain) ||
      rawChain == nullptr) {
    return false;
  }
  std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainCloser> chain(rawChain);
  if (chain->cChain == 0) return false;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  for (DWORD i = 0; i < simple->cElement; ++i) {
    const CERT_CONTEXT* c = simple->rgpElement[i]->pCertContext;
    const std::string_view der(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded);
    for (const std::string& a : anchors) {
      if (der == a) return true;
    }
  }
  return false;
}

// Header lines go out as the bytes they are: each byte one UTF-16 unit.
std::wstring headerBlock(const std::vector<std::string>& lines) {
  std::wstring out;
  for (const std::string& line : lines) {
    for (unsigned char c : line) out += static_cast<wchar_t>(c);
    out += L"\r\n";
  }
  return out;
}

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  std::size_t start = 0;
  while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
  return s.substr(start);
}

std::vector<std::pair<std::string, std::string>> responseHeaders(HINTERNET request) {
  std::vector<std::pair<std::string, std::string>> headers;
  DWORD size = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                      nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  if (size == 0) return headers;
  std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                           raw.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
    return headers;
  }
  raw.resize(size / sizeof(wchar_t));
  const std::string text = toUtf8(raw);
  std::size_t pos = text.find('\n');  // the status line is no header
  while (pos != std::string::npos && pos + 1 < text.size()) {
    const std::size_t next = text.find('\n', pos + 1);
    const std::string line =
        text.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0) {
      headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    pos = next;
  }
  return headers;
}

std::optional<std::uint64_t> contentLength(
    const std::vector<std::pair<std::string, std::string>>& headers) {
  for (const auto& [name, value] : headers) {
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), -1, "Content-Length", -1) !=
        CSTR_EQUAL) {
      continue;
    }
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
        value.size() > 19) {
      return std::nullopt;
    }
    return std::stoull(value);
  }
  return std::nullopt;
}

DWORD remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() <= 0 ? 1 : static_cast<DWORD>(left.count());
}

}  // namespace

std::optional<HostPort> splitHost(const std::string& host) {
  HostPort hp;
  std::string portText;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string::npos) return std::nullopt;
    hp.name = host.substr(1, close - 1);
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':') return std::nullopt;
      portText = host.substr(close + 2);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    const std::size_t colon = host.find(':');
    hp.name = host.substr(0, colon);
    if (colon != std::string::npos) {
      portText = host.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    }
  }
  if (hp.name.empty()) return std::nullopt;
  if (!portText.empty()) {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    const unsigned long port = std::stoul(portText);
    if (port == 0 || port > 65535) return std::nullopt;
    hp.port = static_cast<std::uint16_t>(port);
  }
  return hp;
}

HttpResponse WinHttpClient::send(const HttpRequest& request) {
  HttpResponse out;
  auto fail = [&out](HttpFailure kind, std::string text) {
    out.failure = kind;
    out.error = std::move(text);
    return out;
  };
  const std::optional<HostPort> host = splitHost(request.host);
  if (!host) return fail(HttpFailure::kConnect, "the server \"" + request.host + "\" is no host");
  std::optional<std::vector<std::string>> anchors;
  if (!request.caFile.empty()) {
    anchors = readCaFile(request.caFile);
    if (!anchors) {
      return fail(HttpFailure::kTls,
                  "the CA file \"" + request.caFile + "\" holds no readable certificate");
    }
  }

  // WinHTTP counts milliseconds in an int: a day is the longest wait it is given.
  const long long seconds =
      request.timeout.count() > 0 ? std::min<long long>(request.timeout.count(), 86400) : 60;
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  const int ms = static_cast<int>(seconds * 1000);

  Internet session(WinHttpOpen(L"ZEB/MORENA", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return fail(HttpFailure::kOther, errorText(GetLastError()));
  WinHttpSetTimeouts(session.get(), ms, ms, ms, ms);
  Internet connection(WinHttpConnect(session.get(), toWide(host->name).c_str(), host->port, 0));
  if (!connection) return fail(classify(GetLastError()), errorText(GetLastError()));

  std::string path = request.path;
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  Internet req(WinHttpOpenRequest(connection.get(), toWide(request.method).c_str(),
                                  toWide(path).c_str(), nullptr, WINHTTP_NO_REFERER,
                                  WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!req) return fail(HttpFailure::kOther, errorText(GetLastError()));
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(req.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
  DWORD noCookies = WINHTTP_DISABLE_COOKIES;
  WinHttpSetOption(req.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof noCookies);
  // Waiting for the answer has a time-out of its own, apart from the reads.
  DWORD waitMs = static_cast<DWORD>(ms);
  WinHttpSetOption(req.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &waitMs, sizeof waitMs);
  SecureFailure secure;
  WinHttpSetStatusCallback(req.get(), onStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);

  const std::wstring headers = headerBlock(request.headers);
  const DWORD bodyLength = static_cast<DWORD>(request.body.size());
  if (!WinHttpSendRequest(
          req.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
          headers.empty() ? 0 : static_cast<DWORD>(-1),
          bodyLength == 0 ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data()),
          bodyLength, bodyLength, reinterpret_cast<DWORD_PTR>(&secure))) {
    const DWORD err = GetLastError();
    std::string text = errorText(err);
    if (const std::string why = secureFailureText(secure.flags); !why.empty())
      text += " (" + why + ")";
    return fail(classify(err), text);
  }
  if (!WinHttpReceiveResponse(req.get(), nullptr)) {
    const DWORD err = GetLastError();
    return fail(classify(err), errorText(err));
  }
  if (anchors && !chainsTo(req.get(), *anchors)) {
    return fail(HttpFailure::kTls,
                "the server's certificate does not lead to a CA of \"" + request.caFile + "\"");
  }

  DWORD status = 0;
  DWORD size = sizeof status;
  if (WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    out.status = static_cast<long>(status);
  }
  out.headers = responseHeaders(req.get());
  out.contentLength = contentLength(out.headers);

  std::vector<char> buffer(16384);
  for (;;) {
    if (Clock::now() >= deadline)
      return fail(HttpFailure::kTimeout, errorText(ERROR_WINHTTP_TIMEOUT));
    DWORD left = remainingMs(deadline);
    WinHttpSetOption(req.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &left, sizeof left);
    DWORD got = 0;
    if (!WinHttpReadData(req.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
      const DWORD err = GetLastError();
      return fail(classify(err), errorText(err));
    }
    if (got == 0) break;
    if (out.body.size() + got > request.maxBodyBytes) {
      return fail(HttpFailure::kTooLarge,
                  "the answer is larger than " + std::to_string(request.maxBodyBytes) + " bytes");
    }
    out.body.append(buffer.data(), got);
  }
  // WinHTTP ends the body quietly when the connection closes early.
  if (out.contentLength && out.body.size() < *out.contentLength) {
    return fail(HttpFailure::kOther, "the connection closed after " +
                                         std::to_string(out.body.size()) + " of " +
                                         std::to_string(*out.contentLength) + " bytes");
  }
  return out;
}

}  // namespace tv::win

#include "platform/windows/winhttp_client.h"

#include <gtest/gtest.h>
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <wincrypt.h>
#include <windows.h>

#include <chrono>
#include <cwchar>
#include <map>

#include "platform/windows/wide.h"
#include "windows/windows_test_support.h"

namespace tv::win {
namespace {

using wintest::readFile;

// The server's folder (https-server.sh), as the fixture hands it over.
std::string serverFile(const std::string& name) {
  return wintest::windowsPath(wintest::env("TAVLEVAGT_HTTPS_DIR")) + "\\" + name;
}

std::string serverHost() {
  std::string port = readFile(serverFile("port"));
  while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
  // By name: Wine checks a certificate's DNS names but not its IP addresses.
  return "localhost:" + port;
}

struct Recorded {
  std::string method, path, body;
  std::multimap<std::string, std::string> headers;
  [[nodiscard]] std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "<none>" : it->second;
  }
};

// The server's request record (server.py).
std::vector<Recorded> recorded() {
  const std::string text = readFile(serverFile("requests"));
  std::vector<Recorded> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("REQUEST ", 0) == 0) {
      Recorded r;
      const std::size_t blank = line.find(' ', 8);
      r.method = line.substr(8, blank - 8);
      r.path = line.substr(blank + 1);
      out.push_back(r);
    } else if (line.rfind("HEADER ", 0) == 0 && !out.empty()) {
      const std::size_t colon = line.find(": ");
      out.back().headers.emplace(line.substr(7, colon - 7), line.substr(colon + 2));
    } else if (line.rfind("BODY ", 0) == 0 && !out.empty()) {
      const std::size_t length = std::stoul(line.substr(5));
      out.back().body = text.substr(pos, length);
      pos += length + 1;
    }
  }
  return out;
}

void scenario(const std::map<std::string, std::string>& entries) {
  std::string text;
  for (const auto& [key, value] : entries) {
    text += key + " " + std::to_string(value.size()) + "\n" + value + "\n";
  }
  wintest::writeFile(serverFile("scenario"), text);
  DeleteFileW(toWide(serverFile("requests")).c_str());
}

HttpRequest tokenRequest() {
  HttpRequest r;
  r.host = serverHost();
  r.path = "/connect/token";
  r.headers = {"Authorization: Basic dGVzdDpzZWNyZXQ=",
               "Content-Type: application/x-www-form-urlencoded"};
  r.body = "grant_type=client_credentials";
  r.timeout = std::chrono::seconds(20);
  return r;
}

HttpRequest jobRequest(const std::string& name) {
  HttpRequest r;
  r.host = serverHost();
  r.path = "/api/123/1.0/" + name;
  r.headers = {"Authorization: Bearer abc.def",
               "Content-Type: application/x-www-form-urlencoded;charset=UTF-8"};
  r.timeout = std::chrono::seconds(20);
  return r;
}

std::vector<std::string> certificatesOf(const std::string& pemFile) {
  const std::string pem = readFile(pemFile);
  DWORD size = 0;
  CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                       nullptr, &size, nullptr, nullptr);
  std::string der(size, '\0');
  CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                       reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr);
  return {der};
}

HCERTSTORE rootStore(DWORD where = CERT_SYSTEM_STORE_CURRENT_USER) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, where, L"ROOT");
}
// Every test CA of this or an earlier run that stopped half-way. Wine's
// CertDeleteCertificateFromStore does not reach a system store's registry,
// so the certificate's key (its SHA-1 hash) is deleted there.
void removeTestCas() {
  for (DWORD where : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
    HCERTSTORE store = rootStore(where);
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
         c = CertEnumCertificatesInStore(store, c)) {
      wchar_t name[256];
      CertGetNameStringW(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
      BYTE hash[20];
      DWORD size = sizeof hash;
      if (std::wstring(name) != L"Tavlevagt test CA" ||
          !CertGetCertificateContextProperty(c, CERT_HASH_PROP_ID, hash, &size)) {
        continue;
      }
      std::wstring key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
      for (BYTE b : hash) {
        wchar_t hex[3];
        swprintf(hex, 3, L"%02X", b);
        key += hex;
      }
      RegDeleteKeyW(
          where == CERT_SYSTEM_STORE_CURRENT_USER ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
          key.c_str());
    }
    CertCloseStore(store, 0);
  }
}

// The test CA among the trusted roots of the private Wine prefix, as a
// school's admin would import a private CA. Wine's chain engine reads the
// current user's roots only (on Windows they include the machine's).
class TrustedServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(wintest::env("TAVLEVAGT_HTTPS_DIR").empty());
    removeTestCas();
    // The store is written to the registry, where the chain engine reads it,
    // when it is closed.
    HCERTSTORE store = rootStore();
    ASSERT_NE(store, nullptr);
    const std::string der = certificatesOf(serverFile("ca.pem")).front();
    EXPECT_TRUE(CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertCloseStore(store, 0);
  }
  void TearDown() override { removeTestCas(); }

  WinHttpClient client;
};

TEST_F(TrustedServer, TheTokenRequestArrivesAsTheClientWroteIt) {
  scenario({});
  const HttpResponse r = client.send(tokenRequest());
  ASSERT_TRUE(r.complete()) << r.error;
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body,
            "{\"access_token\":\"abc.def\",\"expires_in\":3600,\"token_type\":\"Bearer\","
            "\"scope\":\"ad\"}");
  ASSERT_TRUE(r.contentLength.has_value());
  EXPECT_EQ(*r.contentLength, r.body.size());
  EXPECT_NE(std::find(r.headers.begin(), r.headers.end(),
                      std::make_pair(std::string("Content-Type"),
                                     std::string("text/plain; charset=utf-8"))),
            r.headers.end());

  const std::vector<Recorded> seen = recorded();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].path, "/connect/token");
  EXPECT_EQ(seen[0].header("Authorization"), "Basic dGVzdDpzZWNyZXQ=");
  EXPECT_EQ(seen[0].header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen[0].header("User-Agent"), "ZEB/MORENA");
  EXPECT_EQ(seen[0].header("Content-Length"), "29");
  EXPECT_EQ(seen[0].header("Host"), serverHost());
  EXPECT_EQ(seen[0].header("Accept"), "<none>");
  EXPECT_EQ(seen[0].body, "grant_type=client_credentials");
}

TEST_F(TrustedServer, AnswersAndFaultsAreToldApartAsOnLinux) {
  struct Case {
    std::string fault;
    std::size_t maxBody;
    HttpFailure failure;
    long status;
    bool announcedLength;
  };
  const std::string list = "17,18pwd";
  for (const Case& c : std::vector<Case>{
           {"", 3000000, HttpFailure::kNone, 200, true},
           {"404", 3000000, HttpFailure::kNone, 404, true},
           {"nolength", 3000000, HttpFailure::kNone, 200, false},
           {"drop", 3000000, HttpFailure::kOther, 0, false},
           {"cut", 3000000, HttpFailure::kOther, 200, true},
           {"big 5000", 4999, HttpFailure::kTooLarge, 200, true},
           {"big 5000", 5000, HttpFailure::kNone, 200, true},
       }) {
    scenario({{"list", list}, {"fault:hentAdJobListe", c.fault}});
    HttpRequest req = jobRequest("hentAdJobListe");
    req.maxBodyBytes = c.maxBody;
    const HttpResponse r = client.send(req);
    SCOPED_TRACE(c.fault + " max " + std::to_string(c.maxBody) + ": " + r.error);
    EXPECT_EQ(r.failure, c.failure);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.contentLength.has_value(), c.announcedLength);
    if (r.complete()) {
      const std::string want = c.fault == "404"               ? "fejl"
                               : c.fault.rfind("big", 0) == 0 ? std::string(5000, 'A')
                                                              : list;
      EXPECT_EQ(r.body, want);
    } else {
      EXPECT_FALSE(r.error.empty());
    }
    // An empty body goes out as "Content-Length: 0".
    const std::vector<Recorded> seen = recorded();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].header("Content-Length"), "0");
    EXPECT_EQ(seen[0].header("Authorization"), "Bearer abc.def");
  }
}

TEST_F(TrustedServer, ASlowServerTimesOutWithinTheTimeOut) {
  scenario({{"fault:hentAdJobListe", "slow 4"}});
  HttpRequest req = jobRequest("hentAdJobListe");
  req.timeout = std::chrono::seconds(1);
  const auto start = std::chrono::steady_clock::now();
  const HttpResponse r = client.send(req);
  EXPECT_EQ(r.failure, HttpFailure::kTimeout) << r.error;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));
}

TEST_F(TrustedServer, TheCaFileNarrowsTheTrust) {
  scenario({});
  HttpRequest req = tokenRequest();
  req.caFile = serverFile("ca.pem");
  HttpResponse r = client.send(req);
  EXPECT_TRUE(r.complete()) << r.error;

  req.caFile = serverFile("other-ca.pem");
  r = client.send(req);
  EXPECT_EQ(r.failure, HttpFailure::kTls);
  EXPECT_NE(r.error.find("other-ca.pem"), std::string::npos) << r.error;

  req.caFile = serverFile("missing.pem");
  r = client.send(req);
  EXPECT_EQ(r.failure, HttpFailure::kTls);
  EXPECT_NE(r.error.find("missing.pem"), std::string::npos) << r.error;
}

TEST_F(TrustedServer, ProxyVariablesInTheEnvironmentAreIgnored) {
  scenario({});
  for (const wchar_t* name : {L"http_proxy", L"https_proxy", L"HTTPS_PROXY", L"ALL_PROXY"}) {
    SetEnvironmentVariableW(name, L"http://127.0.0.1:9");
  }
  const HttpResponse r = client.send(tokenRequest());
  EXPECT_TRUE(r.complete()) << r.error;
}

// A loopback port on which nothing listens.
int closedPort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return ntohs(a.sin_port);
}

TEST(WinHttpClient, AServerThatIsNotThereOrNoHostIsAConnectFailure) {
  WinHttpClient client;
  HttpRequest req = tokenRequest();
  req.host = "127.0.0.1:" + std::to_string(closedPort());
  HttpResponse r = client.send(req);
  EXPECT_EQ(r.failure, HttpFailure::kConnect) << r.error;
  EXPECT_EQ(r.status, 0);
  req.host = "127.0.0.1:99999";
  EXPECT_EQ(client.send(req).failure, HttpFailure::kConnect);
}

TEST(WinHttpClient, AServerOutsideTheMachinesTrustGetsNothing) {
  removeTestCas();
  scenario({});
  WinHttpClient client;
  for (const std::string& caFile : {std::string(), serverFile("ca.pem")}) {
    HttpRequest req = tokenRequest();
    req.caFile = caFile;
    const HttpResponse r = client.send(req);
    EXPECT_EQ(r.failure, HttpFailure::kTls) << r.error;
  }
  // Neither attempt sent the credential.
  EXPECT_TRUE(recorded().empty());
}

TEST(WinHttpClient, HostsSplitIntoNameAndPort) {
  struct Case {
    std::string host;
    std::optional<HostPort> want;
  };
  for (const Case& c : std::vector<Case>{
           {"job.example", HostPort{"job.example", 443}},
           {"job.example:8443", HostPort{"job.example", 8443}},
           {"[::1]:8443", HostPort{"::1", 8443}},
           {"[fe80::1]", HostPort{"fe80::1", 443}},
           {"job.example:", std::nullopt},
           {"job.example:0", std::nullopt},
           {"job.example:65536", std::nullopt},
           {"job.example:44a", std::nullopt},
           {":443", std::nullopt},
           {"[::1", std::nullopt},
           {"", std::nullopt},
       }) {
    const std::optional<HostPort> got = splitHost(c.host);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.host;
    if (got) {
      EXPECT_EQ(got->name, c.want->name) << c.host;
      EXPECT_EQ(got->port, c.want->port) << c.host;
    }
  }
}

}  // namespace
}  // namespace tv::win

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "integration/jobserver/local_job_server.h"
#include "jobserver/job_server_client.h"
#include "platform/curl/curl_http_client.h"
#include "runtime/runtime.h"
#include "support/fakes.h"

namespace tv {
namespace {

using test::RecordedRequest;
using ::testing::MatchesRegex;
using Headers = std::vector<std::pair<std::string, std::string>>;

const std::string kBearerHeaders =
    "Authorization: Bearer abc.def\r\nContent-Type: "
    "application/x-www-form-urlencoded;charset=UTF-8";
// æ ø å Æ Ø Å in UTF-8, and U+0142 (l with stroke), which Windows-1252 has no byte for.
const std::string kSyncJob =
    "@*MEDA\r\nBl\xC3\xA6r;S\xC3\xB8ren;\xC3\x85se;\xC3\x86\xC3\x98\xC3\x85;Micha\xC5\x82\r\n";
const std::string kSyncJobOnDisk = "@*MEDA\r\nBl\xE6r;S\xF8ren;\xC5se;\xC6\xD8\xC5;Micha?\r\n";
const std::string kPasswordJob = "kodeord;\xC3\xA6\xC3\xB8\xC3\xA5\r\n";

struct JobServerTest : ::testing::Test {
  test::LocalJobServer server;
  test::LogFixture logs;
  test::TempFolder data;
  CurlHttpClient curl;
  Runtime rt{logs.log, Ports{.http = &curl}, data.path()};
  std::vector<std::string> said;
  JobServerClient client{[this](std::string_view s) { said.emplace_back(s); }};

  void SetUp() override {
    ASSERT_TRUE(server.running()) << "the local job server did not start";
    rt.settings.BrovaltServer = server.host();
    rt.settings.BrovaltTokenServer = server.host();
    rt.settings.BrovaltCaFile = server.caFile();
    rt.settings.BrovaltPath = "/api/brovalt";
    rt.settings.BrovaltInstnr = "280123";
    rt.settings.BrovaltVersion = "v1";
    rt.settings.BrovaltAuth = "dGVzdDpzZWNyZXQ=";
    rt.settings.BrovaltTimeout = 5;
    server.set("list", "17,18pwd");
    server.set("job:17", kSyncJob);
    server.set("job:18", kPasswordJob);
  }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(data.path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const auto& r : server.requests()) out.push_back(r.path);
    return out;
  }

  std::string hostHeader() const { return server.host(); }
};

TEST_F(JobServerTest, DownloadsASyncJobAndAPasswordJobIntoTheDataFolder) {
  client.downloadJobs(rt);

  EXPECT_EQ(files(), (std::vector<std::string>{"brovalt-17.dat", "kodevalt-18.dat"}));
  EXPECT_EQ(data.read("brovalt-17.dat"), kSyncJobOnDisk);
  EXPECT_EQ(data.read("kodevalt-18.dat"), "kodeord;\xE6\xF8\xE5\r\n");
  EXPECT_EQ(logs.text(), "");

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/connect/token");
  EXPECT_EQ(requests[0].headers, (Headers{{"Host", hostHeader()},
                                          {"User-Agent", "ZEB/MORENA"},
                                          {"Authorization", "Basic dGVzdDpzZWNyZXQ="},
                                          {"Content-Type", "application/x-www-form-urlencoded"},
                                          {"Content-Length", "29"}}));
  EXPECT_EQ(requests[0].body, "grant_type=client_credentials");

  EXPECT_EQ(paths(),
            (std::vector<std::string>{"/connect/token", "/api/brovalt/280123/v1/hentAdJobListe",
                                      "/api/brovalt/280123/v1/hentAdJob?brovaltId=17",
                                      "/api/brovalt/280123/v1/hentAdJob?brovaltId=18"}));
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].headers,
              (Headers{{"Host", hostHeader()},
                       {"User-Agent", "ZEB/MORENA"},
                       {"Authorization", "Bearer abc.def"},
                       {"Content-Type", "application/x-www-form-urlencoded;charset=UTF-8"},
                       {"Content-Length", "0"}}));
    EXPECT_EQ(requests[i].body, "");
  }
}

TEST_F(JobServerTest, UploadSendsTheLogTextInUtf8WithTheExactBodyAndHeaders) {
  const std::string logText =
      "-Fri Jun 17 10:42:52 2022 Flytter brovalt-17.dat\n   \xC3\x86g & s\xC3\xB8=100%\n";
  client.uploadLog(rt, "brovalt-17", logText);

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].path, "/api/brovalt/280123/v1/gemAdJobsvar");
  const std::string body = "brovaltId=17&loglinjer=" + logText;
  EXPECT_EQ(requests[1].body, body);
  EXPECT_EQ(requests[1].headers,
            (Headers{{"Host", hostHeader()},
                     {"User-Agent", "ZEB/MORENA"},
                     {"Authorization", "Bearer abc.def"},
                     {"Content-Type", "application/x-www-form-urlencoded;charset=UTF-8"},
                     {"Content-Length", std::to_string(body.size())}}));
  EXPECT_EQ(said, (std::vector<std::string>{"Sender log fil...", "Log fil sendt"}));
  EXPECT_EQ(logs.text(), "");
}

TEST_F(JobServerTest, AnEmptyCredentialIsRefusedSilently) {
  rt.settings.BrovaltAuth = "";
  client.downloadJobs(rt);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].header("Authorization"), "Basic ");
  EXPECT_EQ(logs.text(), "");
  EXPECT_TRUE(files().empty());
}

TEST_F(JobServerTest, ATokenWithoutAnnouncedLengthGivesNoToken) {
  server.set("fault:token", "nolength");
  client.downloadJobs(rt);
  EXPECT_EQ(paths(), (std::vector<std::string>{"/connect/token"}));
  EXPECT_EQ(logs.text(), "");
}

TEST_F(JobServerTest, ATokenAnswerWithoutTheMembersSendsNoRequest) {
  server.set("token", R"({"access_token": "abc.def", "token_type": "Bearer"})");
  client.downloadJobs(rt);
  EXPECT_EQ(paths(), (std::vector<std::string>{"/connect/token"}));
  EXPECT_EQ(logs.text(),
            "    externalAPIRequest fejl: token-svaret mangler token_type eller access_token\n");
}

TEST_F(JobServerTest, StatusAnswersAreAddressErrors) {
  server.set("fault:hentAdJobListe", "404");
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(), "    externalAPIRequest else 2 - address error, 404\n");

  server.set("fault:hentAdJobListe", "");
  server.set("fault:hentAdJob?brovaltId=17", "500");
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(),
            "    externalAPIRequest else 2 - address error, 404\n"
            "    externalAPIRequest else 2 - address error, 500\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"kodevalt-18.dat"}));
}

TEST_F(JobServerTest, ASlowServerTimesOutWithALogLineAndNoTokenInIt) {
  rt.settings.BrovaltTimeout = 1;
  server.set("fault:hentAdJobListe", "slow 4");
  auto start = std::chrono::steady_clock::now();
  client.downloadJobs(rt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(logs.text(),
            "    externalAPIRequest else 3, Authorization: Bearer ***\r\n"
            "Content-Type: application/x-www-form-urlencoded;charset=UTF-8, " +
                std::to_string(kBearerHeaders.size()) +
                ", , 0\n"
                "    externalAPIRequest fejl: intet svar inden for 1 sekunder\n");
  EXPECT_TRUE(files().empty());
}

TEST_F(JobServerTest, ADroppedConnectionSkipsThatJobAndKeepsTheWaitingFile) {
  data.write("brovalt-17.dat", "waiting\n");
  server.set("fault:hentAdJob?brovaltId=17", "drop");
  client.downloadJobs(rt);
  EXPECT_EQ(data.read("brovalt-17.dat"), "waiting\n");
  EXPECT_EQ(data.read("kodevalt-18.dat"), "kodeord;\xE6\xF8\xE5\r\n");
  EXPECT_EQ(logs.text(),
            "    externalAPIRequest else 3, Authorization: Bearer ***\r\n"
            "Content-Type: application/x-www-form-urlencoded;charset=UTF-8, " +
                std::to_string(kBearerHeaders.size()) +
                ", , 0\n"
                "    externalAPIRequest fejl: Empty reply from server\n");
}

TEST_F(JobServerTest, ABodyCutShortIsNotSaved) {
  server.set("fault:hentAdJob?brovaltId=17", "cut");
  client.downloadJobs(rt);
  EXPECT_EQ(files(), (std::vector<std::string>{"kodevalt-18.dat"}));
  EXPECT_EQ(logs.text(),
            "    externalAPIRequest fejl: transfer closed with 100 bytes remaining to read\n");
}

TEST_F(JobServerTest, ABodyWithoutContentLengthIsReadToTheEnd) {
  server.set("fault:hentAdJob?brovaltId=17", "nolength");
  client.downloadJobs(rt);
  EXPECT_EQ(data.read("brovalt-17.dat"), kSyncJobOnDisk);
  EXPECT_EQ(logs.text(), "");
}

TEST_F(JobServerTest, AJobAboveTheLimitIsRefusedWholeOneAtTheLimitIsSaved) {
  server.set("fault:hentAdJob?brovaltId=17", "big 3000000");
  server.set("fault:hentAdJob?brovaltId=18", "big 2999999");
  client.downloadJobs(rt);
  EXPECT_EQ(files(), (std::vector<std::string>{"kodevalt-18.dat"}));
  EXPECT_EQ(std::filesystem::file_size(data.file("kodevalt-18.dat")), 2999999u);
  EXPECT_EQ(logs.text(), "    externalAPIRequest fejl: svaret er større end 2999999 bytes\n");
}

TEST_F(JobServerTest, AGarbageListNamesNoFileOutsideTheDataFolder) {
  server.set("list", "<html><body>502</body></html>");
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(),
            "** Fejl: Job-id fra jobserveren kan ikke bruges i et filnavn: "
            "\"<html><body>502</body></html>\"\n");
  EXPECT_EQ(server.requests().size(), 2u);
  EXPECT_TRUE(files().empty());
}

TEST_F(JobServerTest, ATokenServerThatIsDownIsLogged) {
  int port = test::closedPort();
  rt.settings.BrovaltTokenServer = "127.0.0.1:" + std::to_string(port);
  client.downloadJobs(rt);
  client.uploadLog(rt, "brovalt-17", "x");
  EXPECT_TRUE(said.empty());
  const std::string line = "    externalAPIToken fejl: Failed to connect to 127\\.0\\.0\\.1 port " +
                           std::to_string(port) + " after [0-9]+ ms: Couldn't connect to server\n";
  EXPECT_THAT(logs.text(), MatchesRegex(line + line));
}

TEST_F(JobServerTest, AJobServerThatIsDownIsLoggedAndTheUploadReportsNoSuccess) {
  int port = test::closedPort();
  rt.settings.BrovaltServer = "127.0.0.1:" + std::to_string(port);
  client.uploadLog(rt, "brovalt-17", "a&b");
  EXPECT_EQ(said, (std::vector<std::string>{"Sender log fil..."}));
  EXPECT_THAT(
      logs.text(),
      MatchesRegex("    externalAPIRequest else 3, Authorization: Bearer \\*\\*\\*\r\n"
                   "Content-Type: application/x-www-form-urlencoded;charset=UTF-8, " +
                   std::to_string(kBearerHeaders.size()) +
                   ", brovaltId=17&loglinjer=a&b, 26\n"
                   "    externalAPIRequest fejl: Failed to connect to 127\\.0\\.0\\.1 port " +
                   std::to_string(port) + " after [0-9]+ ms: Couldn't connect to server\n"));
}

TEST_F(JobServerTest, AServerOutsideTheConfiguredCaIsNotTrusted) {
  rt.settings.BrovaltCaFile = "";
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(),
            "    externalAPIToken fejl: SSL certificate problem: unable to get local issuer "
            "certificate\n");
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(JobServerTest, ProxyVariablesInTheEnvironmentAreIgnored) {
  const std::string proxy = "http://127.0.0.1:" + std::to_string(test::closedPort());
  for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    setenv(name, proxy.c_str(), 1);
  }
  client.downloadJobs(rt);
  for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  EXPECT_EQ(files(), (std::vector<std::string>{"brovalt-17.dat", "kodevalt-18.dat"}));
  EXPECT_EQ(logs.text(), "");
}

}  // namespace
}  // namespace tv

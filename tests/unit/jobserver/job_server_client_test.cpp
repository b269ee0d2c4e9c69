#include "jobserver/job_server_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "platform/posix/posix_local_files.h"
#include "ports/http_client.h"
#include "runtime/runtime.h"
#include "support/fakes.h"

namespace tv {
namespace {

const std::string kToken =
    R"({"access_token":"abc.def","expires_in":3600,"token_type":"Bearer","scope":"ad"})";
const std::string kContentType = "Content-Type: application/x-www-form-urlencoded;charset=UTF-8";

HttpResponse answer(long status, std::string body) {
  HttpResponse r;
  r.status = status;
  r.contentLength = body.size();
  r.body = std::move(body);
  return r;
}

HttpResponse failed(HttpFailure failure, std::string text, long status = 0) {
  HttpResponse r;
  r.failure = failure;
  r.error = std::move(text);
  r.status = status;
  return r;
}

// A job server in memory: answers by request name, records every request.
class FakeHttp : public HttpClient {
 public:
  std::vector<HttpRequest> requests;
  HttpResponse token = answer(200, kToken);
  std::string list = "17,18pwd";
  std::map<std::string, HttpResponse> byName;  // overrides, keyed by request name
  std::map<std::string, std::string> jobs{{"17", "MEDA\n"}, {"18", "kode\n"}};

  HttpResponse send(const HttpRequest& r) override {
    requests.push_back(r);
    if (r.path == "/connect/token") return token;
    std::string name = r.path.substr(r.path.rfind('/') + 1);
    if (auto it = byName.find(name); it != byName.end()) return it->second;
    if (name == "hentAdJobListe") return answer(200, list);
    if (name.rfind("hentAdJob?brovaltId=", 0) == 0) {
      auto it = jobs.find(name.substr(20));
      return it == jobs.end() ? answer(404, "") : answer(200, it->second);
    }
    if (name == "gemAdJobsvar") return answer(200, "OK");
    return answer(404, "");
  }
};

struct ClientTest : ::testing::Test {
  test::LogFixture logs;
  test::TempFolder data;
  FakeHttp http;
  PosixLocalFiles localFiles;
  Runtime rt{logs.log, Ports{.http = &http, .localFiles = &localFiles}, data.path()};
  std::vector<std::string> said;
  JobServerClient client{[this](std::string_view s) { said.emplace_back(s); }};

  ClientTest() {
    rt.settings.BrovaltServer = "jobs.skole.test";
    rt.settings.BrovaltTokenServer = "login.skole.test";
    rt.settings.BrovaltPath = "/api";
    rt.settings.BrovaltInstnr = "280123";
    rt.settings.BrovaltVersion = "v1";
    rt.settings.BrovaltAuth = "dGVzdDpzZWNyZXQ=";
    rt.settings.BrovaltCaFile = "/etc/tavlevagt/ca.pem";
    rt.settings.BrovaltTimeout = 7;
  }

  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(data.path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

using Headers = std::vector<std::string>;

TEST_F(ClientTest, TokenRequestIsTheClientCredentialsGrant) {
  ASSERT_EQ(client.fetchToken(rt), kToken);
  ASSERT_EQ(http.requests.size(), 1u);
  const HttpRequest& r = http.requests[0];
  EXPECT_EQ(r.host, "login.skole.test");
  EXPECT_EQ(r.path, "/connect/token");
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.headers, (Headers{"Authorization: Basic dGVzdDpzZWNyZXQ=",
                                "Content-Type: application/x-www-form-urlencoded"}));
  EXPECT_EQ(r.body, "grant_type=client_credentials");
  EXPECT_EQ(r.body.size(), 29u);
  EXPECT_EQ(r.caFile, "/etc/tavlevagt/ca.pem");
  EXPECT_EQ(r.timeout, std::chrono::seconds(7));
}

TEST_F(ClientTest, TokenFailuresGiveNoTokenAndOnlyTransportFailuresAreLogged) {
  rt.settings.BrovaltAuth = "";
  http.token = answer(401, R"({"error":"invalid_client"})");
  EXPECT_EQ(client.fetchToken(rt), std::nullopt);
  EXPECT_EQ(http.requests.back().headers[0], "Authorization: Basic ");

  http.token = answer(200, kToken);
  http.token.contentLength.reset();
  EXPECT_EQ(client.fetchToken(rt), std::nullopt);

  http.token = answer(200, "");
  EXPECT_EQ(client.fetchToken(rt), std::nullopt);

  EXPECT_EQ(logs.text(), "");

  http.token = failed(HttpFailure::kOther, "transfer closed with 12 bytes remaining to read", 200);
  EXPECT_EQ(client.fetchToken(rt), std::nullopt);
  http.token = failed(HttpFailure::kTimeout, "Operation timed out");
  EXPECT_EQ(client.fetchToken(rt), std::nullopt);
  http.token = failed(HttpFailure::kTooLarge, "", 200);
  EXPECT_EQ(client.fetchToken(rt), std::nullopt);
  EXPECT_EQ(logs.text(),
            "    externalAPIToken fejl: transfer closed with 12 bytes remaining to read\n"
            "    externalAPIToken fejl: intet svar inden for 7 sekunder\n"
            "    externalAPIToken fejl: svaret er større end 65536 bytes\n");
}

TEST_F(ClientTest, NoAddressesMeanNoJobServerAndNoTraffic) {
  rt.settings.BrovaltTokenServer = "";
  rt.settings.BrovaltServer = "";
  client.downloadJobs(rt);
  client.uploadLog(rt, "brovalt-17", "x");
  EXPECT_TRUE(http.requests.empty());
  EXPECT_TRUE(said.empty());
  EXPECT_EQ(logs.text(), "");
}

TEST_F(ClientTest, AJobServerWithoutTokenServerIsReportedNotContacted) {
  rt.settings.BrovaltTokenServer = "";
  client.downloadJobs(rt);
  EXPECT_TRUE(http.requests.empty());
  EXPECT_EQ(logs.text(), "    externalAPIToken fejl: BrovaltTokenServer er ikke sat\n");
}

TEST_F(ClientTest, DownloadAsksForTheListAndEachJobWithOneToken) {
  client.downloadJobs(rt);
  ASSERT_EQ(http.requests.size(), 4u);
  const Headers bearer{"Authorization: Bearer abc.def", kContentType};
  EXPECT_EQ(http.requests[1].host, "jobs.skole.test");
  EXPECT_EQ(http.requests[1].path, "/api/280123/v1/hentAdJobListe");
  EXPECT_EQ(http.requests[2].path, "/api/280123/v1/hentAdJob?brovaltId=17");
  EXPECT_EQ(http.requests[3].path, "/api/280123/v1/hentAdJob?brovaltId=18");
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(http.requests[i].headers, bearer);
    EXPECT_EQ(http.requests[i].body, "");
    EXPECT_EQ(http.requests[i].method, "POST");
  }
  EXPECT_EQ(http.requests[2].maxBodyBytes, 2999999u);
  EXPECT_EQ(files(), (std::vector<std::string>{"brovalt-17.dat", "kodevalt-18.dat"}));
  EXPECT_EQ(data.read("brovalt-17.dat"), "MEDA\n");
  EXPECT_EQ(data.read("kodevalt-18.dat"), "kode\n");
  EXPECT_EQ(logs.text(), "");
}

TEST_F(ClientTest, ALongListLeavesTheTokenUntouched) {
  http.list.clear();
  http.jobs.clear();
  for (int i = 0; i < 60; ++i) {
    http.list += "10000" + std::to_string(i) + ",";
    http.jobs["10000" + std::to_string(i)] = "job " + std::to_string(i);
  }
  ASSERT_GT(http.list.size(), 111u);
  client.downloadJobs(rt);
  ASSERT_EQ(http.requests.size(), 62u);
  for (std::size_t i = 1; i < http.requests.size(); ++i) {
    EXPECT_EQ(http.requests[i].headers[0], "Authorization: Bearer abc.def") << i;
  }
  EXPECT_EQ(data.read("brovalt-1000059.dat"), "job 59");
}

TEST_F(ClientTest, ATokenWithoutItsMembersSendsNothing) {
  http.token = answer(200, R"({"access_token":"abc.def"})");
  client.downloadJobs(rt);
  EXPECT_EQ(http.requests.size(), 1u);
  EXPECT_EQ(logs.text(),
            "    externalAPIRequest fejl: token-svaret mangler token_type eller access_token\n");
}

TEST_F(ClientTest, AFailedSendIsLoggedWithoutTheBearerToken) {
  http.byName["hentAdJobListe"] = failed(HttpFailure::kConnect, "Could not resolve host: jobs");
  client.downloadJobs(rt);
  const std::string sent = "Authorization: Bearer abc.def\r\n" + kContentType;
  EXPECT_EQ(logs.text(), "    externalAPIRequest else 3, Authorization: Bearer ***\r\n" +
                             kContentType + ", " + std::to_string(sent.size()) +
                             ", , 0\n    externalAPIRequest fejl: Could not resolve host: jobs\n");
  EXPECT_EQ(logs.text().find("abc.def"), std::string::npos);
  EXPECT_EQ(http.requests.size(), 2u);
}

TEST_F(ClientTest, AStatusOtherThan200IsAnAddressError) {
  http.byName["hentAdJobListe"] = answer(404, "Not Found");
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(), "    externalAPIRequest else 2 - address error, 404\n");
  EXPECT_TRUE(files().empty());
}

TEST_F(ClientTest, AFailedJobSkipsThatJobOnly) {
  http.list = "17,18pwd,19";
  http.jobs["19"] = "nitten";
  http.byName["hentAdJob?brovaltId=17"] = answer(500, "boom");
  http.byName["hentAdJob?brovaltId=18"] = answer(200, "");
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(), "    externalAPIRequest else 2 - address error, 500\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"brovalt-19.dat"}));
}

TEST_F(ClientTest, ABodyCutShortNeverReplacesAWaitingJob) {
  data.write("brovalt-17.dat", "waiting job\n");
  http.byName["hentAdJob?brovaltId=17"] =
      failed(HttpFailure::kOther, "transfer closed with 100 bytes remaining to read", 200);
  http.byName["hentAdJob?brovaltId=17"].body = "MEDA\npart";
  http.byName["hentAdJob?brovaltId=18"] = failed(HttpFailure::kTooLarge, "", 200);
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(),
            "    externalAPIRequest fejl: transfer closed with 100 bytes remaining to read\n"
            "    externalAPIRequest fejl: svaret er større end 2999999 bytes\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"brovalt-17.dat"}));
  EXPECT_EQ(data.read("brovalt-17.dat"), "waiting job\n");
}

TEST_F(ClientTest, ADownloadedJobReplacesAWaitingFileOfTheSameName) {
  data.write("brovalt-17.dat", "old\n");
  http.jobs["17"] = "Tr\xC3\xA6 \xC5\x81\n";
  client.downloadJobs(rt);
  EXPECT_EQ(data.read("brovalt-17.dat"), "Tr\xE6 ?\n");
}

TEST_F(ClientTest, AJobThatCannotBeSavedIsLoggedAndLeavesNoPart) {
  std::filesystem::create_directory(data.file("brovalt-17.dat"));
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(), "** Fejl: Kan ikke gemme brovalt-17.dat: Is a directory\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"brovalt-17.dat", "kodevalt-18.dat"}));
  EXPECT_TRUE(std::filesystem::is_directory(data.file("brovalt-17.dat")));
}

// Local files whose new files all end on a full disk.
struct FullDisk : PosixLocalFiles {
  Opened createUnique(const std::string& stem, std::string& path) override {
    path = stem + "full";
    return Opened{std::fopen("/dev/full", "w"), SystemError()};
  }
};

TEST_F(ClientTest, AWriteThatFailsKeepsTheWaitingFileAsItWas) {
  data.write("kodevalt-18.dat", "waiting\n");
  FullDisk full;
  rt.ports.localFiles = &full;
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(),
            "** Fejl: Kan ikke gemme brovalt-17.dat: No space left on device\n"
            "** Fejl: Kan ikke gemme kodevalt-18.dat: No space left on device\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"kodevalt-18.dat"}));
  EXPECT_EQ(data.read("kodevalt-18.dat"), "waiting\n");
}

TEST_F(ClientTest, AJobIsSavedOwnerOnlyAndNeverThroughALinkPlantedAtItsTemporaryName) {
  test::TempFolder elsewhere;
  elsewhere.write("victim", "precious\n");
  // The temporary names the download once used, planted as links.
  std::filesystem::create_symlink(elsewhere.file("victim"), data.file("hentes-brovalt-17.dat.tmp"));
  std::filesystem::create_symlink("/dev/full", data.file("hentes-kodevalt-18.dat.tmp"));
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(), "");
  EXPECT_EQ(elsewhere.read("victim"), "precious\n");
  EXPECT_EQ(data.read("brovalt-17.dat"), "MEDA\n");
  EXPECT_EQ(data.read("kodevalt-18.dat"), "kode\n");
  for (const char* job : {"brovalt-17.dat", "kodevalt-18.dat"}) {
    struct stat st {};
    ASSERT_EQ(::stat(data.file(job).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << job;
  }
}

TEST_F(ClientTest, AnIdThatWouldLeaveTheDataFolderIsRefused) {
  http.list = "../etc/17,18pwd";
  client.downloadJobs(rt);
  EXPECT_EQ(logs.text(),
            "** Fejl: Job-id fra jobserveren kan ikke bruges i et filnavn: \"../etc/17\"\n");
  ASSERT_EQ(http.requests.size(), 3u);
  EXPECT_EQ(http.requests[2].path, "/api/280123/v1/hentAdJob?brovaltId=18");
  EXPECT_EQ(files(), (std::vector<std::string>{"kodevalt-18.dat"}));
}

TEST_F(ClientTest, UploadSendsTheLogTextAsItStands) {
  client.uploadLog(rt, "brovalt-17", "Bruger \xC3\x86r\xC3\xB8 & co=1\n");
  ASSERT_EQ(http.requests.size(), 2u);
  EXPECT_EQ(http.requests[1].path, "/api/280123/v1/gemAdJobsvar");
  EXPECT_EQ(http.requests[1].body, "brovaltId=17&loglinjer=Bruger \xC3\x86r\xC3\xB8 & co=1\n");
  EXPECT_EQ(said, (std::vector<std::string>{"Sender log fil...", "Log fil sendt"}));

  said.clear();
  client.uploadLog(rt, "kodevalt-18", "");
  EXPECT_EQ(http.requests.back().body, "brovaltId=18&loglinjer=");
  EXPECT_EQ(said, (std::vector<std::string>{"Sender log fil...", "Log fil sendt"}));
}

TEST_F(ClientTest, UploadOfAFileNamedByHandSendsNothing) {
  client.uploadLog(rt, "minjob", "tekst\n");
  ASSERT_EQ(http.requests.size(), 1u);  // the token is fetched first
  EXPECT_EQ(http.requests[0].path, "/connect/token");
  EXPECT_TRUE(said.empty());
}

TEST_F(ClientTest, AFailedUploadIsOnlyTheRequestLine) {
  http.byName["gemAdJobsvar"] = answer(500, "fejl");
  client.uploadLog(rt, "brovalt-17", "x");
  EXPECT_EQ(said, (std::vector<std::string>{"Sender log fil..."}));
  EXPECT_EQ(logs.text(), "    externalAPIRequest else 2 - address error, 500\n");

  http.token = answer(403, "");
  said.clear();
  client.uploadLog(rt, "brovalt-17", "x");
  EXPECT_TRUE(said.empty());
}

TEST(RequestPath, JoinsTheFourSettings) {
  Settings s;
  s.BrovaltPath = "/brovalt";
  s.BrovaltInstnr = "101";
  s.BrovaltVersion = "2.0";
  EXPECT_EQ(jobserver::requestPath(s, "hentAdJob?brovaltId=4"),
            "/brovalt/101/2.0/hentAdJob?brovaltId=4");
  s.BrovaltPath = std::string(300, 'p');
  EXPECT_EQ(jobserver::requestPath(s, "x"), std::string(259, 'p') + "/101/2.0/x");
}

}  // namespace
}  // namespace tv

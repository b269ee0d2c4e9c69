#include "platform/windows/service_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "platform/windows/command_line.h"
#include "platform/windows/wide.h"
#include "windows/windows_test_support.h"

namespace tv::win {
namespace {

using wintest::lines;
using wintest::readFile;

const std::string kTestService = wintest::windowsPath(TAVLEVAGT_TEST_SERVICE);
constexpr const char* kName = "TavlevagtTest";

bool has(const std::string& text, const std::string& line) {
  const auto all = lines(text);
  return std::find(all.begin(), all.end(), line) != all.end();
}

struct Config {
  DWORD type = 0, start = 0, errorControl = 0;
  std::string binary, account;
};

Config config(const std::string& name) {
  Config c;
  SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE s = OpenServiceW(m, toWide(name).c_str(), SERVICE_QUERY_CONFIG);
  DWORD size = 0;
  QueryServiceConfigW(s, nullptr, 0, &size);
  std::vector<char> buffer(size);
  auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (size > 0 && QueryServiceConfigW(s, q, size, &size)) {
    c = {q->dwServiceType, q->dwStartType, q->dwErrorControl, toUtf8(q->lpBinaryPathName),
         q->lpServiceStartName ? toUtf8(q->lpServiceStartName) : ""};
  }
  CloseServiceHandle(s);
  CloseServiceHandle(m);
  return c;
}

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override { removeLeftover(); }
  void TearDown() override { removeLeftover(); }
  // A service left by an earlier run that failed half-way.
  static void removeLeftover() {
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE s = OpenServiceW(m, toWide(kName).c_str(), SERVICE_ALL_ACCESS);
    if (s != nullptr) {
      SERVICE_STATUS st{};
      ControlService(s, SERVICE_CONTROL_STOP, &st);
      DeleteService(s);
      CloseServiceHandle(s);
    }
    CloseServiceHandle(m);
  }
  wintest::TempDir dir;
};

TEST_F(ServiceHostTest, InstallStartStopAndRemoveUnderTheServiceManager) {
  WindowsServiceHost::Options options;
  options.name = kName;
  options.displayName = kName;
  options.command = {kTestService, kName, dir.path()};
  std::optional<WindowsServiceHost> host(std::in_place, options);
  ASSERT_EQ(host->openManager(), 0);
  ASSERT_EQ(host->createService(), 0);
  std::optional<WindowsServiceHost> second(std::in_place, options);
  ASSERT_EQ(second->openManager(), 0);
  EXPECT_EQ(second->createService(), ERROR_SERVICE_EXISTS);

  const Config c = config(kName);
  EXPECT_EQ(c.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(c.start, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(c.errorControl, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
  EXPECT_EQ(c.binary, *commandLine(options.command));
  EXPECT_EQ(c.account, "LocalSystem");
  EXPECT_EQ(host->queryActivity(), ServiceHost::Activity::kStopped);

  // Start it as the manager would at boot.
  SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE s = OpenServiceW(m, toWide(kName).c_str(), SERVICE_ALL_ACCESS);
  ASSERT_TRUE(StartServiceW(s, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(
      wintest::waitFor([&] { return has(readFile(dir.file("trace")), "cycle begins"); }, 30))
      << readFile(dir.file("trace"));
  SERVICE_STATUS st{};
  ASSERT_TRUE(QueryServiceStatus(s, &st));
  EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(st.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  EXPECT_EQ(host->queryActivity(), ServiceHost::Activity::kInOperation);

  // Stop during the cycle: the manager hears "stop pending" until the cycle
  // has ended and the work returned, then "stopped".
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st)) << GetLastError();
  EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  bool stopped = wintest::waitFor(
      [&] { return QueryServiceStatus(s, &st) && st.dwCurrentState == SERVICE_STOPPED; }, 30);
  ASSERT_TRUE(stopped);
  const std::string trace = readFile(dir.file("trace"));
  EXPECT_TRUE(has(trace, "cycle ends")) << trace;
  EXPECT_TRUE(has(trace, "work returns")) << trace;
  EXPECT_TRUE(has(trace, "control 1")) << trace;
  EXPECT_TRUE(has(trace, "running console=0")) << trace;
  EXPECT_TRUE(wintest::waitFor([&] { return readFile(dir.file("result")) == "0"; }, 10));
  EXPECT_EQ(host->queryActivity(), ServiceHost::Activity::kStopped);
  CloseServiceHandle(s);
  CloseServiceHandle(m);

  // Uninstall: a fresh host opens and deletes it; once every handle is
  // closed it is gone.
  host.reset();
  second.reset();
  WindowsServiceHost remover(options);
  ASSERT_EQ(remover.openManager(), 0);
  ASSERT_EQ(remover.openService(), 0);
  EXPECT_EQ(remover.deleteService(), 0);
  WindowsServiceHost after(options);
  ASSERT_EQ(after.openManager(), 0);
  EXPECT_EQ(after.openService(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST(ServiceHost, OutsideTheServiceManagerTheDispatcherFailsAndNothingRuns) {
  WindowsServiceHost::Options options;
  options.name = kName;
  WindowsServiceHost host(options);
  bool ran = false;
  EXPECT_EQ(host.runAsService([&ran] { ran = true; }), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  EXPECT_FALSE(ran);
  // Outside the manager there is no one to tell.
  EXPECT_EQ(host.reportStatus(SERVICE_RUNNING), 0);
}

}  // namespace
}  // namespace tv::win

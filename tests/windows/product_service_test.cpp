// The real Tavlevagt.exe under the service control manager: installed from
// the system folder as the admin is told to, one cycle over a copy of the
// example data folder with its snapshot directory, stopped and removed again.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/windows/command_line.h"
#include "platform/windows/wide.h"
#include "windows/windows_test_support.h"

namespace tv::win {
namespace {

using wintest::readFile;

const std::string kExe = wintest::windowsPath(TAVLEVAGT_EXE);
const std::string kDll = wintest::windowsPath(TAVLEVAGT_DLL);
const std::string kExample = wintest::windowsPath(TAVLEVAGT_EXAMPLE_DATA);
constexpr wchar_t kDataKey[] = L"Software\\MORENA\\Tavlevagt";
constexpr wchar_t kEventKey[] =
    L"System\\CurrentControlSet\\Services\\EventLog\\Application\\Tavlevagt";

std::wstring systemFolder() {
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  return std::wstring(dir, n);
}

// Runs the installed copy with args, its standard output and error going to
// a file (no console: as a script or the manager would start it); its exit
// code, or -1.
int runInstalled(const std::vector<std::string>& args, const std::string& outputFile) {
  std::vector<std::string> argv = {toUtf8(systemFolder() + L"\\Tavlevagt.exe")};
  argv.insert(argv.end(), args.begin(), args.end());
  std::wstring line = toWide(*commandLine(argv));
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(toWide(outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                           CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return -1;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = out;
  si.hStdOutput = out;
  si.hStdError = out;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(out);
  if (!started) return -1;
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

bool keyExists(const wchar_t* key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

std::string textValue(const wchar_t* key, const wchar_t* name, DWORD* type) {
  wchar_t buf[1024] = {};
  DWORD size = sizeof buf - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, type, buf, &size) !=
      ERROR_SUCCESS) {
    return "<none>";
  }
  return toUtf8(buf);
}

DWORD serviceState(SC_HANDLE service) {
  SERVICE_STATUS st{};
  return QueryServiceStatus(service, &st) ? st.dwCurrentState : 0;
}

class ProductService : public ::testing::Test {
 protected:
  void SetUp() override {
    removeService();
    namespace fs = std::filesystem;
    fs::copy(fs::path(toWide(kExample)), fs::path(toWide(data.path())),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    ASSERT_TRUE(
        CopyFileW(toWide(kExe).c_str(), (systemFolder() + L"\\Tavlevagt.exe").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileW(toWide(kDll).c_str(), (systemFolder() + L"\\Tavlevagt.dll").c_str(), FALSE));
  }
  void TearDown() override {
    removeService();
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kDataKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventKey);
    DeleteFileW((systemFolder() + L"\\Tavlevagt.exe").c_str());
    DeleteFileW((systemFolder() + L"\\Tavlevagt.dll").c_str());
  }
  static void removeService() {
    SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE s = OpenServiceW(m, L"Tavlevagt", SERVICE_ALL_ACCESS);
    if (s != nullptr) {
      SERVICE_STATUS st{};
      ControlService(s, SERVICE_CONTROL_STOP, &st);
      wintest::waitFor([&] { return serviceState(s) == SERVICE_STOPPED; }, 60);
      DeleteService(s);
      CloseServiceHandle(s);
    }
    CloseServiceHandle(m);
  }
  int run(const std::vector<std::string>& args) {
    return runInstalled(args, scratch.file("output" + std::to_string(++runs) + ".txt"));
  }
  wintest::TempDir data;
  wintest::TempDir scratch;
  int runs = 0;
};

TEST_F(ProductService, InstallOneCycleStopAndRemove) {
  // Started outside the service manager, the program runs no job and says why.
  ASSERT_EQ(run({"-i", data.path()}), 0) << readFile(data.file("Tavlevagt.log"));
  EXPECT_EQ(run({}), 0);
  EXPECT_NE(readFile(data.file("Tavlevagt.log")).find("** Fejl: StartServiceCtrlDispatcher error"),
            std::string::npos);
  EXPECT_TRUE(wintest::exists(data.file("brovalt-1001.dat")));

  DWORD type = 0;
  EXPECT_EQ(textValue(kDataKey, L"DataPath", &type), data.path());
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(textValue(kEventKey, L"EventMessageFile", &type),
            "%SystemRoot%\\System32\\Tavlevagt.dll");

  SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE s = OpenServiceW(m, L"Tavlevagt", SERVICE_ALL_ACCESS);
  ASSERT_NE(s, nullptr);
  DWORD size = 0;
  QueryServiceConfigW(s, nullptr, 0, &size);
  std::vector<char> buffer(size);
  auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  ASSERT_TRUE(size > 0 && QueryServiceConfigW(s, q, size, &size));
  EXPECT_EQ(q->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(q->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
  EXPECT_EQ(toUtf8(q->lpBinaryPathName), "%SystemRoot%\\System32\\Tavlevagt.exe");
  EXPECT_EQ(toUtf8(q->lpServiceStartName ? q->lpServiceStartName : L""), "LocalSystem");

  // The service takes the job, works through it and reports back.
  ASSERT_TRUE(StartServiceW(s, 0, nullptr)) << GetLastError();
  EXPECT_TRUE(
      wintest::waitFor([&] { return wintest::exists(data.file("brovalt-1001.slut")); }, 240))
      << readFile(data.file("Tavlevagt.log"));
  EXPECT_EQ(serviceState(s), static_cast<DWORD>(SERVICE_RUNNING));

  // A stop lets the service finish and say so, and the process ends. (Wine's
  // manager may answer the stop control with a time-out when the service
  // reports "stopped" before the control returns; the state tells.)
  SERVICE_STATUS_PROCESS sp{};
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&sp),
                                   sizeof sp, &needed));
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, sp.dwProcessId);
  ASSERT_NE(process, nullptr);
  SERVICE_STATUS st{};
  const BOOL controlled = ControlService(s, SERVICE_CONTROL_STOP, &st);
  EXPECT_TRUE(controlled || GetLastError() == ERROR_SERVICE_REQUEST_TIMEOUT) << GetLastError();
  EXPECT_TRUE(wintest::waitFor([&] { return serviceState(s) == SERVICE_STOPPED; }, 120));
  EXPECT_EQ(WaitForSingleObject(process, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(process);
  CloseServiceHandle(s);

  // Stopped, -u removes the service and both keys.
  EXPECT_EQ(run({"-u"}), 0);
  EXPECT_EQ(OpenServiceW(m, L"Tavlevagt", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_FALSE(keyExists(kDataKey));
  EXPECT_FALSE(keyExists(kEventKey));
  CloseServiceHandle(m);

  const std::string log = readFile(data.file("Tavlevagt.log"));
  EXPECT_NE(log.find(" Flytter brovalt-1001.behandler til brovalt-1001.slut"), std::string::npos)
      << log;
  EXPECT_NE(log.find("-Stopper Tavlevagt"), std::string::npos);
  EXPECT_EQ(log.find('\r'), std::string::npos) << "the log is written in binary";
}

}  // namespace
}  // namespace tv::win

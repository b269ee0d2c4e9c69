// The service control manager as the program needs it: install and remove
// its own service, ask whether it runs, run the process as the service, and
// tell the manager about state changes. Results are Win32 error codes.
//
// -i creates the service to be started on demand as LocalSystem (own
// process, errors ignored) with the command line of Options::command; the
// admin makes it start with Windows ("sc config Tavlevagt start= auto"). Running as the
// service connects to the manager with StartServiceCtrlDispatcherW; started
// outside the manager that call fails with 1063
// (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), which the caller logs.
//
// A stop lets the cycle in progress finish: when the product reports
// "stopped" while the service's work still runs, the manager is told "stop
// pending", and "stopped" only once the work has returned, so the process is
// never ended in the middle of a job file.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ports/service_host.h"

namespace tv::win {

// The status record's service type: own-process and share-process bits.
inline constexpr DWORD kServiceStatusType = 0x30;
// How long a stop may take before the manager may call the service hung: a
// cycle with many users takes minutes.
inline constexpr DWORD kStopWaitHintMs = 10 * 60 * 1000;

class WindowsServiceHost : public ServiceHost {
 public:
  struct Options {
    std::string name = "Tavlevagt";
    std::string displayName = "Tavlevagt";
    std::vector<std::string> command;  // the installed executable and its arguments
    DWORD startType = SERVICE_DEMAND_START;
  };
  explicit WindowsServiceHost(Options options);
  ~WindowsServiceHost() override;
  WindowsServiceHost(const WindowsServiceHost&) = delete;
  WindowsServiceHost& operator=(const WindowsServiceHost&) = delete;

  [[nodiscard]] int openManager() override;
  [[nodiscard]] int createService() override;
  [[nodiscard]] int openService() override;
  [[nodiscard]] Activity queryActivity() override;
  [[nodiscard]] int deleteService() override;
  // No-op (0) outside the manager.
  [[nodiscard]] int reportStatus(int state) override;

  // Runs work as the service and returns once it has returned and the
  // manager was told the service stopped: 0, or the dispatcher's error.
  // One service per process.
  [[nodiscard]] int runAsService(const std::function<void()>& work) override;

  // Called from work: routes the manager's control codes to onControl.
  [[nodiscard]] int registerControl(std::function<void(long)> onControl) override;

  // Ctrl-C, Ctrl-Break, a closed console, log-off and shutdown go to onStop.
  [[nodiscard]] int registerConsoleStop(std::function<void()> onStop) override;

 private:
  static void WINAPI serviceMain(DWORD argc, LPWSTR* argv);
  static BOOL WINAPI consoleHandler(DWORD event);
  static DWORD WINAPI handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
  int setStatus(DWORD state, DWORD controls, DWORD waitHint);

  Options opt_;
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
  std::function<void()> work_;
  std::function<void(long)> onControl_;
  SERVICE_STATUS_HANDLE status_ = nullptr;
  std::mutex statusMutex_;
  DWORD checkPoint_ = 0;
  std::atomic<bool> working_{false};
  std::mutex consoleMutex_;
  std::function<void()> onConsoleStop_;
  bool consoleHandlerSet_ = false;
};

}  // namespace tv::win

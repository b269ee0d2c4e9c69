// A service for the service host's tests:
//   test_service.exe <service name> <folder>
// runs as that service with the host and the clock of the product: it
// registers its control handler, reports running and then loops over
// "cycles" of 1.5 s with a long sleep between them, like the poll loop. A
// stop wakes the sleep; a cycle in progress is finished first. Each step is
// appended to <folder>\trace; the result of running as the service to
// <folder>\result.
#include <windows.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/windows/process_facts.h"
#include "platform/windows/service_control.h"
#include "platform/windows/wide.h"
#include "platform/windows/windows_clock.h"

namespace {

std::mutex traceMutex;

void trace(const std::wstring& folder, const std::string& line) {
  std::lock_guard lock(traceMutex);
  std::ofstream((folder + L"\\trace").c_str(), std::ios::app) << line << "\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring folder = argv[2];
  tv::win::WindowsServiceHost::Options options;
  options.name = tv::win::toUtf8(argv[1]);
  tv::win::WindowsServiceHost host(options);
  tv::win::WindowsClock clock;
  std::atomic<int> state{SERVICE_START_PENDING};

  const int result = host.runAsService([&] {
    const int err = host.registerControl([&](long code) {
      trace(folder, "control " + std::to_string(code));
      if (code == SERVICE_CONTROL_STOP) {
        state = SERVICE_STOPPED;
        clock.wake();
      }
      (void)host.reportStatus(state.load());
    });
    if (err != 0) return;
    state = SERVICE_RUNNING;
    (void)host.reportStatus(state.load());
    trace(folder, "running console=" + std::to_string(tv::win::standardOutputIsConsole()));
    while (state.load() == SERVICE_RUNNING) {
      trace(folder, "cycle begins");
      Sleep(1500);
      trace(folder, "cycle ends");
      (void)clock.waitForStop(std::chrono::minutes(5));
    }
    trace(folder, "work returns");
  });
  std::ofstream((folder + L"\\result").c_str()) << result;
  return 0;
}

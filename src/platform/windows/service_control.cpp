#include "platform/windows/service_control.h"

#include "platform/windows/command_line.h"
#include "platform/windows/wide.h"

namespace tv::win {
namespace {

// The dispatcher calls the service main without a context of its own, so the
// one host that runs as the service is found here.
std::atomic<WindowsServiceHost*> running{nullptr};
// Likewise the console control handler, for the host that asked for it.
std::atomic<WindowsServiceHost*> consoleHost{nullptr};

int lastError() {
  return static_cast<int>(GetLastError());
}

}  // namespace

WindowsServiceHost::WindowsServiceHost(Options options) : opt_(std::move(options)) {}

WindowsServiceHost::~WindowsServiceHost() {
  if (service_ != nullptr) CloseServiceHandle(service_);
  if (manager_ != nullptr) CloseServiceHandle(manager_);
}

int WindowsServiceHost::openManager() {
  if (manager_ != nullptr) return 0;
  manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  return manager_ == nullptr ? lastError() : 0;
}

int WindowsServiceHost::createService() {
  if (manager_ == nullptr) return ERROR_INVALID_HANDLE;
  const std::optional<std::string> image = commandLine(opt_.command);
  if (!image) return ERROR_INVALID_NAME;
  SC_HANDLE s = CreateServiceW(manager_, toWide(opt_.name).c_str(),
                               toWide(opt_.displayName).c_str(), SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, opt_.startType, SERVICE_ERROR_IGNORE,
                               toWide(*image).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (s == nullptr) return lastError();
  if (service_ != nullptr) CloseServiceHandle(service_);
  service_ = s;
  return 0;
}

int WindowsServiceHost::openService() {
  if (manager_ == nullptr) return ERROR_INVALID_HANDLE;
  SC_HANDLE s = OpenServiceW(manager_, toWide(opt_.name).c_str(), SERVICE_ALL_ACCESS);
  if (s == nullptr) return lastError();
  if (service_ != nullptr) CloseServiceHandle(service_);
  service_ = s;
  return 0;
}

ServiceHost::Activity WindowsServiceHost::queryActivity() {
  SERVICE_STATUS st{};
  if (service_ == nullptr || !QueryServiceStatus(service_, &st)) return Activity::kUnknown;
  return st.dwCurrentState == SERVICE_STOPPED ? Activity::kStopped : Activity::kInOperation;
}

int WindowsServiceHost::deleteService() {
  if (service_ == nullptr) return ERROR_INVALID_HANDLE;
  if (!DeleteService(service_)) return lastError();
  CloseServiceHandle(service_);
  service_ = nullptr;
  return 0;
}

int WindowsServiceHost::setStatus(DWORD state, DWORD controls, DWORD waitHint) {
  SERVICE_STATUS st{};
  st.dwServiceType = kServiceStatusType;
  st.dwCurrentState = state;
  st.dwControlsAccepted = controls;
  st.dwWaitHint = waitHint;
  std::lock_guard lock(statusMutex_);
  st.dwCheckPoint = state == SERVICE_STOP_PENDING ? ++checkPoint_ : 0;
  if (status_ == nullptr) return 0;
  return SetServiceStatus(status_, &st) ? 0 : lastError();
}

int WindowsServiceHost::reportStatus(int state) {
  if (status_ == nullptr) return 0;
  if (state == SERVICE_STOPPED) {
    // The work is still in its cycle; "stopped" follows when it returns.
    if (working_.load()) return setStatus(SERVICE_STOP_PENDING, 0, kStopWaitHintMs);
    return setStatus(SERVICE_STOPPED, 0, 0);
  }
  return setStatus(static_cast<DWORD>(state), SERVICE_ACCEPT_STOP, 0);
}

int WindowsServiceHost::registerControl(std::function<void(long)> onControl) {
  onControl_ = std::move(onControl);
  status_ = RegisterServiceCtrlHandlerExW(toWide(opt_.name).c_str(), handler, this);
  return status_ == nullptr ? lastError() : 0;
}

DWORD WINAPI WindowsServiceHost::handler(DWORD control, DWORD, LPVOID, LPVOID context) {
  auto* host = static_cast<WindowsServiceHost*>(context);
  if (host->onControl_) host->onControl_(static_cast<long>(control));
  return NO_ERROR;
}

void WINAPI WindowsServiceHost::serviceMain(DWORD, LPWSTR*) {
  WindowsServiceHost* host = running.load();
  if (host == nullptr) return;
  host->working_ = true;
  if (host->work_) host->work_();
  host->working_ = false;
  // Without a registered handler there is no status handle to report with;
  // the manager then sees the process end.
  (void)host->setStatus(SERVICE_STOPPED, 0, 0);
}

int WindowsServiceHost::registerConsoleStop(std::function<void()> onStop) {
  std::lock_guard lock(consoleMutex_);
  onConsoleStop_ = std::move(onStop);
  const bool wanted = static_cast<bool>(onConsoleStop_);
  if (wanted == consoleHandlerSet_) return 0;
  if (wanted) consoleHost = this;
  if (!SetConsoleCtrlHandler(consoleHandler, wanted ? TRUE : FALSE)) return lastError();
  consoleHandlerSet_ = wanted;
  if (!wanted) consoleHost = nullptr;
  return 0;
}

BOOL WINAPI WindowsServiceHost::consoleHandler(DWORD) {
  WindowsServiceHost* host = consoleHost.load();
  if (host == nullptr) return FALSE;
  std::function<void()> onStop;
  {
    std::lock_guard lock(host->consoleMutex_);
    onStop = host->onConsoleStop_;
  }
  if (!onStop) return FALSE;
  onStop();
  return TRUE;
}

int WindowsServiceHost::runAsService(const std::function<void()>& work) {
  WindowsServiceHost* expected = nullptr;
  if (!running.compare_exchange_strong(expected, this)) return ERROR_SERVICE_ALREADY_RUNNING;
  work_ = work;
  std::wstring name = toWide(opt_.name);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
  const int result = StartServiceCtrlDispatcherW(table) ? 0 : lastError();
  running = nullptr;
  return result;
}

}  // namespace tv::win

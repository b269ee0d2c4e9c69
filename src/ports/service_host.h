// The system's service manager as the program needs it: install and remove
// its own service, ask whether it is in operation, run as the service, take
// the manager's control codes and tell it about state changes. Every int
// result is 0 or a system error number of the platform, which the caller logs
// with the system's text.
#pragma once

#include <functional>

namespace tv {

class ServiceHost {
 public:
  // kInOperation: any state but stopped (running, starting, stopping,
  // reloading); kUnknown: the manager could not be asked.
  enum class Activity { kStopped, kInOperation, kUnknown };
  virtual ~ServiceHost() = default;
  // The manager can be reached (its unit folder exists and is writable).
  [[nodiscard]] virtual int openManager() = 0;
  [[nodiscard]] virtual int createService() = 0;
  // The service is installed.
  [[nodiscard]] virtual int openService() = 0;
  [[nodiscard]] virtual Activity queryActivity() = 0;
  [[nodiscard]] virtual int deleteService() = 0;
  // Reports the service state word (1 stopped, 2 start pending, 4 running, 7 paused).
  [[nodiscard]] virtual int reportStatus(int state) = 0;

  // Hands the process to the manager as its service and returns 0 once
  // serviceMain has returned. How serviceMain is run is the manager's way:
  // systemd has started the process as the service already, so it runs at
  // once on this thread; a service control manager calls it back on a thread
  // of its own. A process the manager did not start as its service gets the
  // system error of that refusal, and serviceMain is not run: a copy started
  // from a pipe, cron or a script must never run as a second service.
  [[nodiscard]] virtual int runAsService(const std::function<void()>& serviceMain) = 0;

  // From now until the service main returns, the manager's control codes
  // (1 stop, 2 pause, 3 continue, 4 interrogate) go to onControl, on a
  // thread of the host's. Called first thing in the service main.
  [[nodiscard]] virtual int registerControl(std::function<void(long code)> onControl) = 0;

  // In the foreground ("-d"): from now on, until it is called again (an empty
  // function ends it), the console's stop requests (Ctrl-C, a closed
  // terminal, a termination request) go to onStop on a thread of the host's,
  // instead of ending the process in the middle of a job.
  [[nodiscard]] virtual int registerConsoleStop(std::function<void()> onStop) = 0;
};

}  // namespace tv

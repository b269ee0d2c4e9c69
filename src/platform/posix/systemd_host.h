// The service manager on Linux: the systemd unit "tavlevagt.service" written
// to (and removed from) the unit folder, "systemctl is-active" as the status
// query, and sd_notify messages (READY, STOPPING) to systemd when it asked for
// them through its notify socket. systemd starts the service as a process in
// the foreground and stops it with SIGTERM, which a StopSignal watcher turns
// into the stop control. Whether systemd started this very process is told by
// the environment systemd gives its services (startedBySystemd()).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/stop_signal.h"
#include "ports/process_runner.h"
#include "ports/service_host.h"

namespace tv {

inline constexpr const char* kUnitName = "tavlevagt.service";
inline constexpr const char* kDefaultUnitFolder = "/etc/systemd/system";

class SystemdServiceHost : public ServiceHost {
 public:
  struct Options {
    std::string unitFolder = kDefaultUnitFolder;
    std::vector<std::string> execStart;               // the installed binary and its options
    std::vector<std::string> systemctl{"systemctl"};  // the control program
    ProcessRunner* processes = nullptr;
    std::string notifySocket;       // systemd's notify socket; empty: nothing to tell
    bool startedByManager = false;  // systemd started this process as a service
  };
  explicit SystemdServiceHost(Options options) : opt_(std::move(options)) {}

  [[nodiscard]] int openManager() override;
  [[nodiscard]] int createService() override;
  [[nodiscard]] int openService() override;
  [[nodiscard]] Activity queryActivity() override;
  [[nodiscard]] int deleteService() override;
  [[nodiscard]] int reportStatus(int state) override;
  [[nodiscard]] int runAsService(const std::function<void()>& serviceMain) override;
  [[nodiscard]] int registerControl(std::function<void(long code)> onControl) override;
  [[nodiscard]] int registerConsoleStop(std::function<void()> onStop) override;

  [[nodiscard]] std::string unitPath() const;

  // The unit file's text for a command line.
  [[nodiscard]] static std::string unitText(const std::vector<std::string>& execStart);

  // The state "systemctl is-active" printed, as an activity.
  [[nodiscard]] static Activity activityOf(const std::string& state);

 private:
  void reload();

  Options opt_;
  std::unique_ptr<StopSignal> stop_;
};

}  // namespace tv

// The service manager on Linux: the systemd unit "tavlevagt.service" written
// to (and removed from) the unit folder, "systemctl is-active" as the status
// query, and sd_notify messages (READY, STOPPING) to systemd when it asked for
// them through its notify socket.
#pragma once

#include <string>
#include <vector>

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
    std::string notifySocket;  // systemd's notify socket; empty: nothing to tell
  };
  explicit SystemdServiceHost(Options options) : opt_(std::move(options)) {}

  [[nodiscard]] int openManager() override;
  [[nodiscard]] int createService() override;
  [[nodiscard]] int openService() override;
  [[nodiscard]] Activity queryActivity() override;
  [[nodiscard]] int deleteService() override;
  [[nodiscard]] int reportStatus(int state) override;

  [[nodiscard]] std::string unitPath() const;

  // The unit file's text for a command line.
  [[nodiscard]] static std::string unitText(const std::vector<std::string>& execStart);

 private:
  void reload();

  Options opt_;
};

}  // namespace tv

// A runtime over a temp data folder with the shared fakes, for the service
// tests: recording job server, in-memory install keys and service host.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ports/install_keys.h"
#include "ports/service_host.h"
#include "runtime/job_server.h"
#include "runtime/runtime.h"
#include "support/fakes.h"

namespace tv::test {

class RecordingJobServer : public JobServer {
 public:
  struct Upload {
    std::string baseName;
    std::string logText;
  };
  int downloads = 0;
  std::vector<Upload> uploads;
  void downloadJobs(Runtime&) override { ++downloads; }
  void uploadLog(Runtime&, const std::string& baseName, const std::string& logText) override {
    uploads.push_back({baseName, logText});
  }
};

class MemoryKeys : public InstallKeys {
 public:
  std::map<std::string, std::map<std::string, KeyValue>> keys;
  int failCreate = 0;
  int failSet = 0;
  Opened createKey(const std::string& key) override {
    if (failCreate != 0) return {failCreate, false};
    bool existed = keys.count(key) != 0;
    keys[key];
    return {0, existed};
  }
  int setValue(const std::string& key, const KeyValue& value) override {
    if (failSet != 0) return failSet;
    keys[key][value.name] = value;
    return 0;
  }
  Query queryText(const std::string& key, const std::string& name) override {
    Query q;
    auto k = keys.find(key);
    if (k == keys.end()) {
      q.keyError = 2;
    } else if (auto v = k->second.find(name); v == k->second.end()) {
      q.valueError = 2;
    } else {
      q.text = v->second.text;
    }
    return q;
  }
  int deleteKey(const std::string& key) override { return keys.erase(key) != 0 ? 0 : 2; }
};

class FakeHost : public ServiceHost {
 public:
  int managerError = 0;
  int createError = 0;
  bool installed = false;
  Activity activity = Activity::kStopped;
  std::vector<int> reported;
  int reportError = 0;
  int openManager() override { return managerError; }
  int createService() override {
    if (createError == 0) installed = true;
    return createError;
  }
  int openService() override { return installed ? 0 : 2; }
  Activity queryActivity() override { return activity; }
  int deleteService() override {
    installed = false;
    return 0;
  }
  int reportStatus(int state) override {
    reported.push_back(state);
    return reportError;
  }

  int notStarted = 0;  // the refusal of a process the manager did not start
  bool served = false;
  int runAsService(const std::function<void()>& serviceMain) override {
    if (notStarted != 0) return notStarted;
    served = true;
    serviceMain();
    return 0;
  }

  int controlError = 0;
  std::function<void()> whenRegistered;
  std::function<void(long)> control;  // the registered control handler
  int registerControl(std::function<void(long code)> onControl) override {
    if (whenRegistered) whenRegistered();
    if (controlError != 0) return controlError;
    control = std::move(onControl);
    return 0;
  }

  std::function<void()> consoleStop;  // the registered console stop
  int consoleRegistrations = 0;
  int registerConsoleStop(std::function<void()> onStop) override {
    ++consoleRegistrations;
    consoleStop = std::move(onStop);
    return 0;
  }
};

// A runtime whose log writes Tavlevagt.log into a temp data folder.
struct ServiceFixture {
  TempFolder folder;
  FakeClock clock;
  RecordingEventLog events;
  FixedSystemInfo system;
  RecordingProcessRunner processes;
  RecordingJobServer jobServer;
  MemoryKeys keys;
  FakeHost host;
  Log log{Log::Options{folder.path(), "Tavlevagt.log", &clock, &events, &system, false, stderr}};
  Runtime rt{log, makePorts(), folder.path()};

  ServiceFixture() { log.setFlushEachWrite(true); }
  Ports makePorts() {
    Ports p;
    p.processes = &processes;
    p.clock = &clock;
    p.system = &system;
    p.keys = &keys;
    p.jobServer = &jobServer;
    p.host = &host;
    return p;
  }
  [[nodiscard]] std::string logText() const;
  [[nodiscard]] bool exists(const std::string& name) const;
};

}  // namespace tv::test

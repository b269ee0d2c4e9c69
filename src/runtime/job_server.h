// The job web service as the job cycle meets it: fetch waiting jobs into the
// data folder before the folder is searched, and send back the part of the log
// written for one job file. The do-nothing server stands in where no job
// server is configured.
#pragma once

#include <string>

namespace tv {

struct Runtime;

class JobServer {
 public:
  virtual ~JobServer() = default;
  // Saves each waiting job as "brovalt-<id>.dat" or "kodevalt-<id>.dat" in
  // the data folder. Failures are logged by the implementation.
  virtual void downloadJobs(Runtime& rt) = 0;
  // baseName is the job file's name without its extension ("brovalt-17").
  virtual void uploadLog(Runtime& rt, const std::string& baseName, const std::string& logText) = 0;
};

class NoJobServer : public JobServer {
 public:
  void downloadJobs(Runtime&) override {}
  void uploadLog(Runtime&, const std::string&, const std::string&) override {}
};

}  // namespace tv

#include "scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "config/settings_loader.h"
#include "platform/memory/memory_directory.h"
#include "service/job_cycle.h"
#include "service/job_dispatch.h"
#include "service/runtime.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace fs = std::filesystem;

ScenarioOutcome runScenario(const std::string& src) {
  ScenarioOutcome out;
  TempFolder folder;
  for (const auto& e : fs::directory_iterator(src)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("expected", 0) == 0) continue;
    fs::copy(e.path(), folder.file(name), fs::copy_options::recursive);
  }
  FakeClock clock;
  RecordingEventLog events;
  FixedSystemInfo system;
  RecordingProcessRunner processes;
  Log log(Log::Options{folder.path(), "Tavlevagt.log", &clock, &events, &system, false, stderr});
  std::string error;
  MemoryDirectoryOptions options;
  options.clock = &clock;
  options.mailAttributes = fs::exists(folder.file("mail-schema"));
  auto directory = openMemoryDirectory(folder.file("directory.ldif"), options, &error);
  EXPECT_NE(directory, nullptr) << error;
  if (!directory) return out;
  out.before = directory->saveLdif();
  log.setDirectoryErrorSource([&directory] { return directory->lastError(); });

  Ports ports;
  ports.directory = directory.get();
  ports.clock = &clock;
  ports.system = &system;
  ports.processes = &processes;
  Runtime rt(log, ports, folder.path());
  rt.fatalExit = [&out](int code) {
    if (out.exitCode < 0) out.exitCode = code;
  };
  (void)log.open();
  (void)loadSettings(rt);
  log.release();
  rt.state = kRunning;
  out.jobs = runCycle(rt, [](Runtime& r, const std::string& file) { handleSyncFile(r, file); });
  // The temp folder and the build time differ from run to run.
  out.log = cp1252ToUtf8(folder.read("Tavlevagt.log"));
  for (std::size_t p; (p = out.log.find(folder.path())) != std::string::npos;) {
    out.log.replace(p, folder.path().size(), "<datamappe>");
  }
  out.log = std::regex_replace(out.log, std::regex(R"(\(x64 \w{3} [ \d]\d \d{4} \d\d:\d\d:\d\d\))"),
                               "(x64 <bygget>)");
  out.directory = directory->saveLdif();
  return out;
}

}  // namespace tv::test

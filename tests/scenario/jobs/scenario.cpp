#include "scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "directory/draft_directory.h"
#include "platform/memory/memory_directory.h"
#include "runtime/data_folder.h"
#include "runtime/runtime.h"
#include "runtime/settings_loader.h"
#include "service/job_cycle.h"
#include "service/job_dispatch.h"
#include "support/fakes.h"
#include "text/cipher.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv::test {
namespace fs = std::filesystem;

ScenarioBackend memoryBackend() {
  ScenarioBackend b;
  b.open = [](const std::string& folder, Clock& clock, Log&,
              std::string* error) -> std::unique_ptr<Directory> {
    MemoryDirectoryOptions options;
    options.clock = &clock;
    options.mailAttributes = fs::exists(fs::path(folder) / "mail-schema");
    return openMemoryDirectory((fs::path(folder) / "directory.ldif").string(), options, error);
  };
  b.snapshot = [](Directory& d) { return dynamic_cast<MemoryDirectory&>(d).saveLdif(); };
  return b;
}

namespace {

// The temp folder as "<datamappe>", with the platform's separator after it
// written as "/", so one expected text serves every platform.
std::string withFolderName(std::string text, const std::string& folder) {
  const std::string joined = folder + kPathSeparator;
  for (std::size_t p; (p = text.find(joined)) != std::string::npos;) {
    text.replace(p, joined.size(), "<datamappe>/");
  }
  for (std::size_t p; (p = text.find(folder)) != std::string::npos;) {
    text.replace(p, folder.size(), "<datamappe>");
  }
  return text;
}

}  // namespace

ScenarioOutcome runScenario(const std::string& src) {
  return runScenario(src, memoryBackend());
}

ScenarioOutcome runScenario(const std::string& src, const ScenarioBackend& backend) {
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
  std::unique_ptr<Directory> directory = backend.open(folder.path(), clock, log, &error);
  EXPECT_NE(directory, nullptr) << error;
  if (!directory) return out;
  out.before = backend.snapshot(*directory);
  log.setDirectoryErrorSource([&directory] { return directory->lastError(); });

  // As the service does, the product gets the directory able to draft a new
  // account and send it as one add.
  DraftingDirectory drafts(*directory);
  Ports ports;
  ports.directory = &drafts;
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
  out.log = withFolderName(out.log, folder.path());
  out.log = std::regex_replace(out.log, std::regex(R"(\(x64 \w{3} [ \d]\d \d{4} \d\d:\d\d:\d\d\))"),
                               "(x64 <bygget>)");
  for (const std::string& name : findFiles(folder.path(), "", kChangeReportSuffix)) {
    out.report += folder.read(name);
  }
  out.report = withFolderName(out.report, folder.path());
  out.directory = backend.snapshot(*directory);
  return out;
}

std::string jobPart(const std::string& log) {
  const std::string_view kStart = " Flytter ";
  if (log.rfind(kStart, 0) == 0) return log;
  const std::size_t p = log.find("\n" + std::string(kStart));
  return p == std::string::npos ? std::string() : log.substr(p + 1);
}

std::vector<std::string> jobPasswords(const std::string& src) {
  std::vector<std::string> passwords;
  for (const std::string& job : findFiles(src, "brovalt", ".dat")) {
    for (const std::string& line : split(readWholeFile((fs::path(src) / job).string()), '\n')) {
      const std::vector<std::string> fields = split(std::string(trim(line)), ';');
      if (line.starts_with("@") || fields.size() < 3 || fields[2].empty()) continue;
      passwords.push_back(cp1252ToUtf8(fields[2]));
      if (std::string clear = cp1252ToUtf8(cipher::decipher(fields[2])); clear.size() >= 4) {
        passwords.push_back(clear);
      }
    }
  }
  return passwords;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace tv::test

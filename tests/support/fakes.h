// Test doubles shared by every test tier: a fake clock that never sleeps
// (fake_clock.h), a recording event log, a recording process runner, a
// recording directory store, a system-information stand-in and a temp folder.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "log/log.h"
#include "ports/clock.h"
#include "ports/directory_store.h"
#include "ports/event_log.h"
#include "ports/process_runner.h"
#include "ports/system_info.h"
#include "support/fake_clock.h"

namespace tv::test {

// The C library's text of an errno value as the Linux log shows it (line
// break included): what a test expects after a failed call.
[[nodiscard]] std::string errnoText(int code);

class RecordingEventLog : public EventLog {
 public:
  struct Event {
    EventType type;
    std::string text;
  };
  std::vector<Event> events;
  void report(EventType type, std::string_view message) override {
    std::lock_guard lock(mutex_);
    events.push_back({type, std::string(message)});
  }

 private:
  std::mutex mutex_;
};

class RecordingProcessRunner : public ProcessRunner {
 public:
  struct Call {
    std::vector<std::string> argv;
    std::string cwd;
  };
  std::vector<Call> calls;
  ProcessResult result{true, 0, 0, 0};
  std::function<ProcessResult(const Call&)> handler;  // overrides result when set
  std::string output;                                 // what runForOutput hands back
  std::vector<long long> stopGraces;                  // every endAfterStop, in ms
  ProcessResult run(const std::vector<std::string>& argv, const std::string& cwd) override {
    calls.push_back({argv, cwd});
    return handler ? handler(calls.back()) : result;
  }
  ProcessResult runForOutput(const std::vector<std::string>& argv, std::string& out) override {
    out = output;
    return run(argv, "");
  }
  void endAfterStop(std::chrono::milliseconds grace) override {
    stopGraces.push_back(grace.count());
  }
};

// A directory store that answers as told and records each call ("acquire",
// "release", "saveNow").
class RecordingStore : public DirectoryStore {
 public:
  std::vector<std::string> calls;
  Status acquired;  // what acquire() answers
  Status released;  // what release() answers
  Status acquire() override { return record("acquire", acquired); }
  Status release() override { return record("release", released); }
  Status saveNow() override { return record("saveNow", Status{}); }

 private:
  Status record(const char* call, Status answer) {
    std::lock_guard lock(mutex_);
    calls.emplace_back(call);
    return answer;
  }
  std::mutex mutex_;
};

class FixedSystemInfo : public SystemInfo {
 public:
  MemoryStatus status{8ull << 30, 2ull << 30, 75};
  std::optional<MemoryStatus> memory() override { return status; }
  std::vector<SystemError> asked;  // every error whose text the log asked for
  std::string errorText(const SystemError& error) override {
    std::lock_guard lock(mutex_);
    asked.push_back(error);
    return errnoText(error.value());
  }

 private:
  std::mutex mutex_;
};

// A fresh folder below the system temp folder, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  [[nodiscard]] std::string read(const std::string& name) const;

 private:
  std::string path_;
};

// A stream a test hands to code that writes to a FILE*, read back as text:
// a temporary file, as not every C library can write into memory.
class CapturedStream {
 public:
  CapturedStream() : stream_(std::tmpfile()) {}
  ~CapturedStream() {
    if (stream_ != nullptr) std::fclose(stream_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  [[nodiscard]] std::FILE* get() const { return stream_; }
  // Everything written so far.
  [[nodiscard]] std::string text() const;

 private:
  std::FILE* stream_;
};

// A log over a temp folder with a fake clock, open for the test's lifetime.
struct LogFixture {
  TempFolder folder;
  FakeClock clock;
  RecordingEventLog events;
  FixedSystemInfo system;
  Log log{Log::Options{folder.path(), "Tavlevagt.log", &clock, &events, &system, false, stderr}};
  LogFixture() {
    (void)log.open();
    log.setFlushEachWrite(true);
  }
  ~LogFixture() { log.release(); }
  // The log file's text as UTF-8.
  [[nodiscard]] std::string text() const;
};

}  // namespace tv::test

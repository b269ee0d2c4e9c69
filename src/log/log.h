// The one log of the program. Every message names a level word whose bits
// choose the outputs: the log file in the data folder (Windows-1252 on disk),
// the event log, and the text of the thread's last system error; in a console
// every message is echoed to standard error as well. Callers supply their own
// time stamps, indentation and line breaks.
//
// The file is opened and released around each unit of work with an open
// count, rotated by size at every first open, and can be read back from a mark
// so that one job's part of the log can be sent to the job server. All threads
// share one Log; it is serialised by one mutex and never drops a message.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include <thread>
#include <utility>
#include <vector>

#include "directory/hresult.h"
#include "ports/clock.h"
#include "ports/event_log.h"
#include "ports/local_files.h"
#include "ports/log_sink.h"
#include "ports/system_error.h"
#include "ports/system_info.h"
#include "text/printf_format.h"

namespace tv {

inline constexpr std::uint64_t kLogRotateBytes = 4096000;
inline constexpr std::size_t kCaptureBytes = 100000000;

class Log : public LogSink {
 public:
  struct Options {
    std::string folder;  // absolute data folder; empty: the log is not written to a file
    std::string fileName = "Tavlevagt.log";
    Clock* clock = nullptr;        // required
    EventLog* events = nullptr;    // null: event-log reports go nowhere
    SystemInfo* system = nullptr;  // null: no memory line
    bool console = false;          // echo every message to consoleStream
    std::FILE* consoleStream = stderr;
    LocalFiles* files = nullptr;  // null: the file is opened with the C library
  };

  explicit Log(Options options);
  ~Log() override;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  void message(unsigned level, const char* fmt, ...) TV_PRINTF_FORMAT(3, 4);
  void vmessage(unsigned level, const char* fmt, va_list args);
  // A message already formatted: printed as it stands, "%" included.
  void write(unsigned level, std::string_view text) override;

  // Holds the calling thread's messages back until released or dropped, for
  // work whose outcome decides whether its lines are told at all; the other
  // threads' messages go on as before. Holds do not nest.
  void hold();
  // Writes the held messages, in their order, and ends the hold.
  void releaseHeld();
  // Forgets the held messages and ends the hold.
  void dropHeld();

  // Opens the file when the count is 0 (rotating it first); 0, or 99 when
  // neither the log nor the fallback could be opened.
  int open();
  void release();
  [[nodiscard]] unsigned openCount() const;

  void setMark();
  // The text written since the mark, as UTF-8, cut at kCaptureBytes.
  [[nodiscard]] std::string fetchSinceMark();

  // LogLevel above 0 flushes after each write.
  void setFlushEachWrite(bool on);
  void setConsole(bool on);
  [[nodiscard]] bool console() const;
  void setEventLog(EventLog* events);
  void setFolder(std::string folder);
  [[nodiscard]] std::string filePath() const;
  void setDirectoryErrorSource(std::function<std::optional<DirectoryError>()> source);

  // " mem (%ld%%): %s\n" with the used bytes in grouped digits.
  void memoryLine();

  // The directory-error block: caller's text, the hresult line, its text and
  // the directory's extended error, logged at level 35.
  void reportHresult(Hresult hr, const char* fmt, ...) TV_PRINTF_FORMAT(3, 4);

  // The calling thread's last system error. Callers that log with level bit
  // 64 set it after the failed call; the message then ends with its text.
  static void setLastError(SystemError error);
  [[nodiscard]] static SystemError lastError();

  // The platform's text of an error, its line break included (from the
  // SystemInfo port; without one, the error's own message).
  [[nodiscard]] std::string systemText(const SystemError& error) const;

  // Why the last open() that returned 99 could not open the file.
  [[nodiscard]] SystemError openFailure() const;
  // Why the log file itself could not be opened while the fallback file is in
  // use ("$$morena$$.log"); no error when the log file is in use.
  [[nodiscard]] SystemError fallbackReason() const;
  [[nodiscard]] std::string fallbackPath() const;

 private:
  void emit(unsigned level, const std::string& text);
  void writeFile(const std::string& text);
  std::FILE* openForAppend(const std::string& path, SystemError& error) const;
  void rotateIfLarge(const std::string& path);

  Options opt_;
  mutable std::mutex mutex_;  // the file, the count, the mark
  std::mutex emitMutex_;      // keeps whole messages in order across outputs
  std::FILE* file_ = nullptr;
  unsigned count_ = 0;
  long mark_ = 0;
  bool flush_ = false;
  std::function<std::optional<DirectoryError>()> directoryError_;
  std::optional<std::thread::id> holder_;  // under emitMutex_
  std::vector<std::pair<unsigned, std::string>> held_;
  SystemError openFailure_;
  SystemError fallbackReason_;
};

// Windows' text for a Win32 error code the program can meet, or "" when unknown.
[[nodiscard]] std::string win32ErrorText(std::uint32_t code);

// A Windows error the program names itself where it does what a Windows call
// does (an account name that maps to no identifier), so the log gives the
// text that call's failure gives, on every platform.
[[nodiscard]] const std::error_category& win32Category();
[[nodiscard]] SystemError win32Error(std::uint32_t code);
inline constexpr std::uint32_t kErrorNoneMapped = 1332;

// The directory-service text of 0x80005000 + index, or "" outside the table.
[[nodiscard]] std::string adsErrorText(Hresult hr);

// 1234567.891 with 2 decimals -> "1.234.567,89".
[[nodiscard]] std::string groupDigits(double value, int decimals);

}  // namespace tv

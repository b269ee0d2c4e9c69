// The change report of a job: beside each job file the data folder gets
// "<job>.rapport.csv" with one row per decision the job made about an
// account (created, re-enabled, an attribute updated, deactivated, archived,
// renamed, put into or taken out of a group, its password reset) and how it
// went: done, refused with the error, or "test" for the plan of a test-mode
// run. The log tells the same story in Danish prose; the report is what a
// school's admin can open in a spreadsheet and filter.
//
// The file is CSV with ";" between fields and CRLF line ends, UTF-8 with a
// byte-order mark, so that a Danish spreadsheet opens it with the right
// letters and columns. No password ever enters it: the operations record
// that a password was reset, never the password.
//
// Rows are written as the decisions are made, so a job the process could not
// finish still leaves the rows of what it did. The sync-job thread and the
// password thread each have a job in hand at the same time: a report belongs
// to the thread that began it, and a decision goes into the calling thread's
// report (nowhere when the thread has none, as when an operation runs
// outside a job).
#pragma once

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "directory/hresult.h"

namespace tv {

class Log;
class LocalFiles;

enum class ChangeAction {
  kCreate,
  kEnable,
  kUpdate,
  kDeactivate,
  kArchive,
  kRename,
  kGroupAdd,
  kGroupRemove,
  kPasswordReset,
};

// The report's word for an action ("opret", "genaktiver", …).
[[nodiscard]] const char* changeActionText(ChangeAction action);

// The result column.
class ChangeResult {
 public:
  [[nodiscard]] static ChangeResult done() { return ChangeResult("udført"); }
  // Test mode: what a live run would do, not done.
  [[nodiscard]] static ChangeResult test() { return ChangeResult("test"); }
  [[nodiscard]] static ChangeResult refused(std::string_view why) {
    return ChangeResult("afvist: " + std::string(why));
  }
  // Done for a success, else refused with the HRESULT and its text.
  [[nodiscard]] static ChangeResult of(Hresult hr);

  [[nodiscard]] const std::string& text() const { return text_; }

 private:
  explicit ChangeResult(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// One decision. The fields are views: a Change is made for the one
// record() call it is handed to.
struct Change {
  std::string_view population;  // "Medarbejder", "Elev", or "" when not known
  std::string_view login;
  ChangeAction action = ChangeAction::kUpdate;
  std::string_view attribute;
  std::string_view oldValue;
  std::string_view newValue;
};

// The first line of every report, byte-order mark included.
inline constexpr std::string_view kChangeReportHeader =
    "\xEF\xBB\xBF"
    "Brugertype;Login;Handling;Attribut;Gammel værdi;Ny værdi;Resultat\r\n";

// One field as the report writes it: quoted when it holds ";", a quote, a
// line break or blanks at its ends; and a value a spreadsheet would take for
// a formula (beginning with "=", "+", "-", "@" or a control character) gets
// a leading "'" so that it is shown, never run.
[[nodiscard]] std::string csvField(std::string_view value);
// One row, its CRLF included.
[[nodiscard]] std::string changeRow(const Change& change, const ChangeResult& result);

// The report of the job whose file's base name is jobBase ("brovalt-17").
[[nodiscard]] std::string changeReportName(std::string_view jobBase);
inline constexpr std::string_view kChangeReportSuffix = ".rapport.csv";

class ChangeReport {
 public:
  explicit ChangeReport(Log& log) : log_(log) {}
  ~ChangeReport();
  ChangeReport(const ChangeReport&) = delete;
  ChangeReport& operator=(const ChangeReport&) = delete;

  // Starts the calling thread's report at path, replacing an older file of
  // that name (a job handled again reports again). When the file cannot be
  // written the job goes on without a report, after an error line. With
  // files, the report is written as the service's other files are: owner
  // only, and never through a link someone placed at path.
  void begin(const std::string& path, LocalFiles* files = nullptr);
  void record(const Change& change, const ChangeResult& result);
  // Holds the calling thread's rows back until released (written in their
  // order) or dropped, alongside the log's hold of the same work.
  void hold();
  void releaseHeld();
  void dropHeld();
  // Closes the calling thread's report; an error line when it could not be
  // written whole.
  void end();

 private:
  struct Open {
    std::FILE* file = nullptr;
    std::string path;
    LocalFiles* files = nullptr;
    bool holding = false;
    std::string held;
  };
  void close(Open& open);
  // Starts or ends the calling thread's hold; writeHeld writes what it held.
  void setHold(bool holding, bool writeHeld);

  Log& log_;
  std::mutex mutex_;
  std::map<std::thread::id, Open> open_;
};

// Begins a report for the calling thread and ends it when the scope ends, so
// that a job that returns early still has its report closed.
class ChangeReportScope {
 public:
  ChangeReportScope(ChangeReport& report, const std::string& path, LocalFiles* files)
      : report_(report) {
    report_.begin(path, files);
  }
  ~ChangeReportScope() { report_.end(); }
  ChangeReportScope(const ChangeReportScope&) = delete;
  ChangeReportScope& operator=(const ChangeReportScope&) = delete;

 private:
  ChangeReport& report_;
};

}  // namespace tv

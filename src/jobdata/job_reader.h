// Reading a sync job file (brovalt*.dat) line by line. The registers write
// Windows-1252 text; each line is handed on trimmed and converted to UTF-8.
//
// The file is read as a Windows text-mode stream would read it with a
// 999-byte buffer: a CR before LF is not counted, and a line holds at most
// 998 characters including its line break, so a longer line arrives in
// pieces. next() gives those pieces; nextWhole() joins the pieces of one
// line again, which is what the record readers use so that one long line
// never turns into a second, bogus record or a false end of section.
//
// Damage the registers' format never produces is repaired with a log line
// rather than passed on: a UTF-8 byte order mark is dropped (and the file is
// then read as UTF-8), NUL bytes are dropped from their line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "log/log.h"

namespace tv {

inline constexpr std::size_t kJobPieceChars = 998;

// One line (or piece of a line) of a job file.
struct JobLine {
  std::string text;           // trimmed, UTF-8
  std::size_t rawLength = 0;  // characters read, line break included (CR LF counts one)
  bool cut = false;           // the line goes on in the next piece
  bool continued = false;     // this piece continues a line cut before it
  long number = 0;            // 1-based line number in the file

  // A raw line of at most one character ends a section.
  [[nodiscard]] bool emptyLine() const { return rawLength <= 1 && !continued; }
};

class JobReader {
 public:
  // Reads from bytes already in memory; name is what the log lines call it.
  JobReader(Log& log, std::string bytes, std::string name);

  // Opens a job file; nullopt when it is missing, unreadable or a folder,
  // after the log line "** Fejl: Jobfilen %s kan ikke åbnes: %s\n".
  [[nodiscard]] static std::optional<JobReader> open(Log& log, const std::string& path);

  // The next piece of at most 998 characters; false at the end of the file.
  bool next(JobLine& line);
  // The next whole line, its pieces joined; false at the end of the file.
  bool nextWhole(JobLine& line);

  // Byte offset of the next read, for coming back to a section later.
  [[nodiscard]] std::int64_t position() const { return static_cast<std::int64_t>(pos_); }
  void seek(std::int64_t position);

  [[nodiscard]] bool readsUtf8() const { return utf8_; }
  [[nodiscard]] const std::string& name() const { return name_; }

 private:
  // Appends the next piece's bytes (NULs and the CR of CR LF left out) and
  // fills line's bookkeeping; false at the end of the file.
  bool readRaw(std::string& bytes, JobLine& line);
  [[nodiscard]] std::string convert(std::string_view raw) const;

  Log& log_;
  std::string bytes_;
  std::string name_;
  std::size_t pos_ = 0;
  std::size_t start_ = 0;  // first byte after a byte order mark
  long lineNo_ = 0;
  bool midLine_ = false;  // the last piece was cut
  bool utf8_ = false;
};

// Leading and trailing C white space (space, tab, CR, LF, VT, FF) removed.
[[nodiscard]] std::string_view trimLine(std::string_view s);

// The section headers of a job file; the word after the two-character prefix
// must match whole and in capitals.
enum class JobHeader {
  kNone,     // not a header: shorter than two characters or no "@" first
  kUnknown,  // begins with "@" but names no section
  kCreateMeda,
  kCreatePers,
  kRemoveMeda,
  kRemovePers,
  kSyncMeda,
  kSyncPers,
  kSequence,
  kSchool,
};
[[nodiscard]] JobHeader parseJobHeader(std::string_view trimmedLine);

// The sequence value (at most 7 characters) and the school name (at most 99)
// as the lines after "@*SEKVENS" and "@*SKOLE" give them.
[[nodiscard]] std::string sequenceValue(std::string_view trimmedLine);
[[nodiscard]] std::string schoolName(std::string_view trimmedLine);

}  // namespace tv

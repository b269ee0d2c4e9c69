// The file user: one staff (MEDA) or pupil (PERS) record line of a sync job,
// parsed into named fields, and the list of them that a section yields. Staff
// and pupil lines carry the same fields at different positions; which table
// applies is the current population (Trim::staff). Every field is cut to its
// capacity in characters. Field 7 (the groups) is the group sync's and is not
// kept here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jobdata/exception_list.h"
#include "jobdata/job_reader.h"
#include "runtime/runtime.h"

namespace tv {

struct FileUser {
  std::string login;                     // 24; staff logins lower-cased (A-Z only)
  std::string identification;            // 64; exactly 32 when read
  std::string password;                  // 20; clear text
  std::string firstName;                 // 70
  std::string lastName;                  // 70
  std::string personNumber;              // 10; meda_id / pers_id
  std::string birthDate;                 // 11; ddmmyy
  std::string splitLetter;               // upper case of the login's first character
  std::string description;               // 200; "Autooprettet af ZEB (<person number>)"
  std::string email;                     // 100; login@dns domain
  std::string responsibilityArea;        // 21, staff
  std::string jobTitle;                  // 100, staff
  std::string departmentCode;            // 100, staff
  std::string departmentName;            // 100, staff
  std::string staffDescription;          // 101, staff
  std::string telephone;                 // 100
  std::string klovAt;                    // 100
  std::string klovMa;                    // 100
  std::string klovMt;                    // 100, staff
  std::string pupilDepartmentShortName;  // 50, pupils
  std::string educationShortName;        // 50, pupils
  std::string birthdayText;              // 29; "7. marts"
  std::string street;                    // 100
  std::string placeName;                 // 100
  std::string postalDistrict;            // 50
  std::string postalNumber;              // 100
  std::string previousLogin;             // 24; set by the rename and share steps

  int fieldCount = 0;  // fields the line had
};

inline constexpr int kStaffMinFields = 20;
inline constexpr int kPupilMinFields = 17;
inline constexpr std::string_view kDescriptionText = "Autooprettet af ZEB";

enum class ParseResult {
  kOk,
  kTooFewFields,  // the record holds only description and e-mail
  kFatal,         // identification not 32 characters; the process was told to end (25)
};

// Fills user from one trimmed UTF-8 record line for the current population.
ParseResult parseRecordLine(Runtime& rt, std::string_view line, FileUser& user);

// The birthday text of a ddmmyy birth date ("7. marts"); logs the two
// format errors at level 1.
[[nodiscard]] std::string birthdayText(Log& log, std::string_view birthDate);

// How a read of records ended.
enum class SectionEnd {
  kRecord,     // (readNextRecord only) a record was read; the section goes on
  kEmptyLine,  // an empty line ended the section
  kHeader,     // a line beginning with "@" ended it; the line is left in hand
  kEndOfFile,
  kFatal,     // a fatal data error; nothing more of the job may be done
  kNoMemory,  // the list could not grow; the list is incomplete and must not be acted on
};

// Reads lines until a record line and parses it into user. line is the
// buffer shared with the dispatch: at a header it holds that header.
SectionEnd readNextRecord(Runtime& rt, JobReader& reader, JobLine& line, FileUser& user);

// Reads the records of a section into list (appended; room for growStep
// records is made at once). Records whose login is
// on the exception list are dropped; records with too few fields are dropped
// with an error line, since they hold no login or identification to act on.
SectionEnd buildFileUserList(Runtime& rt, JobReader& reader, JobLine& line,
                             std::vector<FileUser>& list, const ExceptionList& exceptions,
                             std::size_t growStep = 2000);

// The container the record's user belongs in (the current population's
// location, split by the login's first letter when the population says so).
[[nodiscard]] std::string userContainerOf(const Runtime& rt, const FileUser& user);

}  // namespace tv

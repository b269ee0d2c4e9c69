#include "jobdata/file_user.h"

#include <new>

#include "jobdata/job_text.h"
#include "runtime/trim.h"
#include "text/cipher.h"
#include "text/text.h"

namespace tv {
namespace {

// The field of a line, cut to capacity - 1 characters; "" past the end.
std::string field(const std::vector<std::string>& fields, int index, std::size_t capacity) {
  if (index < 0 || static_cast<std::size_t>(index) >= fields.size()) return {};
  return cutChars(fields[index], capacity - 1);
}

// The registers put a clear placeholder ("Kode…") where no password was
// chosen; everything else is enciphered.
std::string passwordField(std::string_view raw) {
  if (raw.find("Kode") != std::string_view::npos) return cutChars(raw, 20);
  return cutChars(cp1252ToUtf8(cipher::decipher(raw)), 20);
}

void fillDerived(Runtime& rt, FileUser& user) {
  user.description = cutChars(
      format("%s (%s)", std::string(kDescriptionText).c_str(), user.personNumber.c_str()), 200);
  user.email = cutChars(format("%s@%s", user.login.c_str(), rt.trim.dnsDomain.c_str()), 100);
}

}  // namespace

std::string birthdayText(Log& log, std::string_view birthDate) {
  std::size_t digits = 0;
  while (digits < birthDate.size() && birthDate[digits] >= '0' && birthDate[digits] <= '9')
    ++digits;
  if (digits != 6) {
    log.message(lvl::kFile, "   **FEJL: Fødselsdatoens format er ikke gyldig.\n");
    return {};
  }
  int day = (birthDate[0] - '0') * 10 + (birthDate[1] - '0');
  int month = (birthDate[2] - '0') * 10 + (birthDate[3] - '0');
  if (month < 1 || month > 12)
    log.message(lvl::kFile, "   **FEJL: Fødselsdatoens måned er ikke gyldig.");
  return cutChars(format("%d. %s", day, std::string(monthName(month)).c_str()), 29);
}

ParseResult parseRecordLine(Runtime& rt, std::string_view line, FileUser& user) {
  user = FileUser{};
  const bool staff = rt.trim.staff;
  std::vector<std::string> fields = split(line, ';');
  user.fieldCount = static_cast<int>(fields.size());
  if (user.fieldCount < (staff ? kStaffMinFields : kPupilMinFields)) {
    fillDerived(rt, user);
    return ParseResult::kTooFewFields;
  }

  user.login = field(fields, 0, 25);
  if (staff) user.login = asciiToLower(user.login);
  if (!user.login.empty()) {
    std::u32string first = toCodePoints(user.login).substr(0, 1);
    first[0] = upperChar(first[0]);
    user.splitLetter = fromCodePoints(first);
  }

  const std::string& id = fields[1];
  std::size_t idChars = charCount(id);
  if (idChars != 32) {
    rt.log.message(lvl::kFile, " FEJL I BRUGERIDENTIFIKATIONSFELTET I FIL '%s', '%s', %d :\n",
                   user.login.c_str(), id.c_str(), static_cast<int>(idChars));
    rt.log.message(lvl::kFile, " Synkroniseringsfilen er sansynligvis forkert - kontakt ZEB.\n");
    rt.fatalExit(25);
    return ParseResult::kFatal;
  }
  user.identification = id;
  user.password = passwordField(fields[2]);
  user.firstName = field(fields, 3, 71);
  user.lastName = field(fields, 4, 71);
  user.personNumber = field(fields, 5, 11);
  user.birthDate = field(fields, 6, 12);
  if (staff) {
    user.responsibilityArea = field(fields, 8, 22);
    user.jobTitle = field(fields, 9, 101);
    user.departmentCode = field(fields, 10, 101);
    user.departmentName = field(fields, 11, 101);
    user.street = field(fields, 12, 101);
    user.placeName = field(fields, 13, 101);
    user.postalDistrict = field(fields, 14, 51);
    user.postalNumber = field(fields, 15, 101);
    user.staffDescription = field(fields, 16, 102);
    user.telephone = field(fields, 17, 101);
    user.klovAt = field(fields, 18, 101);
    user.klovMa = field(fields, 19, 101);
    user.klovMt = field(fields, 20, 101);
  } else {
    user.street = field(fields, 8, 101);
    user.placeName = field(fields, 9, 101);
    user.postalDistrict = field(fields, 10, 51);
    user.postalNumber = field(fields, 11, 101);
    user.telephone = field(fields, 12, 101);
    user.klovAt = field(fields, 13, 101);
    user.klovMa = field(fields, 14, 101);
    user.pupilDepartmentShortName = field(fields, 15, 51);
    user.educationShortName = field(fields, 16, 51);
  }
  user.birthdayText = birthdayText(rt.log, user.birthDate);
  fillDerived(rt, user);
  return ParseResult::kOk;
}

std::string userContainerOf(const Runtime& rt, const FileUser& user) {
  return userContainer(rt, user.login);
}

SectionEnd readNextRecord(Runtime& rt, JobReader& reader, JobLine& line, FileUser& user) {
  while (reader.nextWhole(line)) {
    if (line.emptyLine()) return SectionEnd::kEmptyLine;
    if (line.text.starts_with('@')) return SectionEnd::kHeader;
    if (line.text.empty()) continue;  // blanks only: no record, no section end
    if (parseRecordLine(rt, line.text, user) == ParseResult::kFatal) return SectionEnd::kFatal;
    return SectionEnd::kRecord;
  }
  return SectionEnd::kEndOfFile;
}

SectionEnd buildFileUserList(Runtime& rt, JobReader& reader, JobLine& line,
                             std::vector<FileUser>& list, const ExceptionList& exceptions,
                             std::size_t growStep) {
  const int logLevel = rt.settings.LogLevel;
  const int minimum = rt.trim.staff ? kStaffMinFields : kPupilMinFields;
  FileUser user;
  for (;;) {
    SectionEnd end = readNextRecord(rt, reader, line, user);
    if (end != SectionEnd::kRecord) return end;
    if (user.fieldCount < minimum) {
      rt.log.message(
          lvl::kFile,
          "** Fejl: Linje %ld i %s har %d felter, mindst %d kræves; linjen springes over.\n",
          line.number, reader.name().c_str(), user.fieldCount, minimum);
      continue;
    }
    // No account can be named by nothing; the directory refuses an empty name.
    if (trim(user.login).empty()) {
      rt.log.message(lvl::kFile, "** Fejl: Linje %ld i %s har intet login; linjen springes over.\n",
                     line.number, reader.name().c_str());
      continue;
    }
    if (isExcepted(rt.log, logLevel, user.login, exceptions)) {
      if (logLevel >= 1) rt.log.message(lvl::kFile, "Bruger %s undtaget\n", user.login.c_str());
      continue;
    }
    try {
      if (list.capacity() < growStep) list.reserve(growStep);
      list.push_back(std::move(user));
    } catch (const std::bad_alloc&) {
      rt.log.message(lvl::kFile, "** Fejl: GetFilBrugerListe() memory allokeringsfejl: '%s'\n",
                     rt.log.systemText(systemError(std::errc::not_enough_memory)).c_str());
      return SectionEnd::kNoMemory;
    }
  }
}

}  // namespace tv

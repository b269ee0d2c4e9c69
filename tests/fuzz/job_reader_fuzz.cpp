// Fuzz target: any bytes as a sync job. The file is walked the way the job
// dispatch walks it (headers select the population, sections become file
// user lists) and every record that comes out must respect the field
// capacities; a wrong identification must stop the walk, not slip through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "jobdata/file_user.h"
#include "jobdata/job_reader.h"
#include "log/log.h"
#include "runtime/runtime.h"
#include "support/fake_clock.h"
#include "text/text.h"

namespace tv::fuzz {

inline void fuzzCheck(bool ok) {
  if (!ok) std::abort();
}

inline void checkRecord(const FileUser& u, bool staff) {
  fuzzCheck(charCount(u.login) <= 24 && charCount(u.identification) == 32);
  fuzzCheck(charCount(u.password) <= 20 && charCount(u.firstName) <= 70);
  fuzzCheck(charCount(u.lastName) <= 70 && charCount(u.personNumber) <= 10);
  fuzzCheck(charCount(u.birthDate) <= 11 && charCount(u.birthdayText) <= 29);
  fuzzCheck(charCount(u.description) <= 200 && charCount(u.email) <= 100);
  fuzzCheck(charCount(u.staffDescription) <= 101 && charCount(u.postalDistrict) <= 50);
  fuzzCheck(charCount(u.splitLetter) <= 1 && u.previousLogin.empty());
  fuzzCheck(u.fieldCount >= (staff ? kStaffMinFields : kPupilMinFields));
  if (staff) {
    for (char c : u.login) fuzzCheck(c < 'A' || c > 'Z');
  }
}

inline void checkJobBytes(std::string_view bytes) {
  test::FakeClock clock;
  Log log(Log::Options{"", "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  Runtime rt(log, Ports{.clock = &clock}, "");
  int exits = 0;
  rt.fatalExit = [&exits](int) { ++exits; };
  rt.trim.dnsDomain = "skole.test";

  // The pieces never exceed the read buffer.
  {
    JobReader pieces(log, std::string(bytes), "fuzz.dat");
    JobLine line;
    std::size_t guard = 0;
    while (pieces.next(line)) {
      fuzzCheck(line.rawLength <= kJobPieceChars && line.text.find('\0') == std::string::npos);
      fuzzCheck(++guard <= bytes.size() + 1);
    }
  }

  JobReader reader(log, std::string(bytes), "fuzz.dat");
  JobLine line;
  bool haveLine = reader.nextWhole(line);
  while (haveLine) {
    JobHeader header = parseJobHeader(line.text);
    bool section = header == JobHeader::kSyncMeda || header == JobHeader::kSyncPers ||
                   header == JobHeader::kCreateMeda || header == JobHeader::kCreatePers ||
                   header == JobHeader::kRemoveMeda || header == JobHeader::kRemovePers;
    if (!section) {
      haveLine = reader.nextWhole(line);
      continue;
    }
    rt.trim.staff = header == JobHeader::kSyncMeda || header == JobHeader::kCreateMeda ||
                    header == JobHeader::kRemoveMeda;
    std::vector<FileUser> list;
    SectionEnd end = buildFileUserList(rt, reader, line, list, {"undtaget"}, 100);
    for (const FileUser& u : list) {
      checkRecord(u, rt.trim.staff);
      fuzzCheck(u.login != "undtaget");
    }
    if (end == SectionEnd::kFatal) {
      fuzzCheck(exits == 1);
      return;
    }
    if (end == SectionEnd::kEndOfFile) break;
    haveLine = end == SectionEnd::kHeader ? true : reader.nextWhole(line);
  }
  fuzzCheck(exits == 0);
}

}  // namespace tv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tv::fuzz::checkJobBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

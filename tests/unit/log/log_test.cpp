#include "log/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "support/fakes.h"
#include "text/text.h"

namespace tv {
namespace {

using test::LogFixture;

TEST(Log, LevelBitsChooseTheOutputs) {
  LogFixture f;
  f.log.message(0, "console only\n");
  f.log.message(1, "file only\n");
  f.log.message(11, "file and info\n");
  f.log.message(35, "file and error\n");
  f.log.message(2 | 16, "warning only\n");
  EXPECT_EQ(f.text(), "file only\nfile and info\nfile and error\n");
  ASSERT_EQ(f.events.events.size(), 3u);
  EXPECT_EQ(f.events.events[0].type, EventType::Information);
  EXPECT_EQ(f.events.events[1].type, EventType::Error);
  EXPECT_EQ(f.events.events[2].type, EventType::Warning);
  EXPECT_EQ(f.events.events[2].text, "warning only\n");
}

TEST(Log, SystemTextComesFromThePlatformAndIsAppendedInParentheses) {
  // A port's number is the platform's, a condition the product names itself
  // is the C library's; the platform's SystemInfo gives the text of both.
  struct Case {
    SystemError error;
    std::string text;
  };
  const Case cases[] = {
      {platformError(ENOENT), "No such file or directory\n"},
      {platformError(EACCES), "Permission denied\n"},
      {systemError(std::errc::filename_too_long), "File name too long\n"},
      {SystemError(), "Success\n"},  // a refusal that is no system failure
  };
  for (const Case& c : cases) {
    LogFixture f;
    Log::setLastError(c.error);
    f.log.message(65, "** Fejl: ");
    EXPECT_EQ(f.text(), "** Fejl:  (" + c.text + ")") << c.error.message();
    ASSERT_EQ(f.system.asked.size(), 1u);
    EXPECT_EQ(f.system.asked[0], c.error);
    EXPECT_EQ(Log::lastError(), c.error);
  }
  // Without the port the error's own text stands in.
  test::TempFolder folder;
  test::FakeClock clock;
  Log bare(Log::Options{folder.path(), "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  EXPECT_EQ(bare.systemText(platformError(ENOENT)), "No such file or directory\n");
}

// A message that ends its own line gets the system text on the next line,
// closed there, so the line after it starts clean; a Windows error the
// program names itself reads as Windows words it, on every platform.
TEST(Log, SystemTextAfterAWholeLineClosesItsOwnLine) {
  struct Case {
    SystemError error;
    std::string text;
  };
  const Case cases[] = {
      {platformError(ENOENT), "No such file or directory"},
      {win32Error(kErrorNoneMapped), "No mapping between account names and security IDs was done."},
      {win32Error(77777), "(Error 77777)"},
  };
  for (const Case& c : cases) {
    LogFixture f;
    Log::setLastError(c.error);
    f.log.message(65, "** Fejl: Kan ikke læse SID for omdøbt bruger (%s)\n", "hans");
    f.log.message(1, "næste linje\n");
    EXPECT_EQ(f.text(), "** Fejl: Kan ikke læse SID for omdøbt bruger (hans)\n (" + c.text +
                            ")\nnæste linje\n");
  }
}

TEST(Log, FileIsWindows1252AndFetchGivesUtf8) {
  LogFixture f;
  f.log.message(1, "før\n");
  f.log.setMark();
  EXPECT_EQ(f.log.fetchSinceMark(), "");
  f.log.message(1, "Ærø – 5€\n");
  EXPECT_EQ(f.log.fetchSinceMark(), "Ærø – 5€\n");
  EXPECT_EQ(f.folder.read("Tavlevagt.log"), "f\xF8r\n\xC6r\xF8 \x96 5\x80\n");
}

TEST(Log, RotatesOnlyAboveTheLimitAndOncePerDay) {
  test::TempFolder folder;
  test::FakeClock clock;
  Log log(Log::Options{folder.path(), "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  folder.write("Tavlevagt.log", std::string(4096000, 'x'));
  ASSERT_EQ(log.open(), 0);
  log.release();
  EXPECT_FALSE(std::filesystem::exists(folder.file("Tavlevagt.log20220617.log")));

  folder.write("Tavlevagt.log", std::string(4096001, 'x'));
  ASSERT_EQ(log.open(), 0);
  log.message(1, "new\n");
  log.release();
  EXPECT_EQ(std::filesystem::file_size(folder.file("Tavlevagt.log20220617.log")), 4096001u);
  EXPECT_EQ(folder.read("Tavlevagt.log"), "new\n");

  // Same day again: the dated name is taken, so the log keeps growing.
  folder.write("Tavlevagt.log", std::string(4096001, 'y'));
  ASSERT_EQ(log.open(), 0);
  log.message(1, "more\n");
  log.release();
  EXPECT_EQ(std::filesystem::file_size(folder.file("Tavlevagt.log")), 4096006u);
}

TEST(Log, FallsBackAndReports99WhenNothingOpens) {
  test::TempFolder folder;
  test::FakeClock clock;
  std::filesystem::create_directory(folder.file("Tavlevagt.log"));  // cannot be opened as a file
  Log log(Log::Options{folder.path(), "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  ASSERT_EQ(log.open(), 0);
  log.message(1, "to the fallback\n");
  log.release();
  EXPECT_EQ(folder.read("$$morena$$.log"), "to the fallback\n");

  Log nowhere(Log::Options{folder.file("missing/dir"), "Tavlevagt.log", &clock, nullptr, nullptr,
                           false, stderr});
  EXPECT_EQ(nowhere.open(), 99);
  EXPECT_EQ(nowhere.openCount(), 0u);
  EXPECT_EQ(nowhere.openFailure(), std::errc::no_such_file_or_directory);
  nowhere.message(1, "dropped quietly\n");
}

TEST(Log, OpenCountClosesOnLastRelease) {
  LogFixture f;  // open once
  ASSERT_EQ(f.log.open(), 0);
  f.log.release();
  f.log.message(1, "still open\n");
  EXPECT_EQ(f.log.openCount(), 1u);
  f.log.release();
  f.log.message(1, "closed: not written\n");
  EXPECT_EQ(f.text(), "still open\n");
  ASSERT_EQ(f.log.open(), 0);  // the fixture releases once more
}

TEST(Log, TwoThreadsLoseNoMessage) {
  LogFixture f;
  auto writer = [&f](char tag) {
    for (int i = 0; i < 10000; ++i) f.log.message(1, "%c%05d\n", tag, i);
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  std::string text = f.text();
  auto lines = split(text, '\n');
  ASSERT_EQ(lines.size(), 20001u);
  int na = 0, nb = 0;
  for (auto& l : lines) {
    if (l.empty()) continue;
    ASSERT_EQ(l.size(), 6u) << l;
    (l[0] == 'a' ? na : nb)++;
  }
  EXPECT_EQ(na, 10000);
  EXPECT_EQ(nb, 10000);
}

TEST(Log, ReportHresultForWin32Code) {
  LogFixture f;
  f.log.setDirectoryErrorSource([] {
    return std::optional<DirectoryError>(
        DirectoryError{8240, "0000208D: NameErr\n", "LDAP Provider"});
  });
  f.log.reportHresult(static_cast<Hresult>(0x80070005), "OpretBruger: %s\n", "x");
  EXPECT_EQ(f.text(),
            "OpretBruger: x\n"
            "** Fejl: (hresult: 0x80070005 (0x7/0x5 (5 i winerror.h ell. -2095 i Lmerr.h))\n"
            "** Fejl: Access is denied.\n"
            "Error Code: 8240\nError Text: 0000208D: NameErr\nProvider: LDAP Provider\n\n");
  ASSERT_EQ(f.events.events.size(), 1u);
  EXPECT_EQ(f.events.events[0].type, EventType::Error);
}

TEST(Log, ReportHresultDirectoryTextsAndInterface) {
  LogFixture f;
  f.log.reportHresult(static_cast<Hresult>(0x8000500D), "%s", "");
  f.log.reportHresult(static_cast<Hresult>(0x80004002), "%s", "");
  EXPECT_EQ(f.text(),
            "** Fejl: (hresult: 0x8000500D (0x0/0x500D (20493 i winerror.h ell. 18393 i Lmerr.h))\n"
            "** Fejl: The directory property cannot be found in the cache.\n"
            "** Fejl: (hresult: 0x80004002 (0x0/0x4002 (16386 i winerror.h ell. 14286 i Lmerr.h))\n"
            "** Fejl: \n");
}

TEST(Log, MemoryLineGroupsDigits) {
  LogFixture f;
  f.log.memoryLine();
  EXPECT_EQ(f.text(), " mem (75%): 6.442.450.944\n");
  EXPECT_EQ(groupDigits(1234567.891, 2), "1.234.567,89");
  EXPECT_EQ(groupDigits(123, 0), "123");
  EXPECT_EQ(groupDigits(0, 0), "0");
}

}  // namespace
}  // namespace tv

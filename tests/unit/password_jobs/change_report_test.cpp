// The change report of a password job: one row per reset line, with the
// population the account lies in, and never a password.
#include <gtest/gtest.h>

#include "password/password_jobs.h"
#include "runtime/change_report.h"
#include "unit/password_jobs/password_fixture.h"

namespace tv::test {
namespace {

TEST(PasswordJobReport, OneRowPerResetAndNoPassword) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser("mette", true);  // disabled: not reset
  s.processes.handler = [](const RecordingProcessRunner::Call& c) {
    return ProcessResult{true, 0, 0, c.argv[1] == "jens" ? 0u : 3u};
  };
  const std::vector<std::string> passwords = {"Sol2024!x", "Maane77", "Hav=9", "Stjerne42"};
  s.job("kodevalt-7.dat",
        {"@+AD_UNI_PASS", enc("jens;" + passwords[0]), enc("mette;" + passwords[1]),
         enc("ane.;" + passwords[2]), enc("ukendt;" + passwords[3])});

  PasswordJobWatcher watcher(s.rt);
  ASSERT_EQ(watcher.scanOnce(), 1u);

  const std::string report = s.logs.folder.read("kodevalt-7.rapport.csv");
  EXPECT_EQ(report, std::string(kChangeReportHeader) +
                        "Elev;jens;nulstil password;Windows;;;udført\r\n"
                        "Elev;jens;nulstil password;UNI-login;;;udført\r\n"
                        ";mette;nulstil password;;;;afvist: brugeren findes ikke\r\n"
                        ";ane.;nulstil password;;;;afvist: specialtegn i login\r\n"
                        ";ukendt;nulstil password;;;;afvist: brugeren findes ikke\r\n");
  for (const std::string& p : passwords) EXPECT_EQ(report.find(p), std::string::npos) << p;
}

TEST(PasswordJobReport, TestModePlansAndAFailingProgramIsRefused) {
  PasswordSchool s;
  s.addUser("jens");
  s.job("kodevalt-1.dat", {"@+AD_UNI_PASS", enc("jens;Sol2024!x")});
  s.rt.settings.IDrift = false;
  PasswordJobWatcher watcher(s.rt);
  ASSERT_EQ(watcher.scanOnce(), 1u);
  EXPECT_EQ(s.logs.folder.read("kodevalt-1.rapport.csv"),
            std::string(kChangeReportHeader) +
                "Elev;jens;nulstil password;Windows;;;test\r\n"
                "Elev;jens;nulstil password;UNI-login;;;test\r\n");

  s.rt.settings.IDrift = true;
  s.processes.result = ProcessResult{true, 0, 0, 2u};
  s.job("kodevalt-1.dat", {"@+UNI_PASS", enc("jens;Sol2024!x")});
  ASSERT_EQ(watcher.scanOnce(), 1u);
  // The job handled again reports again, in place of the old report.
  EXPECT_EQ(s.logs.folder.read("kodevalt-1.rapport.csv"),
            std::string(kChangeReportHeader) +
                "Elev;jens;nulstil password;UNI-login;;;afvist: returkode 2\r\n");
}

}  // namespace
}  // namespace tv::test

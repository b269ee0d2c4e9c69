#include "service/job_cycle.h"

#include <gtest/gtest.h>
#include <algorithm>

#include <filesystem>

#include "service_test_support.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStamp = "Fri Jun 17 10:42:52 2022\n";

// The log of one job file whose handler logged "handled <name>".
std::string jobLog(const std::string& base) {
  return std::string("\n-") + kStamp + " Flytter " + base + ".dat til " + base + ".behandler\n" +
         "handled " + base + ".behandler\n" + "-" + kStamp + " Flytter " + base +
         ".behandler til " + base + ".slut\n";
}

struct JobCycle : ::testing::Test, ServiceFixture {
  std::vector<std::string> handled;
  JobHandler recorder = [this](Runtime& r, const std::string& name) {
    handled.push_back(name);
    // The handler reads its file through the data folder while it has the in-progress name.
    EXPECT_TRUE(fs::exists(r.dataPath(name)));
    r.log.message(lvl::kFile, "handled %s\n", name.c_str());
  };
};

TEST_F(JobCycle, TwoWaitingJobsAndALeftOverGoThroughTheirThreeNames) {
  folder.write("brovalt-1.dat", "job one");
  folder.write("brovalt-2.dat", "job two");
  folder.write("brovalt-1.behandler", "left over");
  folder.write("kodevalt-1.dat", "password job");

  EXPECT_EQ(runCycle(rt, recorder), 2u);

  EXPECT_EQ(handled, (std::vector<std::string>{"brovalt-1.behandler", "brovalt-2.behandler"}));
  EXPECT_EQ(folder.read("brovalt-1.slut"), "job one");
  EXPECT_EQ(folder.read("brovalt-2.slut"), "job two");
  for (const char* gone :
       {"brovalt-1.dat", "brovalt-2.dat", "brovalt-1.behandler", "brovalt-2.behandler"}) {
    EXPECT_FALSE(exists(gone)) << gone;
  }
  EXPECT_EQ(folder.read("kodevalt-1.dat"), "password job");
  EXPECT_EQ(logText(), jobLog("brovalt-1") + jobLog("brovalt-2"));
  EXPECT_EQ(jobServer.downloads, 1);
  ASSERT_EQ(jobServer.uploads.size(), 2u);
  EXPECT_EQ(jobServer.uploads[0].baseName, "brovalt-1");
  EXPECT_EQ(jobServer.uploads[1].baseName, "brovalt-2");
  // Each upload carries its own file's part of the log, from its mark.
  EXPECT_EQ(jobServer.uploads[0].logText, jobLog("brovalt-1"));
  EXPECT_EQ(jobServer.uploads[1].logText, jobLog("brovalt-2"));
  EXPECT_EQ(log.openCount(), 0u);
}

TEST_F(JobCycle, DirectoriesAndOtherNamesAreNotJobs) {
  fs::create_directory(folder.file("brovalt-9.dat"));
  folder.write("brovalt-3.txt", "");
  folder.write(".brovalt-4.dat", "");
  folder.write("xbrovalt-5.dat", "");
  EXPECT_EQ(runCycle(rt, recorder), 0u);
  EXPECT_TRUE(handled.empty());
  EXPECT_TRUE(fs::is_directory(folder.file("brovalt-9.dat")));
  EXPECT_EQ(logText(), "");
  EXPECT_EQ(jobServer.downloads, 1);
}

TEST_F(JobCycle, AFileThatCannotBeMovedKeepsItsWaitingName) {
  folder.write("brovalt-1.dat", "job");
  // A folder in the way of the in-progress name makes the rename fail.
  fs::create_directories(folder.file("brovalt-1.behandler/x"));
  EXPECT_EQ(runCycle(rt, recorder), 1u);
  EXPECT_TRUE(handled.empty());
  EXPECT_EQ(folder.read("brovalt-1.dat"), "job");
  EXPECT_EQ(logText(), std::string("\n-") + kStamp +
                           " Flytter brovalt-1.dat til brovalt-1.behandler\n** Fejl:  (" +
                           errnoText(EISDIR) + ")");
  ASSERT_EQ(jobServer.uploads.size(), 1u);
  EXPECT_EQ(jobServer.uploads[0].baseName, "brovalt-1");
}

TEST_F(JobCycle, AFileThatCannotBeFinishedStaysInProgress) {
  folder.write("brovalt-1.dat", "job");
  fs::create_directories(folder.file("brovalt-1.slut/x"));
  EXPECT_EQ(runCycle(rt, recorder), 1u);
  EXPECT_EQ(folder.read("brovalt-1.behandler"), "job");
  EXPECT_NE(logText().find("Flytter brovalt-1.behandler til brovalt-1.slut\n** Fejl:  ("),
            std::string::npos);
}

TEST_F(JobCycle, AnOlderDoneFileIsReplaced) {
  folder.write("brovalt-1.slut", "old");
  folder.write("brovalt-1.dat", "new");
  EXPECT_EQ(runCycle(rt, recorder), 1u);
  EXPECT_EQ(folder.read("brovalt-1.slut"), "new");
}

TEST_F(JobCycle, AMissingDataFolderIsReportedAndFindsNothing) {
  rt.dataFolder = folder.file("missing");
  log.setFolder(rt.dataFolder);
  EXPECT_EQ(runCycle(rt, recorder), 0u);
  ASSERT_EQ(events.events.size(), 2u);
  EXPECT_EQ(events.events[0].type, EventType::Error);
  EXPECT_EQ(events.events[0].text, "** Fejl: Kan ikke åbne loggen \"" + rt.dataFolder +
                                       "/Tavlevagt.log\"  (" + errnoText(ENOENT) + ")");
  EXPECT_EQ(events.events[1].type, EventType::Error);
  EXPECT_EQ(events.events[1].text, "** Fejl: Kan ikke læse datamappen \"" + rt.dataFolder +
                                       "\"  (" + errnoText(ENOENT) + ")");
  EXPECT_EQ(log.openCount(), 0u);
}

TEST_F(JobCycle, WithoutALogTheJobsAreStillHandledAndTheEventLogSaysWhy) {
  fs::create_directory(folder.file("Tavlevagt.log"));
  fs::create_directory(folder.file("$$morena$$.log"));
  folder.write("brovalt-1.dat", "job");
  EXPECT_EQ(runCycle(rt, recorder), 1u);
  EXPECT_EQ(folder.read("brovalt-1.slut"), "job");
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].text, "** Fejl: Kan ikke åbne loggen \"" +
                                       folder.file("Tavlevagt.log") + "\"  (" + errnoText(EISDIR) +
                                       ")");
  EXPECT_EQ(log.openCount(), 0u);
}

TEST_F(JobCycle, HousekeepingRunsAgainOnlyAfterACycleWithJobs) {
  rt.settings.BackupDage = 1;
  folder.write("script/7za.exe", "");
  // A failing archiver keeps the file, so every housekeeping run calls it again.
  processes.result = {true, 0, 0, 2};
  folder.write("old.slut", "");
  // The fake clock stands in 2022: only a file dated years back is old enough.
  fs::last_write_time(folder.file("old.slut"),
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 10));
  const fs::path before = fs::current_path();
  EXPECT_EQ(runCycle(rt, recorder), 0u);
  EXPECT_EQ(processes.calls.size(), 1u);
  folder.write("brovalt-1.dat", "");
  EXPECT_EQ(runCycle(rt, recorder), 1u);
  EXPECT_EQ(processes.calls.size(), 3u);
  // The password thread relies on nothing changing the process's directory.
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_NE(before, fs::path(folder.path()));
}

TEST_F(JobCycle, WithoutADirectoryEveryJobWaitsUntouchedAndTheReasonIsToldOnce) {
  folder.write("brovalt-1.dat", "job one");
  folder.write("brovalt-2.dat", "job two");
  RecordingStore store;
  store.acquired = {false, "Katalogfilen /x/directory.ldif kan ikke læses: line 3: garbage"};
  rt.ports.store = &store;
  EXPECT_EQ(runCycle(rt, recorder), 2u);
  EXPECT_TRUE(handled.empty());
  EXPECT_EQ(folder.read("brovalt-1.dat"), "job one");
  EXPECT_EQ(folder.read("brovalt-2.dat"), "job two");
  EXPECT_EQ(store.calls, (std::vector<std::string>{"acquire", "acquire"}));
  const std::string told =
      "** Fejl: Kataloget kan ikke bruges: Katalogfilen /x/directory.ldif kan ikke læses: line 3: "
      "garbage\n** Fejl: Jobbene venter urørt, til kataloget kan læses igen.\n";
  EXPECT_EQ(logText(), told);
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].type, EventType::Error);
  EXPECT_EQ(rt.takeFailures(), std::vector<std::string>{told});
  EXPECT_TRUE(jobServer.uploads.empty());
}

TEST_F(JobCycle, AJobWhoseChangesCannotBeKeptGoesBackToWaiting) {
  folder.write("brovalt-1.dat", "job");
  RecordingStore store;
  store.released = {false,
                    "Katalogfilen /x/directory.ldif kan ikke gemmes: No space left on device"};
  rt.ports.store = &store;
  rt.trim.defaultNamingContext = "DC=skole,DC=test";  // as the settings load found it
  EXPECT_EQ(runCycle(rt, recorder), 1u);
  EXPECT_EQ(handled, std::vector<std::string>{"brovalt-1.behandler"});
  EXPECT_EQ(store.calls, (std::vector<std::string>{"acquire", "release"}));
  EXPECT_EQ(folder.read("brovalt-1.dat"), "job");
  EXPECT_FALSE(exists("brovalt-1.behandler"));
  EXPECT_FALSE(exists("brovalt-1.slut"));
  const std::string failure =
      "** Fejl: Jobbet brovalt-1.behandler er ikke gjort færdigt: ændringerne kan ikke gemmes i "
      "kataloget: Katalogfilen /x/directory.ldif kan ikke gemmes: No space left on device\n"
      "** Fejl: Jobbet venter og køres igen fra det gemte katalog.\n";
  EXPECT_EQ(logText(), std::string("\n-") + kStamp +
                           " Flytter brovalt-1.dat til brovalt-1.behandler\nhandled "
                           "brovalt-1.behandler\n" +
                           failure + "-" + kStamp +
                           " Flytter brovalt-1.behandler til brovalt-1.dat\n");
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].text, failure);
  EXPECT_EQ(rt.takeFailures(), std::vector<std::string>{failure});
}

TEST_F(JobCycle, InterruptedJobsAreReportedEveryCycleAndTakenUpOnceWhenAsked) {
  const std::string report =
      "** Fejl: Jobbet brovalt-4.behandler blev afbrudt og er ikke gjort færdigt. Omdøb filen "
      "til brovalt-4.dat, så køres jobbet igen.\n";
  const struct {
    const char* what;
    bool resume;
    std::vector<std::string> before;  // files besides brovalt-4.behandler
    std::vector<std::string> handledJobs;
    std::vector<std::string> after;  // brovalt-4 files afterwards
    std::string log;                 // the cycle's error lines
  } cases[] = {
      {"reported, left as it is", false, {}, {}, {"brovalt-4.behandler"}, report},
      {"a waiting job of the same name replaces it",
       false,
       {"brovalt-4.dat"},
       {"brovalt-4.behandler"},
       {"brovalt-4.slut"},
       ""},
      {"taken up once",
       true,
       {},
       {"brovalt-4.behandler"},
       {"brovalt-4.slut"},
       "** Fejl: Jobbet brovalt-4.behandler blev afbrudt og er ikke gjort færdigt; det køres "
       "igen som brovalt-4.dat (GenoptagAfbrudteJob). Afbrydes det igen, lægges det til "
       "side.\n"},
      {"interrupted again: set aside",
       true,
       {"brovalt-4.genoptaget"},
       {},
       {"brovalt-4.afbrudt"},
       "** Fejl: Jobbet brovalt-4.behandler blev afbrudt igen, efter at det var taget op igen; "
       "det er lagt til side som brovalt-4.afbrudt. Omdøb filen til brovalt-4.dat for at køre "
       "jobbet igen.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& e : fs::directory_iterator(folder.path())) fs::remove_all(e.path());
    handled.clear();
    events.events.clear();
    rt.settings.GenoptagAfbrudteJob = c.resume;
    folder.write("brovalt-4.behandler", "job");
    for (const std::string& name : c.before) folder.write(name, "job");
    (void)runCycle(rt, recorder);
    EXPECT_EQ(handled, c.handledJobs);
    std::vector<std::string> after;
    for (const auto& e : fs::directory_iterator(folder.path())) {
      const std::string n = e.path().filename().string();
      // The change report of a job that ran is not what this test is about.
      if (n.starts_with("brovalt-4") && !n.ends_with(".rapport.csv")) after.push_back(n);
    }
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, c.after);
    std::string errors;
    for (const auto& e : events.events) errors += e.text;
    EXPECT_EQ(errors, c.log);
    if (!c.log.empty()) {
      EXPECT_TRUE(startsWith(logText(), c.log)) << logText();
    }
  }
  // Every cycle tells again, until someone acts.
  rt.settings.GenoptagAfbrudteJob = false;
  folder.write("brovalt-4.behandler", "job");
  events.events.clear();
  (void)runCycle(rt, recorder);
  (void)runCycle(rt, recorder);
  ASSERT_EQ(events.events.size(), 2u);
  EXPECT_EQ(events.events[1].text, report);
}

TEST_F(JobCycle, ALinkNamedLikeAJobIsToldAndNeverTaken) {
  TempFolder elsewhere;
  elsewhere.write("secret", "not a job");
  fs::create_symlink(elsewhere.file("secret"), folder.file("brovalt-6.dat"));
  EXPECT_EQ(runCycle(rt, recorder), 0u);
  EXPECT_TRUE(handled.empty());
  EXPECT_TRUE(fs::is_symlink(folder.file("brovalt-6.dat")));
  EXPECT_EQ(elsewhere.read("secret"), "not a job");
  EXPECT_EQ(logText(), "** Fejl: brovalt-6.dat er et symbolsk link og tages ikke som job.\n");
}

}  // namespace
}  // namespace tv::test

#include "service/job_cycle.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "service_test_support.h"

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

}  // namespace
}  // namespace tv::test

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "password/password_jobs.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_process_runner.h"
#include "unit/password_jobs/password_fixture.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;

std::string moved(const std::string& from, const std::string& to, bool first) {
  return std::string(first ? "\n" : "") + "-" + kStamp + " Flytter " + from + " til " + to + "\n";
}

const std::string kJensChanged =
    " Resetter passwords:\n"
    "    Reset: jens fundet som login (sAMAccountName).\n"
    " Windows Login password skiftes for jens!\n"
    "    AD password for jens blev ændret!\n"
    "    Reset: 1 brugere er behandlet.\n";

TEST(PasswordJobFile, AJobGoesThroughItsThreeNamesAndReplacesLeftovers) {
  PasswordSchool s;
  s.addUser("jens");
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  s.logs.folder.write("kodevalt-1.behandler", "old in progress");
  s.logs.folder.write("kodevalt-1.slut", "old done");
  fs::create_directory(s.logs.folder.file("kodevalt-9.dat"));
  s.logs.folder.write("brovalt-1.dat", "a sync job is not ours");

  PasswordJobWatcher watcher(s.rt);
  EXPECT_EQ(watcher.scanOnce(), 1u);

  EXPECT_EQ(s.log(), moved("kodevalt-1.dat", "kodevalt-1.behandler", true) + kJensChanged +
                         moved("kodevalt-1.behandler", "kodevalt-1.slut", false));
  EXPECT_FALSE(s.exists("kodevalt-1.dat"));
  EXPECT_FALSE(s.exists("kodevalt-1.behandler"));
  EXPECT_EQ(s.logs.folder.read("kodevalt-1.slut"),
            "@+AD_PASS\r\n" + enc("jens;Sol2024!x") + "\r\n");
  EXPECT_TRUE(fs::is_directory(s.logs.folder.file("kodevalt-9.dat")));
  EXPECT_TRUE(s.exists("brovalt-1.dat"));
  EXPECT_EQ(s.rt.log.openCount(), 1u);  // the fixture's own reference only

  s.clearLog();
  EXPECT_EQ(watcher.scanOnce(), 0u);
  EXPECT_EQ(s.log(), "");
}

TEST(PasswordJobFile, AJobThatCannotBeMovedStaysAndIsToldOnce) {
  PasswordSchool s;
  s.addUser("jens");
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  // A folder of the in-progress name cannot be replaced by the job.
  s.logs.folder.write("kodevalt-1.behandler/inside", "x");

  PasswordJobWatcher watcher(s.rt);
  EXPECT_EQ(watcher.scanOnce(), 1u);
  const std::string failed = moved("kodevalt-1.dat", "kodevalt-1.behandler", true) + "** Fejl:  (" +
                             errnoText(EISDIR) + ")";
  EXPECT_EQ(s.log(), failed);
  EXPECT_TRUE(s.exists("kodevalt-1.dat"));
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), "");

  // Tried again at every scan, but not told every 10 seconds.
  EXPECT_EQ(watcher.scanOnce(), 1u);
  EXPECT_EQ(s.log(), failed);

  fs::remove_all(s.logs.folder.file("kodevalt-1.behandler"));
  EXPECT_EQ(watcher.scanOnce(), 1u);
  EXPECT_EQ(s.log(), failed + moved("kodevalt-1.dat", "kodevalt-1.behandler", true) + kJensChanged +
                         moved("kodevalt-1.behandler", "kodevalt-1.slut", false));
  EXPECT_TRUE(s.exists("kodevalt-1.slut"));
}

TEST(PasswordJobFile, AJobThatCannotBeFinishedStaysInProgress) {
  PasswordSchool s;
  s.addUser("jens");
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  s.logs.folder.write("kodevalt-1.slut/inside", "x");

  EXPECT_EQ(PasswordJobWatcher(s.rt).scanOnce(), 1u);

  EXPECT_EQ(s.log(), moved("kodevalt-1.dat", "kodevalt-1.behandler", true) + kJensChanged +
                         moved("kodevalt-1.behandler", "kodevalt-1.slut", false) + "** Fejl:  (" +
                         errnoText(EISDIR) + ")");
  EXPECT_TRUE(s.exists("kodevalt-1.behandler"));
  EXPECT_FALSE(s.exists("kodevalt-1.dat"));
}

TEST(PasswordJobFile, AJobTakesTheDirectoryAndHandsItBackToBeWritten) {
  PasswordSchool s;
  s.addUser("jens");
  RecordingStore store;
  s.rt.ports.store = &store;
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  EXPECT_EQ(PasswordJobWatcher(s.rt).scanOnce(), 1u);
  EXPECT_EQ(store.calls, (std::vector<std::string>{"acquire", "release"}));
  EXPECT_TRUE(s.exists("kodevalt-1.slut"));
}

TEST(PasswordJobFile, WithoutADirectoryAJobWaitsUntouchedAndTheReasonIsToldOnce) {
  PasswordSchool s;
  s.addUser("jens");
  RecordingStore store;
  store.acquired = {false, "Katalogfilen x kan ikke læses: line 2: garbage"};
  s.rt.ports.store = &store;
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  PasswordJobWatcher watcher(s.rt);
  EXPECT_EQ(watcher.scanOnce(), 1u);
  EXPECT_EQ(watcher.scanOnce(), 1u);
  EXPECT_EQ(store.calls, (std::vector<std::string>{"acquire", "acquire"}));
  const std::string told =
      "** Fejl: Kataloget kan ikke bruges: Katalogfilen x kan ikke læses: line 2: garbage\n"
      "** Fejl: Password-jobbet kodevalt-1.dat venter urørt.\n";
  EXPECT_EQ(s.log(), told);
  EXPECT_EQ(s.logs.events.events.size(), 1u);
  EXPECT_TRUE(s.exists("kodevalt-1.dat"));
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), "");
}

TEST(PasswordJobFile, AJobWhoseChangesCannotBeKeptWaitsAndIsLeftAloneForAWhile) {
  PasswordSchool s;
  s.addUser("jens");
  RecordingStore store;
  store.released = {false, "Katalogfilen x kan ikke gemmes: No space left on device"};
  s.rt.ports.store = &store;
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  PasswordJobWatcher watcher(s.rt);
  EXPECT_EQ(watcher.scanOnce(), 1u);
  EXPECT_TRUE(s.exists("kodevalt-1.dat"));
  EXPECT_FALSE(s.exists("kodevalt-1.behandler"));
  EXPECT_FALSE(s.exists("kodevalt-1.slut"));
  EXPECT_EQ(s.log(), moved("kodevalt-1.dat", "kodevalt-1.behandler", true) + kJensChanged +
                         "** Fejl: Password-jobbet kodevalt-1.behandler er ikke gjort færdigt: "
                         "ændringerne kan ikke gemmes i kataloget: Katalogfilen x kan ikke "
                         "gemmes: No space left on device\n" +
                         moved("kodevalt-1.behandler", "kodevalt-1.dat", false));
  // Not every 10 seconds: five minutes of scans pass it by.
  for (unsigned i = 0; i < kHeldBackScans; ++i) (void)watcher.scanOnce();
  EXPECT_EQ(store.calls.size(), 2u);
  store.released = {};
  (void)watcher.scanOnce();
  EXPECT_EQ(store.calls.size(), 4u);
  EXPECT_TRUE(s.exists("kodevalt-1.slut"));
}

TEST(PasswordJobFile, TheFirstLookReportsJobsLeftInProgressAndLinksAreNeverJobs) {
  PasswordSchool s;
  s.logs.folder.write("kodevalt-3.behandler", "interrupted");
  TempFolder elsewhere;
  elsewhere.write("secret", "not a job");
  fs::create_symlink(elsewhere.file("secret"), s.logs.folder.file("kodevalt-4.dat"));
  PasswordJobWatcher watcher(s.rt);
  EXPECT_EQ(watcher.scanOnce(), 0u);
  EXPECT_EQ(watcher.scanOnce(), 0u);
  EXPECT_EQ(s.log(),
            "** Fejl: Jobbet kodevalt-3.behandler blev afbrudt og er ikke gjort færdigt. Omdøb "
            "filen til kodevalt-3.dat, så køres jobbet igen.\n"
            "** Fejl: kodevalt-4.dat er et symbolsk link og tages ikke som job.\n");
  EXPECT_EQ(elsewhere.read("secret"), "not a job");
  EXPECT_TRUE(fs::is_symlink(s.logs.folder.file("kodevalt-4.dat")));
}

TEST(PasswordJobFile, AJobThatCannotBeOpenedIsTold) {
  PasswordSchool s;
  // A job in progress that vanished before it was read (an operator moved it).
  processPasswordJob(s.rt, "kodevalt-7.behandler");
  EXPECT_EQ(s.log(), "** Fejl: Jobfilen " + s.logs.folder.file("kodevalt-7.behandler") +
                         " kan ikke åbnes: filen findes ikke\n");
}

// Stops the service after a number of waits, dropping a new job at the first.
class StoppingClock : public FakeClock {
 public:
  StoppingClock(PasswordSchool& s, int waitsBeforeStop) : s_(s), left_(waitsBeforeStop) {}
  bool waitForStop(std::chrono::milliseconds ms) override {
    bool full = FakeClock::waitForStop(ms);
    if (stopWaits.size() == 1) s_.job("kodevalt-2.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
    if (--left_ == 0) s_.rt.state = kStopped;
    return full;
  }

 private:
  PasswordSchool& s_;
  int left_;
};

TEST(PasswordWatchLoop, ScansEveryTenSecondsWhileRunning) {
  PasswordSchool s;
  s.addUser("jens");
  StoppingClock clock(s, 2);
  s.rt.ports.clock = &clock;
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});

  s.rt.state = kRunning;
  passwordWatchLoop(s.rt);

  EXPECT_EQ(clock.stopWaits, (std::vector<long long>{10000, 10000}));
  EXPECT_TRUE(s.exists("kodevalt-1.slut"));
  EXPECT_TRUE(s.exists("kodevalt-2.slut"));
}

TEST(PasswordWatchLoop, LooksOnceEvenWhenTheRunIsOverBeforeItStartsAndEndsWhenWoken) {
  PasswordSchool s;
  s.addUser("jens");
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  // "-d": the cycle may end, and the state go to stopped, before the thread runs.
  s.rt.state = kStopped;
  passwordWatchLoop(s.rt);
  EXPECT_TRUE(s.exists("kodevalt-1.slut"));
  EXPECT_TRUE(s.logs.clock.stopWaits.empty());

  // A woken wait ends the loop even before the state is seen to change.
  s.job("kodevalt-2.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  s.rt.state = kRunning;
  s.logs.clock.wake();
  passwordWatchLoop(s.rt);
  EXPECT_TRUE(s.exists("kodevalt-2.slut"));
  EXPECT_EQ(s.logs.clock.stopWaits.size(), 1u);
}

TEST(PasswordThread, PicksUpAJobAndStopsAtOnceWhenWoken) {
  PasswordSchool s;
  s.addUser("jens");
  PosixClock clock;
  s.rt.ports.clock = &clock;
  s.job("kodevalt-1.dat", {"@+AD_PASS", enc("jens;Sol2024!x")});
  s.rt.state = kRunning;

  std::thread thread = startPasswordThread(s.rt);
  for (int i = 0; i < 500 && !s.exists("kodevalt-1.slut"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(s.exists("kodevalt-1.slut"));

  const auto before = std::chrono::steady_clock::now();
  s.rt.state = kStopped;
  clock.wake();
  thread.join();
  // The ten-second sleep was cut short.
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_EQ(s.attr("jens", "pwdLastSet"), kPwdLastSetNow);
}

TEST(UniLoginProgram, IsStartedFromTheDataFolderWithExactlyLoginAndPassword) {
  PasswordSchool s;
  s.addUser("jens");
  s.addUser("mette");
  PosixProcessRunner runner;
  s.rt.ports.processes = &runner;
  s.logs.folder.write(
      "script/Lodsvaerk.exe",
      "#!/bin/sh\n"
      "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; pwd -P; } >> args.txt\n"
      "[ \"$1\" = mette ] && exit 7\n"
      "exit 0\n");
  fs::permissions(s.logs.folder.file("script/Lodsvaerk.exe"), fs::perms::owner_all);
  s.job("kodevalt-1.behandler",
        {"@+UNI_PASS", enc("jens;a \"b\" $(touch x)"), enc("mette;Maane#77")});

  processPasswordJob(s.rt, "kodevalt-1.behandler");

  const std::string here = fs::canonical(s.logs.folder.path()).string();
  EXPECT_EQ(s.logs.folder.read("args.txt"), "2\n[jens]\n[a \"b\" $(touch x)]\n" + here +
                                                "\n2\n[mette]\n[Maane#77]\n" + here + "\n");
  EXPECT_FALSE(s.exists("x"));
  EXPECT_EQ(s.log(),
            " Resetter passwords:\n"
            "    Reset: jens fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for jens!\n"
            "    Reset: mette fundet som login (sAMAccountName).\n"
            " Resetter UNI-login password for mette!\n"
            "** Fejl: CreateProcess(Lodsvaerk) - returkode fra program: 7\n"
            "    Reset: 2 brugere er behandlet.\n");
}

}  // namespace
}  // namespace tv::test

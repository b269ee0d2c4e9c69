// Housekeeping with the real archiver and hooks with real scripts, through
// the Linux process runner.
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include <future>
#include <thread>

#include "platform/posix/posix_local_files.h"
#include "platform/posix/posix_process_runner.h"
#include "runtime/runtime.h"
#include "scripts/script_hook.h"
#include "service/housekeeping.h"
#include "service/service_main.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;

std::string capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

struct RealProcesses : ::testing::Test, LogFixture {
  PosixProcessRunner processes;
  PosixLocalFiles files;
  Runtime rt{log, ports(), folder.path()};
  Ports ports() {
    Ports p;
    p.processes = &processes;
    p.clock = &clock;
    p.localFiles = &files;
    return p;
  }
  void writeAged(const std::string& name, const std::string& content, int days) {
    folder.write(name, content);
    auto when = std::chrono::system_clock::from_time_t(clock.t) - std::chrono::hours(24 * days);
    fs::last_write_time(folder.file(name), std::chrono::file_clock::from_sys(when));
  }
  void writeScript(const std::string& name, const std::string& body) {
    folder.write(name, "#!/bin/sh\n" + body);
    fs::permissions(folder.file(name), fs::perms::owner_all);
  }
};

TEST_F(RealProcesses, HousekeepingZipsIntoTheDailyArchiveWith7za) {
  fs::create_directories(folder.file("script"));
  fs::create_symlink("/usr/bin/7za", folder.file("script/7za.exe"));
  rt.settings.BackupDage = 3;
  writeAged("brovalt-1.slut", "job one", 4);
  writeAged("brovalt-2.slut", "job two", 4);
  writeAged("Tavlevagt.log20220101.log", "old log", 4);
  writeAged("brovalt-3.slut", "young", 1);
  // Names the archiver could take for switches or list files are files too.
  writeAged("-r.slut", "dash", 4);
  writeAged("@list.slut", "brovalt-3.slut\n", 4);
  housekeeping(rt);

  EXPECT_FALSE(fs::exists(folder.file("brovalt-1.slut")));
  EXPECT_FALSE(fs::exists(folder.file("brovalt-2.slut")));
  EXPECT_FALSE(fs::exists(folder.file("Tavlevagt.log20220101.log")));
  EXPECT_TRUE(fs::exists(folder.file("brovalt-3.slut")));
  std::string jobs = folder.file("bwdata.backup/brugere20220617.zip");
  EXPECT_EQ(capture("7za e -so '" + jobs + "' brovalt-2.slut 2>/dev/null"), "job two");
  EXPECT_EQ(capture("7za e -so '" + jobs + "' brovalt-1.slut 2>/dev/null"), "job one");
  EXPECT_EQ(capture("7za e -so '" + jobs + "' -- -r.slut 2>/dev/null"), "dash");
  EXPECT_EQ(capture("7za e -so '" + jobs + "' -- @list.slut 2>/dev/null"), "brovalt-3.slut\n");
  EXPECT_FALSE(fs::exists(folder.file("-r.slut")));
  EXPECT_EQ(capture("7za e -so '" + jobs + "' brovalt-3.slut 2>/dev/null"), "");
  EXPECT_EQ(capture("7za e -so '" + folder.file("bwdata.backup/Tavlevagt20220617.zip") +
                    "' Tavlevagt.log20220101.log 2>/dev/null"),
            "old log");
  EXPECT_EQ(text(), "");
  // Finished jobs hold names and enciphered passwords: the service account's alone.
  struct stat st {};
  ASSERT_EQ(::stat(jobs.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A later run the same day adds to the same archive.
  writeAged("brovalt-4.slut", "job four", 4);
  housekeeping(rt);
  EXPECT_EQ(capture("7za e -so '" + jobs + "' brovalt-4.slut 2>/dev/null"), "job four");
  EXPECT_EQ(capture("7za e -so '" + jobs + "' brovalt-1.slut 2>/dev/null"), "job one");
}

TEST_F(RealProcesses, AFailingArchiverKeepsTheFiles) {
  writeScript("script/7za.exe", "exit 2\n");
  rt.settings.BackupDage = 3;
  writeAged("brovalt-1.slut", "job one", 4);
  housekeeping(rt);
  EXPECT_EQ(folder.read("brovalt-1.slut"), "job one");
  EXPECT_EQ(text(), "** Fejl: ZipFile() - returkode fra program: 2\n");
}

TEST_F(RealProcesses, HooksGetTheirArgumentsWithoutAShell) {
  rt.settings.IDrift = true;
  rt.settings.LogLevel = 1;
  writeScript(
      "script/hook.sh",
      "for a in \"$@\"; do printf '[%s]' \"$a\"; done >> hook.out\necho >> hook.out\nexit 0\n");
  const std::string owned = folder.file("owned");
  runScript(rt, folder.file("script/hook.sh"), "x;touch " + owned, "RunScript:");
  runScript(rt, "script/hook.sh", "$(touch " + owned + ")", "RunScript:");
  runScript(rt, "\"script/hook.sh\"", "'`id`|x'", "RunScript:");
  // Only double quotes group words; a single quote is a letter like any other.
  runScript(rt, "script/hook.sh", "O'Brien \"Anna Hansen\" 'a b", "RunScript:");
  EXPECT_FALSE(fs::exists(owned));
  EXPECT_EQ(folder.read("hook.out"), "[x;touch][" + owned + "]\n[$(touch][" + owned +
                                         ")]\n['`id`|x']\n[O'Brien][Anna Hansen]['a][b]\n");
}

TEST_F(RealProcesses, AHookThatHangsIsEndedWithEverythingItStartedAGraceAfterAStop) {
  rt.settings.IDrift = true;
  rt.settings.LogLevel = 0;
  rt.stopGrace = std::chrono::milliseconds(300);
  writeScript("script/hang.sh", "sleep 300 &\nsleep 300\n");
  auto hook = std::async(std::launch::async,
                         [&] { runScript(rt, "script/hang.sh", "anna", "RunScript:"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto stopped = std::chrono::steady_clock::now();
  requestStop(rt);
  ASSERT_EQ(hook.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_GE(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(300));
  const std::string ended =
      "** Fejl: script/hang.sh kørte stadig, da fristen efter stop af tjenesten udløb, og er "
      "afbrudt sammen med de programmer, det startede.\n";
  EXPECT_EQ(text(), " Kører Script: script/hang.sh \n" + ended +
                        "** Fejl: RunScript - returkode fra program: 137\n");
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].text, ended);
}

TEST_F(RealProcesses, ExitCodesOfRealScripts) {
  rt.settings.LogLevel = 0;
  writeScript("script/ok.sh", "exit 0\n");
  writeScript("script/three.sh", "exit 3\n");
  writeScript("script/large.sh", "exit 259\n");  // an exit status is one byte: 259 arrives as 3
  EXPECT_EQ(runCommand(rt, "script/ok.sh", "L:"), 0u);
  EXPECT_EQ(runCommand(rt, "script/three.sh", "L:"), 3u);
  EXPECT_EQ(runCommand(rt, "script/large.sh", "L:"), 3u);
  EXPECT_EQ(runCommand(rt, "script/missing.sh", "L:"), 0u);
  EXPECT_EQ(text(),
            "** Fejl: RunScript - returkode fra program: 3\n"
            "** Fejl: RunScript - returkode fra program: 3\n");
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].text, "RunScript:  (" + errnoText(ENOENT) + ")");
}

TEST_F(RealProcesses, TestModeStartsNothing) {
  rt.settings.IDrift = false;
  writeScript("script/hook.sh", "touch ran\n");
  runScript(rt, "script/hook.sh", "anna", "RunScript:");
  EXPECT_FALSE(fs::exists(folder.file("ran")));
  EXPECT_EQ(text(), "IDrift = 0: Test af Script : script/hook.sh\n");
}

}  // namespace
}  // namespace tv::test

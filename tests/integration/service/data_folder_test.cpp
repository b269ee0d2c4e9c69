// The files the service writes in its data folder, with the Linux adapter:
// nothing planted at one of their names (a link, a FIFO, a folder) is ever
// written through, what is written is the service account's alone, and the
// folder itself is held by one process at a time.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <future>

#include "jobdata/list_files.h"
#include "platform/posix/posix_local_files.h"
#include "runtime/runtime.h"
#include "service/housekeeping.h"
#include "service/job_cycle.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
}

TEST(PosixLocalFiles, OpensOnlyRegularFilesNeverThroughALinkAndCreatesThemOwnerOnly) {
  TempFolder folder;
  TempFolder elsewhere;
  elsewhere.write("victim", "precious\n");
  PosixLocalFiles files;
  folder.write("existing", "old\n");
  fs::permissions(folder.file("existing"), fs::perms(0640));
  fs::create_symlink(elsewhere.file("victim"), folder.file("link"));
  fs::create_symlink(elsewhere.file("nothing"), folder.file("dangling"));
  ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0600), 0);
  fs::create_directory(folder.file("folder"));

  const struct {
    const char* name;
    bool opens;
    bool linkRefusal;
  } cases[] = {
      {"new", true, false},      {"existing", true, false}, {"link", false, true},
      {"dangling", false, true}, {"fifo", false, false},    {"folder", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A FIFO without a reader would block an ordinary open for ever.
    auto opened =
        std::async(std::launch::async, [&] { return files.openAppend(folder.file(c.name)); });
    ASSERT_EQ(opened.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    LocalFiles::Opened o = opened.get();
    EXPECT_EQ(o.file != nullptr, c.opens);
    EXPECT_EQ(isLinkRefusal(o.error), c.linkRefusal) << o.error.message();
    if (o.file != nullptr) {
      std::fputs("line\n", o.file);
      EXPECT_FALSE(files.finish(o.file));
    }
    std::string content;
    EXPECT_EQ(!files.readWhole(folder.file(c.name), content), c.opens);
  }
  EXPECT_EQ(folder.read("new"), "line\n");
  EXPECT_EQ(modeOf(folder.file("new")), 0600u);
  EXPECT_EQ(folder.read("existing"), "old\nline\n");
  EXPECT_EQ(elsewhere.read("victim"), "precious\n");
  EXPECT_FALSE(fs::exists(elsewhere.file("nothing")));

  // Temporary files: each a new name of its own, owner-only.
  std::string first, second;
  LocalFiles::Opened a = files.createUnique(folder.file("temp-"), first);
  LocalFiles::Opened b = files.createUnique(folder.file("temp-"), second);
  ASSERT_NE(a.file, nullptr);
  ASSERT_NE(b.file, nullptr);
  EXPECT_NE(first, second);
  EXPECT_TRUE(startsWith(first, folder.file("temp-")));
  EXPECT_EQ(modeOf(first), 0600u);
  std::fclose(a.file);
  std::fclose(b.file);

  // A file another program wrote is made owner-only; a link is refused.
  fs::permissions(folder.file("existing"), fs::perms(0644));
  EXPECT_FALSE(files.restrictToOwner(folder.file("existing")));
  EXPECT_EQ(modeOf(folder.file("existing")), 0600u);
  EXPECT_TRUE(isLinkRefusal(files.restrictToOwner(folder.file("link"))));
}

TEST(PosixLocalFiles, AFolderIsHeldByOneLockAtATime) {
  TempFolder folder;
  PosixLocalFiles files;
  LocalFiles::Locked first = files.lockFolder(folder.path());
  ASSERT_NE(first.lock, nullptr);
  LocalFiles::Locked second = files.lockFolder(folder.path());
  EXPECT_EQ(second.lock, nullptr);
  EXPECT_TRUE(second.heldElsewhere);
  first.lock.reset();
  EXPECT_NE(files.lockFolder(folder.path()).lock, nullptr);
  LocalFiles::Locked missing = files.lockFolder(folder.file("missing"));
  EXPECT_EQ(missing.lock, nullptr);
  EXPECT_FALSE(missing.heldElsewhere);
  EXPECT_EQ(missing.error.value(), ENOENT);
}

// A data folder with the Linux files adapter, a log over it and a fake clock
// at 2022-06-17.
struct DataFolder : ::testing::Test {
  TempFolder folder;
  TempFolder elsewhere;
  FakeClock clock;
  RecordingEventLog events;
  FixedSystemInfo system;
  PosixLocalFiles files;
  RecordingProcessRunner processes;
  Log log{Log::Options{folder.path(), "Tavlevagt.log", &clock, &events, &system, false, stderr,
                       &files}};
  Runtime rt{log, ports(), folder.path()};
  Ports ports() {
    Ports p;
    p.clock = &clock;
    p.system = &system;
    p.localFiles = &files;
    p.processes = &processes;
    return p;
  }
  DataFolder() {
    log.setFlushEachWrite(true);
    elsewhere.write("victim", "precious\n");
  }
  void plant(const std::string& name) {
    fs::create_directories(fs::path(folder.file(name)).parent_path());
    fs::create_symlink(elsewhere.file("victim"), folder.file(name));
  }
  [[nodiscard]] std::string fallbackLog() const {
    return cp1252ToUtf8(folder.read("$$morena$$.log"));
  }
};

TEST_F(DataFolder, ALinkPlantedWhereTheServiceWritesIsAnErrorLineNeverATarget) {
  const struct {
    const char* what;
    const char* planted;
    std::function<void(Runtime&)> write;
    std::string line;      // the error line, in the log in use
    std::string landedIn;  // where the text went instead ("" for nowhere)
  } cases[] = {
      {"the log", "Tavlevagt.log", [](Runtime& r) { (void)runCycle(r, {}); },
       "** Fejl: Loggen " + folder.file("Tavlevagt.log") +
           " kan ikke bruges (det er et symbolsk link, som ikke følges); linjerne skrives i " +
           folder.file("$$morena$$.log") + "\n",
       "$$morena$$.log"},
      {"a list file", "MedaMailListe-7.txt",
       [](Runtime& r) {
         r.job.sequence = "7";
         (void)appendListLine(r, "MedaMailListe", "anna");
       },
       "** Fejl: Listefilen MedaMailListe-7.txt kan ikke åbnes (det er et symbolsk link, som "
       "ikke følges); linjen er skrevet i $$file$$.txt\n",
       "$$file$$.txt"},
      {"today's archive", "bwdata.backup/brugere20220617.zip",
       [](Runtime& r) {
         r.settings.BackupDage = 1;
         housekeeping(r);
       },
       "** Fejl: ZipFile() - bwdata.backup/brugere20220617.zip er et symbolsk link; filerne "
       "bliver liggende.\n",
       "old.slut"},
      {"the backup folder", "bwdata.backup",
       [](Runtime& r) {
         r.settings.BackupDage = 1;
         housekeeping(r);
       },
       "** Fejl: bwdata.backup er et symbolsk link; der tages ingen backup, før det er erstattet "
       "af en mappe.\n",
       "old.slut"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& e : fs::directory_iterator(folder.path())) fs::remove_all(e.path());
    events.events.clear();
    processes.calls.clear();
    folder.write("script/7za.exe", "");
    folder.write("old.slut", "job");
    fs::last_write_time(folder.file("old.slut"),
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 10));
    plant(c.planted);
    ASSERT_EQ(log.open(), 0);
    c.write(rt);
    log.release();
    EXPECT_EQ(elsewhere.read("victim"), "precious\n");
    EXPECT_TRUE(fs::is_symlink(folder.file(c.planted)));
    const std::string logged =
        c.landedIn == "$$morena$$.log" ? fallbackLog() : cp1252ToUtf8(folder.read("Tavlevagt.log"));
    EXPECT_NE(logged.find(c.line), std::string::npos) << logged;
    EXPECT_TRUE(processes.calls.empty());  // no archiver was pointed at it
    EXPECT_TRUE(fs::exists(folder.file(c.landedIn)));
  }
}

TEST_F(DataFolder, WhatTheServiceWritesIsTheServiceAccountsAlone) {
  rt.settings.BackupDage = 1;
  rt.job.sequence = "7";
  ASSERT_EQ(log.open(), 0);
  log.message(lvl::kFile, "line\n");
  (void)appendListLine(rt, "ElevMailListe", "anna");
  housekeeping(rt);
  // A job's change report replaces what stands at its name, a planted link
  // included, and never writes through it.
  plant("brovalt-7.rapport.csv");
  {
    ChangeReportScope report(rt.changes, folder.file("brovalt-7.rapport.csv"), &files);
    rt.recordChange(ChangeAction::kCreate, "anna", "", "", "", ChangeResult::done());
  }
  log.release();
  EXPECT_EQ(elsewhere.read("victim"), "precious\n");
  EXPECT_FALSE(fs::is_symlink(folder.file("brovalt-7.rapport.csv")));
  EXPECT_NE(folder.read("brovalt-7.rapport.csv").find(";anna;opret;"), std::string::npos);
  EXPECT_EQ(modeOf(folder.file("brovalt-7.rapport.csv")), 0600u);
  EXPECT_EQ(modeOf(folder.file("Tavlevagt.log")), 0600u);
  EXPECT_EQ(modeOf(folder.file("ElevMailListe-7.txt")), 0600u);
  EXPECT_EQ(modeOf(folder.file("bwdata.backup")), 0700u);
}

}  // namespace
}  // namespace tv::test

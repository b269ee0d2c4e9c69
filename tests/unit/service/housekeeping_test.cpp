#include "service/housekeeping.h"
#include "runtime/data_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/data_folder.h"
#include "runtime/settings_loader.h"
#include "service_test_support.h"
#include "text/text.h"

namespace tv::test {
namespace {

namespace fs = std::filesystem;

struct Housekeeping : ::testing::Test, ServiceFixture {
  Housekeeping() { folder.write("script/7za.exe", ""); }
  // Writes a file whose last write lies days before the fake clock's now.
  void writeAged(const std::string& name, double days) {
    folder.write(name, name);
    auto when = std::chrono::system_clock::from_time_t(clock.t) -
                std::chrono::seconds(static_cast<long long>(days * 86400));
    fs::last_write_time(folder.file(name), std::chrono::file_clock::from_sys(when));
  }
  std::string archiver() const { return folder.file("script/7za.exe"); }
};

TEST_F(Housekeeping, NothingHappensWithBothAgesZero) {
  writeAged("brovalt-1.slut", 100);
  housekeeping(rt);
  EXPECT_TRUE(processes.calls.empty());
  EXPECT_FALSE(exists("bwdata.backup"));
}

TEST_F(Housekeeping, OldJobFilesCleanUpFilesAndLogsGoToTheirDailyArchives) {
  rt.settings.BackupDage = 7;
  writeAged("brovalt-1.slut", 8);
  writeAged("brovalt-2.slut", 6);  // too young
  writeAged("oprydning-1.bat", 8);
  writeAged("Tavlevagt.log20220101.log", 8);
  writeAged("notes.txt", 8);
  writeAged("Tavlevagt.log", 8);  // the log in use stays where it is
  writeAged("brovalt-1.rapport.csv", 8);
  writeAged("kodevalt-3.rapport.csv", 9);
  writeAged("brovalt-2.rapport.csv", 6);  // too young
  housekeeping(rt);
  ASSERT_EQ(processes.calls.size(), 4u);
  using Argv = std::vector<std::string>;
  EXPECT_EQ(processes.calls[0].argv,
            (Argv{archiver(), "a", "-tzip", "bwdata.backup/brugere20220617.zip", "--",
                  "brovalt-1.slut"}));
  EXPECT_EQ(processes.calls[1].argv,
            (Argv{archiver(), "a", "-tzip", "bwdata.backup/brugere20220617.zip", "--",
                  "oprydning-1.bat"}));
  EXPECT_EQ(processes.calls[2].argv,
            (Argv{archiver(), "a", "-tzip", "bwdata.backup/Tavlevagt20220617.zip", "--",
                  "Tavlevagt.log20220101.log"}));
  // The change reports go with the logs, in one call.
  EXPECT_EQ(processes.calls[3].argv,
            (Argv{archiver(), "a", "-tzip", "bwdata.backup/Tavlevagt20220617.zip", "--",
                  "brovalt-1.rapport.csv", "kodevalt-3.rapport.csv"}));
  for (const auto& call : processes.calls) EXPECT_EQ(call.cwd, folder.path());
  EXPECT_TRUE(fs::is_directory(folder.file("bwdata.backup")));
  EXPECT_FALSE(exists("brovalt-1.slut"));
  EXPECT_FALSE(exists("oprydning-1.bat"));
  EXPECT_TRUE(exists("brovalt-2.slut"));
  EXPECT_TRUE(exists("notes.txt"));
  EXPECT_TRUE(exists("Tavlevagt.log"));
  EXPECT_FALSE(exists("brovalt-1.rapport.csv"));
  EXPECT_TRUE(exists("brovalt-2.rapport.csv"));
}

TEST_F(Housekeeping, ManyJobFilesAreZippedInListsBelow2000Characters) {
  rt.settings.BackupDage = 1;
  const std::string pad(80, 'x');
  for (int i = 0; i < 60; ++i) writeAged(format("brovalt-%02d-%s.slut", i, pad.c_str()), 2);
  housekeeping(rt);
  ASSERT_GE(processes.calls.size(), 3u);
  std::size_t names = 0;
  for (const auto& call : processes.calls) {
    EXPECT_EQ(call.argv[3], "bwdata.backup/brugere20220617.zip");
    std::size_t listChars = 0;
    for (std::size_t i = 5; i < call.argv.size(); ++i) listChars += 1 + call.argv[i].size();
    EXPECT_LT(listChars, kZipListChars);
    names += call.argv.size() - 5;
  }
  EXPECT_EQ(names, 60u);
  // 94-character names: 20 fit below 2000 with their blanks (20 * 95 = 1900).
  EXPECT_EQ(processes.calls[0].argv.size(), 5u + 20u);
  EXPECT_TRUE(findFiles(folder.path(), "", ".slut").empty());
}

TEST_F(Housekeeping, AFailingArchiverKeepsTheFilesAndLogsItsCode) {
  rt.settings.BackupDage = 1;
  (void)log.open();
  writeAged("brovalt-1.slut", 2);
  processes.result = {true, 0, 0, 2};
  housekeeping(rt);
  log.release();
  EXPECT_TRUE(exists("brovalt-1.slut"));
  EXPECT_EQ(logText(), "** Fejl: ZipFile() - returkode fra program: 2\n");
}

TEST_F(Housekeeping, StillActiveCountsAsSuccessAndAnArchiverThatWillNotStartIsLogged) {
  rt.settings.BackupDage = 1;
  (void)log.open();
  writeAged("brovalt-1.slut", 2);
  processes.result = {true, 0, 0, 259};
  housekeeping(rt);
  EXPECT_FALSE(exists("brovalt-1.slut"));
  writeAged("brovalt-2.slut", 2);
  processes.result = {false, EACCES, 0, 0};
  housekeeping(rt);
  log.release();
  EXPECT_TRUE(exists("brovalt-2.slut"));
  EXPECT_EQ(logText(), "** Fejl: ZipFile()  (" + errnoText(EACCES) + ")");
}

TEST_F(Housekeeping, WithoutTheArchiverNothingIsZippedOrDeleted) {
  fs::remove(folder.file("script/7za.exe"));
  rt.settings.BackupDage = 1;
  writeAged("brovalt-1.slut", 2);
  housekeeping(rt);
  EXPECT_TRUE(processes.calls.empty());
  EXPECT_TRUE(exists("brovalt-1.slut"));
}

TEST_F(Housekeeping, OldArchivesAreDeletedByAge) {
  rt.settings.BackupDeleteDage = 30;
  writeAged("bwdata.backup/brugere20220517.zip", 31);
  writeAged("bwdata.backup/brugere20220519.zip", 29);
  writeAged("bwdata.backup/brovalt-1.slut", 31);
  writeAged("bwdata.backup/keep.txt", 31);
  writeAged("brovalt-2.slut", 31);  // BackupDage 0: the data folder is left alone
  housekeeping(rt);
  EXPECT_FALSE(exists("bwdata.backup/brugere20220517.zip"));
  EXPECT_TRUE(exists("bwdata.backup/brugere20220519.zip"));
  EXPECT_FALSE(exists("bwdata.backup/brovalt-1.slut"));
  EXPECT_TRUE(exists("bwdata.backup/keep.txt"));
  EXPECT_TRUE(exists("brovalt-2.slut"));
  EXPECT_TRUE(processes.calls.empty());
}

TEST_F(Housekeeping, TodaysArchivesAreNeverDeletedWhateverTheirAge) {
  rt.settings.BackupDeleteDage = 1;
  // The fake clock stands at 2022-06-17; a clock set back makes today's
  // archives look old.
  writeAged("bwdata.backup/brugere20220617.zip", 5);
  writeAged("bwdata.backup/Tavlevagt20220617.zip", 5);
  writeAged("bwdata.backup/brugere20220612.zip", 5);
  housekeeping(rt);
  EXPECT_TRUE(exists("bwdata.backup/brugere20220617.zip"));
  EXPECT_TRUE(exists("bwdata.backup/Tavlevagt20220617.zip"));
  EXPECT_FALSE(exists("bwdata.backup/brugere20220612.zip"));
}

TEST_F(Housekeeping, ANegativeAgeInTheSettingsDeletesNoBackup) {
  folder.write("Tavlevagt.ini", "[ADsettings]\r\nBackupDage=1\r\nBackupDeleteDage=-1\r\n");
  ASSERT_EQ(loadSettings(rt), 0);
  writeAged("bwdata.backup/brugere20220616.zip", 1.5);
  writeAged("bwdata.backup/brovalt-3.slut", 10);
  writeAged("brovalt-4.slut", 2);
  housekeeping(rt);
  EXPECT_TRUE(exists("bwdata.backup/brugere20220616.zip"));
  EXPECT_TRUE(exists("bwdata.backup/brovalt-3.slut"));
  ASSERT_EQ(processes.calls.size(), 1u);  // brovalt-4.slut still goes to today's archive
}

TEST_F(Housekeeping, AFileInTheWayOfTheBackupFolderStopsIt) {
  rt.settings.BackupDage = 1;
  rt.settings.BackupDeleteDage = 1;
  folder.write("bwdata.backup", "not a folder");
  writeAged("brovalt-1.slut", 2);
  housekeeping(rt);
  EXPECT_TRUE(processes.calls.empty());
  EXPECT_TRUE(exists("brovalt-1.slut"));
}

TEST_F(Housekeeping, DeleteFolderTreeRemovesReadOnlyEntriesAndLogsThem) {
  rt.settings.LogLevel = 3;
  (void)log.open();
  folder.write("home/anna/sub/a.txt", "a");
  folder.write("home/anna/b.txt", "b");
  fs::permissions(folder.file("home/anna/b.txt"), fs::perms::owner_read);
  fs::permissions(folder.file("home/anna/sub"), fs::perms::owner_read | fs::perms::owner_exec);
  // A link inside the tree is removed, never followed.
  folder.write("outside/keep.txt", "keep");
  fs::create_directory_symlink(folder.file("outside"), folder.file("home/anna/link"));

  EXPECT_EQ(deleteFolderTree(rt, folder.file("home/anna")), 1);
  log.release();
  EXPECT_FALSE(exists("home/anna"));
  EXPECT_EQ(folder.read("outside/keep.txt"), "keep");
  std::string text = logText();
  EXPECT_NE(text.find("         Sletter a.txt\n         Mappen " + folder.file("home/anna/sub") +
                      " slettes\n"),
            std::string::npos);
  EXPECT_NE(text.find("         Sletter b.txt\n"), std::string::npos);
  EXPECT_NE(text.find("         Sletter link\n"), std::string::npos);
  EXPECT_TRUE(endsWith(text, "         Mappen " + folder.file("home/anna") + " slettes\n"));
  EXPECT_EQ(text.find("** Fejl"), std::string::npos);
}

TEST_F(Housekeeping, DeleteFolderTreeOfNoFolderDoesNothing) {
  EXPECT_EQ(deleteFolderTree(rt, folder.file("nothing")), 1);
  folder.write("file", "x");
  EXPECT_EQ(deleteFolderTree(rt, folder.file("file")), 1);
  EXPECT_EQ(folder.read("file"), "x");
}

}  // namespace
}  // namespace tv::test

#include <gtest/gtest.h>

#include "school_fixture.h"
#include "shares/share_access.h"
#include "shares/share_paths.h"
#include "shares/shares.h"

namespace tv {
namespace {

using test::kAbcSid;
using test::kRoot;
using test::kRootEntry;
using test::School;
using test::threeEntries;
using test::userRecord;

TEST(SharePaths, FoldersHomeDirectoriesAndShareNames) {
  EXPECT_EQ(userFolderPath("\\\\fs\\home", "abc", false, "A"), "\\\\fs\\home\\abc");
  EXPECT_EQ(userFolderPath("\\\\fs\\home", "abc", true, "A"), "\\\\fs\\home\\A\\abc");
  EXPECT_EQ(userFolderPath("\\\\fs\\home", "øle", true, ""), "\\\\fs\\home\\Ø\\øle");
  EXPECT_EQ(shareNameOf("abc", true), "abc$");
  EXPECT_EQ(shareNameOf("abc", false), "abc");
  Trim t;
  t.shareRoot = "\\\\fs\\home";
  t.shareMode = 1;
  t.hideShare = true;
  t.alphaShare = true;
  EXPECT_EQ(homeDirectoryOf(t, "abc", "A"), "\\\\fs\\abc$") << "the split does not reach the share";
  t.hideShare = false;
  EXPECT_EQ(homeDirectoryOf(t, "abc", "A"), "\\\\fs\\abc");
  t.shareMode = 2;
  EXPECT_EQ(homeDirectoryOf(t, "abc", "A"), "\\\\fs\\home\\A\\abc");
  t.alphaShare = false;
  EXPECT_EQ(homeDirectoryOf(t, "abc", "A"), "\\\\fs\\home\\abc");
  EXPECT_EQ(shareContainerPath("fs"), "WinNT://fs/lanmanServer");
}

TEST(SharePaths, ReportedSharePathsCompareAsTheServerKeepsThem) {
  EXPECT_TRUE(sameSharePath("D:\\home\\abc", "d:\\HOME\\ABC"));
  EXPECT_TRUE(sameSharePath("/srv/home\\abc", "C:\\srv\\home\\abc")) << "Samba's drive prefix";
  EXPECT_FALSE(sameSharePath("D:\\home\\abc", "C:\\home\\abc"));
  EXPECT_FALSE(sameSharePath("D:\\home\\abc", "D:\\home\\abd"));
  EXPECT_FALSE(sameSharePath("D:\\home\\æbc", "D:\\home\\Æbc")) << "only A-Z ignore case";
  EXPECT_FALSE(sameSharePath("/srv/home", "C:"));
  EXPECT_FALSE(isFolderName(".."));
  EXPECT_FALSE(isFolderName("a\\b"));
  EXPECT_FALSE(isFolderName("a/b"));
  EXPECT_FALSE(isFolderName(""));
  EXPECT_TRUE(isFolderName("7a"));
}

TEST(ShareAccess, MergeReplacesTheTrusteesOwnEntriesAndKeepsTheRest) {
  const AccessEntry deny{"S-1-5-21-9", 0x10000, 3, AccessEntry::kDeny};
  const AccessEntry oldOwn{kAbcSid, 0x1200A9, 0, AccessEntry::kAllow};
  const AccessEntry other{"S-1-5-21-8", 0x1200A9, 3, AccessEntry::kAllow};
  const AccessEntry inheritedOwn{kAbcSid, 0x1200A9, 0x13, AccessEntry::kAllow};
  auto entries = folderAccess(kAbcSid, 0);
  EXPECT_EQ(entries, threeEntries(kAbcSid, 0x1FFFFF));
  auto merged = mergeAccess({other, oldOwn, inheritedOwn, deny}, entries);
  std::vector<AccessEntry> want = {deny, entries[0], entries[1], entries[2], other, inheritedOwn};
  EXPECT_EQ(merged, want);
}

TEST(GetSidForAccount, KnownAccountGivesItsIdentifierAndTheLookupLine) {
  School s;
  s.rt.settings.LogLevel = 3;
  EXPECT_EQ(GetSidForAccount(s.rt, "", "abc"), std::optional<std::string>(kAbcSid));
  EXPECT_TRUE(s.logHas("      SidForAccount(SKOLE\\abc) = S-1-5-21-1-2-3-1101\n")) << s.log();
  EXPECT_TRUE(s.logs.clock.sleeps.empty());
  EXPECT_EQ(GetSidForAccount(s.rt, "", "*"), std::nullopt) << "a filter character is a name";
}

TEST(GetSidForAccount, UnknownAccountIsWaitedForTwelveTimesThreeSeconds) {
  School s;
  s.rt.settings.LogLevel = 3;
  EXPECT_EQ(GetSidForAccount(s.rt, "", "ukendt"), std::nullopt);
  EXPECT_EQ(s.logs.clock.sleeps, std::vector<long long>(12, 3000));
  std::string log = s.log();
  std::size_t count = 0;
  const std::string line = "      ** Venter på LookupAccountName-2(ukendt)\n";
  for (auto p = log.find(line); p != std::string::npos; p = log.find(line, p + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 12u);
}

TEST(GetSidForAccount, AccountWithoutIdentifierIsReadSixTimes) {
  School s;
  s.rt.settings.LogLevel = 1;
  EXPECT_EQ(GetSidForAccount(s.rt, "", "nosid"), std::nullopt);
  EXPECT_EQ(s.logs.clock.sleeps, std::vector<long long>(6, 2000));
  EXPECT_FALSE(s.logHas("LookupAccountName")) << "the retries speak only above LogLevel 2";
  s.rt.settings.LogLevel = 3;
  EXPECT_EQ(GetSidForAccount(s.rt, "", "nosid"), std::nullopt);
  EXPECT_TRUE(s.logHas("** Fejl: LookupAccountName-2(nosid)\n")) << s.log();
}

TEST(GetSidForAccount, AccountThatAppearsDuringTheWaitsIsFound) {
  School s;
  int calls = 0;
  // The account reaches the directory after the second wait.
  struct LateClock : test::FakeClock {
    School* school;
    int* n;
    void sleepFor(std::chrono::milliseconds ms) override {
      if (++*n == 2) {
        EXPECT_EQ(
            school->directory.loadLdif(school->directory.saveLdif() + "\n" +
                                       test::accountLdif("ny", "user", "S-1-5-21-1-2-3-1300")),
            "");
      }
      FakeClock::sleepFor(ms);
    }
  } clock;
  clock.school = &s;
  clock.n = &calls;
  s.rt.ports.clock = &clock;
  EXPECT_EQ(GetSidForAccount(s.rt, "", "ny"), std::optional<std::string>("S-1-5-21-1-2-3-1300"));
  EXPECT_EQ(clock.sleeps, (std::vector<long long>{3000, 3000}));
}

TEST(CreateSecureFolder, HomeFolderGetsExactlyTheThreeEntries) {
  School s;
  s.rt.settings.AccessPermissionsShareElev = 0;
  s.rt.settings.AccessPermissionsShareMeda = 0x1200A9;
  s.select(false);
  auto u = userRecord("abc");
  EXPECT_EQ(CreateSecureFolder(s.rt, u, false), 0) << s.log();
  EXPECT_EQ(s.files.access("\\\\fs\\elever\\abc"), threeEntries(kAbcSid, 0x1FFFFF))
      << "a mask of 0 is all access";
  s.select(true);
  EXPECT_EQ(CreateSecureFolder(s.rt, u, false), 0);
  EXPECT_EQ(s.files.access("\\\\fs\\home\\abc"), threeEntries(kAbcSid, 0x1200A9));
}

TEST(CreateSecureFolder, SplitLetterFolderIsMadePlainlyAndExistingFoldersAreLeft) {
  School s;
  s.rt.settings.AlphaopdelShareMeda = true;
  s.select(true);
  auto u = userRecord("abc");
  EXPECT_EQ(CreateSecureFolder(s.rt, u, false), 0);
  std::vector<AccessEntry> inherited = {{test::kDomainUsersSid, 0x1200A9, 0x13, 0}};
  EXPECT_EQ(s.files.access("\\\\fs\\home\\A"), inherited) << "the letter folder inherits";
  EXPECT_EQ(s.files.access("\\\\fs\\home\\A\\abc"), threeEntries(kAbcSid, 0x1FFFFF));
  s.files.calls.clear();
  EXPECT_EQ(CreateSecureFolder(s.rt, u, false), 0);
  EXPECT_TRUE(s.files.calls.empty()) << "rights are set only when a folder is made";
}

TEST(CreateSecureFolder, MergeKeepsTheInheritedEntries) {
  School s;
  auto u = userRecord("abc");
  EXPECT_EQ(CreateSecureFolder(s.rt, u, true), 0);
  auto want = threeEntries(kAbcSid, 0x1FFFFF);
  want.push_back({test::kDomainUsersSid, 0x1200A9, 0x13, 0});
  EXPECT_EQ(s.files.access("\\\\fs\\home\\abc"), want);
  EXPECT_EQ(s.files.calls,
            (std::vector<std::string>{"mkdir \\\\fs\\home\\abc", "setacl \\\\fs\\home\\abc"}));
}

TEST(CreateSecureFolder, FailuresAreLoggedWithThePath) {
  School s;
  auto u = userRecord("ukendt");
  EXPECT_EQ(CreateSecureFolder(s.rt, u, false), 1);
  EXPECT_TRUE(s.logHas("** Fejl: GetSidForAccount(ukendt)\n")) << s.log();
  EXPECT_TRUE(s.files.calls.empty());

  auto abc = userRecord("abc");
  s.files.failMakeFolder = EACCES;
  EXPECT_EQ(CreateSecureFolder(s.rt, abc, false), 0);
  EXPECT_TRUE(s.logHas("** Fejl: CreateSecureFolder() - CreateDirectory(\\\\fs\\home\\abc)\n"));
  s.files.failMakeFolder = 0;
  s.files.failWrites.insert("\\\\fs\\home\\abc");
  EXPECT_EQ(CreateSecureFolder(s.rt, abc, true), 0);
  EXPECT_TRUE(s.logHas("** Fejl: SetNamedSecurityInfo() - CreateDirectory(\\\\fs\\home\\abc)\n"));
}

TEST(CreateSecureFolder, ProfileFoldersAndTheirSubFolders) {
  School s;
  s.rt.settings.TerminalProfileShareMeda = "\\\\fs\\tsprof";
  s.rt.settings.TerminalProfileShareMedaCreate = true;
  s.rt.settings.TerminalProfileFolderMeda = "tsprofil";
  s.rt.settings.UserProfileShareMeda = "\\\\fs\\prof\\mandatory.man";
  s.rt.settings.UserProfileShareMedaCreate = true;
  s.files.addRoot("\\\\fs\\tsprof");
  s.files.addRoot("\\\\fs\\prof");
  s.select(true);
  auto u = userRecord("abc");
  EXPECT_EQ(CreateSecureFolder(s.rt, u, true), 0);
  EXPECT_EQ(s.files.access("\\\\fs\\tsprof\\abc"), threeEntries(kAbcSid, 0x1FFFFF))
      << "profile folders never merge";
  EXPECT_EQ(s.files.access("\\\\fs\\tsprof\\abc\\tsprofil"), threeEntries(kAbcSid, 0x1FFFFF));
  for (const auto& [path, entries] : s.files.folders) {
    EXPECT_FALSE(path.starts_with("\\\\fs\\prof\\")) << "a .man profile gets no folder: " << path;
  }
}

TEST(CreateSecureGroupFolder, GroupFolderIsJoinedWithAForwardSlash) {
  School s;
  s.rt.settings.ServerShareGruppe = "\\\\fs\\grupper";
  s.rt.settings.AccessPermissionsShareGruppe = 0x1301BF;
  s.files.addRoot("\\\\fs\\grupper");
  CreateSecureGroupFolder(s.rt, "7a");
  EXPECT_EQ(s.files.calls, std::vector<std::string>{"mkdir+acl \\\\fs\\grupper\\7a"});
  EXPECT_EQ(s.files.access("\\\\fs\\grupper/7a"), threeEntries(test::kGroupSid, 0x1301BF));

  s.files.calls.clear();
  CreateSecureGroupFolder(s.rt, "8b");
  EXPECT_TRUE(s.files.calls.empty()) << "no folder without the group's identifier";
  EXPECT_TRUE(s.logHas("** Fejl: CreateSecureGroupFolder() - GetSidForAccount(8b)\n"));
  CreateSecureGroupFolder(s.rt, "..");
  EXPECT_TRUE(s.files.calls.empty()) << s.log();
}

TEST(CreateSecureGroupFolder, MergeIsSilentAndKeepsInheritedEntries) {
  School s;
  s.rt.settings.ServerShareGruppe = "\\\\fs\\grupper";
  s.rt.settings.InheritPermissionsShareGruppe = true;
  s.files.addRoot("\\\\fs\\grupper", {kRootEntry});
  s.files.failWrites.insert("\\\\fs\\grupper\\7a");
  CreateSecureGroupFolder(s.rt, "7a");
  EXPECT_TRUE(s.files.has("\\\\fs\\grupper\\7a"));
  EXPECT_FALSE(s.logHas("SetNamedSecurityInfo")) << s.log();
}

TEST(CreateSecureFolder, WithoutFileServerNothingIsClaimed) {
  School s;
  s.rt.ports.files = nullptr;
  auto u = userRecord("abc");
  EXPECT_EQ(CreateSecureFolder(s.rt, u, false), 1);
  EXPECT_TRUE(s.logHas(
      "** Fejl: CreateSecureFolder(abc) - der er ingen filserver at oprette mapper på.\n"));
}

}  // namespace
}  // namespace tv

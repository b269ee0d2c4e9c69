// The Windows file server adapter under Wine. The access lists are checked
// as the descriptors they become (SDDL), through the code that builds them
// for SetNamedSecurityInfoW; the folder calls run on the prefix's own disk,
// where Wine keeps the same contract (it cannot hold NT access lists, so
// setting them on a real share is left to a Windows file server).
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/windows/wide.h"
#include "platform/windows/win_file_server.h"
#include "windows/windows_test_support.h"

namespace tv::wintest {
namespace {

constexpr const char* kPupil = "S-1-5-21-1004336348-1177238915-682003330-1104";
constexpr std::uint8_t kInherit = kObjectInherit | kContainerInherit;
// Modify: read, write, execute and delete, not the right to change rights.
constexpr std::uint32_t kModify = 0x1301BF;

TEST(WinAccessLists, DescriptorsAreTheEntriesAskedFor) {
  struct Case {
    const char* what;
    std::vector<AccessEntry> entries;
    bool isProtected;
    const wchar_t* sddl;
  };
  const Case cases[] = {
      {"a home folder: the pupil, Administrators and SYSTEM, handed down to all below",
       {{kPupil, kAllAccess, kInherit, AccessEntry::kAllow},
        {"S-1-5-32-544", kAllAccess, kInherit, AccessEntry::kAllow},
        {"S-1-5-18", kAllAccess, kInherit, AccessEntry::kAllow}},
       true,
       L"D:P(A;OICI;0x1fffff;;;S-1-5-21-1004336348-1177238915-682003330-1104)"
       L"(A;OICI;0x1fffff;;;BA)(A;OICI;0x1fffff;;;SY)"},
      {"a modify right for the pupil, sub-folders only",
       {{kPupil, kModify, kContainerInherit, AccessEntry::kAllow}},
       true,
       L"D:P(A;CI;0x1301bf;;;S-1-5-21-1004336348-1177238915-682003330-1104)"},
      {"a denial comes before every grant",
       {{"S-1-5-18", kAllAccess, kInherit, AccessEntry::kAllow},
        {kPupil, 0x10000, 0, AccessEntry::kDeny}},
       true,
       L"D:P(D;;SD;;;S-1-5-21-1004336348-1177238915-682003330-1104)(A;OICI;0x1fffff;;;SY)"},
      {"inherited entries stay the parent's: unprotected, and not set here",
       {{"S-1-5-18", kAllAccess, kInherit, AccessEntry::kAllow},
        {"S-1-5-32-544", kAllAccess, kInherit | kInheritedEntry, AccessEntry::kAllow}},
       false,
       L"D:(A;OICI;0x1fffff;;;SY)"},
  };
  for (const Case& c : cases) {
    unsigned long error = 0;
    EXPECT_EQ(win::accessListSddl(c.entries, c.isProtected, &error), c.sddl) << c.what;
    EXPECT_EQ(error, 0u) << c.what;
  }
  unsigned long error = 0;
  EXPECT_EQ(win::accessListSddl({{"S-1-5-21-x", kAllAccess, kInherit, AccessEntry::kAllow}}, true,
                                &error),
            L"");
  EXPECT_EQ(error, static_cast<unsigned long>(ERROR_INVALID_SID));
}

TEST(WinAccessLists, EntriesReadBackAsTheyWereSet) {
  const std::vector<AccessEntry> entries = {
      {kPupil, 0x10000, 0, AccessEntry::kDeny},
      {kPupil, kModify, kInherit, AccessEntry::kAllow},
      {"S-1-5-32-544", kAllAccess, kInherit, AccessEntry::kAllow},
  };
  unsigned long error = 0;
  const std::wstring sddl = win::accessListSddl(entries, true, &error);
  std::vector<AccessEntry> back;
  ASSERT_TRUE(win::entriesOfSddl(sddl, back)) << win::toUtf8(sddl);
  EXPECT_EQ(back, entries);
  // What a folder inherits is marked so, for the merge that keeps it.
  ASSERT_TRUE(win::entriesOfSddl(L"D:AI(A;OICIID;FA;;;SY)", back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].flags, kInherit | kInheritedEntry);
  EXPECT_EQ(back[0].mask, 0x1F01FFu);  // FILE_ALL_ACCESS
  EXPECT_EQ(back[0].sid, "S-1-5-18");
  EXPECT_FALSE(win::entriesOfSddl(L"D:(A;;nonsense)", back));
}

TEST(WinFolders, CreateMoveAndRemoveKeepTheContract) {
  TempDir tmp;
  auto files = openWinFileServer({});
  ASSERT_NE(files, nullptr);
  const std::string home = tmp.file("hjem");
  EXPECT_FALSE(files->exists(home));
  EXPECT_EQ(files->makeFolder(home), 0);
  EXPECT_TRUE(files->exists(home));
  EXPECT_EQ(files->makeFolder(home), ERROR_ALREADY_EXISTS);

  // Both separators name the same folder.
  EXPECT_EQ(files->makeFolder(home + "/elev/Dokumenter"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(files->makeFolder(home + "/elev"), 0);
  EXPECT_EQ(files->makeFolder(home + "\\elev/Dokumenter"), 0);
  writeFile(home + "\\elev\\Dokumenter\\stil.txt", "æøå");
  ASSERT_TRUE(SetFileAttributesW(win::toWide(home + "\\elev\\Dokumenter\\stil.txt").c_str(),
                                 FILE_ATTRIBUTE_READONLY));

  // A move never replaces a folder in the way.
  EXPECT_EQ(files->makeFolder(tmp.file("optaget")), 0);
  EXPECT_EQ(files->move(home + "\\elev", tmp.file("optaget")), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(files->exists(home + "\\elev\\Dokumenter\\stil.txt"));
  EXPECT_EQ(files->move(home + "\\elev", tmp.file("fratraadt")), 0);
  EXPECT_FALSE(files->exists(home + "\\elev"));
  EXPECT_EQ(readFile(tmp.file("fratraadt\\Dokumenter\\stil.txt")), "æøå");

  // The whole tree goes, read-only files included.
  EXPECT_EQ(files->removeTree(tmp.file("fratraadt")), 0);
  EXPECT_FALSE(files->exists(tmp.file("fratraadt")));
  const int missing = files->removeTree(tmp.file("fratraadt"));
  EXPECT_TRUE(missing == ERROR_FILE_NOT_FOUND || missing == ERROR_PATH_NOT_FOUND) << missing;
}

TEST(WinFolders, SecureFolderWithABadAccountIsNotLeftBehind) {
  TempDir tmp;
  auto files = openWinFileServer({});
  ASSERT_NE(files, nullptr);
  const std::string folder = tmp.file("elev");
  EXPECT_EQ(files->makeSecureFolder(folder,
                                    {{"S-1-5-21-ikke", kAllAccess, kInherit, AccessEntry::kAllow}}),
            ERROR_INVALID_SID);
  EXPECT_FALSE(files->exists(folder));
  EXPECT_EQ(
      files->writeAccess(folder, {{"ikke-en-sid", kAllAccess, kInherit, AccessEntry::kAllow}}),
      ERROR_INVALID_SID);
}

TEST(WinShares, NoServerAndCredentialFilesAreRefused) {
  auto files = openWinFileServer({});
  ASSERT_NE(files, nullptr);
  // An empty server name would act on this machine's own shares.
  EXPECT_EQ(files->openServer(""), kEAdsBadPathname);
  EXPECT_EQ(files->addShare("", "elev$", "D:\\Elever", 0), kEAdsBadPathname);
  EXPECT_EQ(files->deleteShare("", "elev$"), kEAdsBadPathname);
  EXPECT_EQ(files->shareInfo("", "elev$").hr, kEAdsBadPathname);
  std::string why;
  EXPECT_EQ(openWinFileServer({"C:\\tavlevagt\\smb.credentials"}, &why), nullptr);
  EXPECT_NE(why.find("C:\\tavlevagt\\smb.credentials"), std::string::npos) << why;
}

}  // namespace
}  // namespace tv::wintest

#include <gtest/gtest.h>

#include "school_fixture.h"
#include "shares/shares.h"

namespace tv {
namespace {

using test::kAbcSid;
using test::School;
using test::threeEntries;
using test::userRecord;

TEST(OpretFileshare, HiddenStaffShareAndHomeDirectory) {
  School s;
  s.rt.settings.RunScriptOpretShareMeda = "script/share.cmd";
  s.select(true);
  auto u = userRecord("abc");
  auto object = s.object("abc");
  OpretFileshare(s.rt, u, *object);
  const auto* share = s.files.share("fs", "abc$");
  ASSERT_NE(share, nullptr) << s.log();
  EXPECT_EQ(share->path, "D:\\home\\abc");
  EXPECT_EQ(share->maxUsers, 10u);
  EXPECT_EQ(s.files.access("\\\\fs\\home\\abc"), threeEntries(kAbcSid, 0x1FFFFF));
  EXPECT_EQ(s.value("abc", "homeDirectory"), "\\\\fs\\abc$");
  EXPECT_EQ(s.value("abc", "homeDrive"), "H:");
  ASSERT_EQ(s.processes.calls.size(), 1u);
  EXPECT_EQ(s.processes.calls[0].argv, (std::vector<std::string>{"script/share.cmd", "abc"}));
}

TEST(OpretFileshare, SplitLetterMovesTheFolderButNotTheHomeDirectory) {
  School s;
  s.rt.settings.AlphaopdelShareMeda = true;
  s.select(true);
  auto u = userRecord("abc");
  auto object = s.object("abc");
  OpretFileshare(s.rt, u, *object);
  ASSERT_NE(s.files.share("fs", "abc$"), nullptr) << s.log();
  EXPECT_EQ(s.files.share("fs", "abc$")->path, "D:\\home\\A\\abc");
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\A\\abc"));
  EXPECT_EQ(s.value("abc", "homeDirectory"), "\\\\fs\\abc$");
}

TEST(OpretFileshare, FolderModeMakesNoShare) {
  School s;
  s.rt.settings.OpretShareMeda = 2;
  s.rt.settings.AlphaopdelShareMeda = true;
  s.select(true);
  auto u = userRecord("abc");
  auto object = s.object("abc");
  OpretFileshare(s.rt, u, *object);
  EXPECT_TRUE(s.files.shares.empty());
  EXPECT_EQ(s.value("abc", "homeDirectory"), "\\\\fs\\home\\A\\abc");
}

TEST(OpretFileshare, EmptyHomeDriveStillSharesAndRunsTheScript) {
  School s;
  s.rt.settings.HomeDirDriveMeda = "";
  s.rt.settings.RunScriptOpretShareMeda = "script/share.cmd";
  s.select(true);
  auto u = userRecord("abc");
  auto object = s.object("abc");
  OpretFileshare(s.rt, u, *object);
  EXPECT_NE(s.files.share("fs", "abc$"), nullptr);
  EXPECT_EQ(s.value("abc", "homeDirectory"), "<none>");
  EXPECT_EQ(s.processes.calls.size(), 1u);
}

TEST(OpretFileshare, UnresolvedUserGetsNothing) {
  School s;
  s.rt.settings.RunScriptOpretShareMeda = "script/share.cmd";
  s.select(true);
  auto u = userRecord("nosid");
  auto object = s.object("nosid");
  OpretFileshare(s.rt, u, *object);
  EXPECT_TRUE(s.logHas("** Fejl: Kunne ikke oprette mappe for nosid.\n")) << s.log();
  EXPECT_TRUE(s.files.shares.empty());
  EXPECT_EQ(s.value("nosid", "homeDirectory"), "<none>");
  EXPECT_TRUE(s.processes.calls.empty());
}

TEST(OpretFileshare, TestModeChangesNothing) {
  School s;
  s.rt.settings.IDrift = false;
  auto u = userRecord("abc");
  auto object = s.object("abc");
  OpretFileshare(s.rt, u, *object);
  EXPECT_TRUE(s.logHas("   IDrift = 0: Test af OpretFileshare(abc)\n"));
  EXPECT_TRUE(s.files.calls.empty());
  EXPECT_EQ(s.value("abc", "homeDirectory"), "<none>");
}

TEST(ShareFolder, ExistingShareIsDeletedAndMadeAgain) {
  School s;
  s.files.shares[test::FakeFileServer::shareKey("fs", "abc$")] = {"D:\\andet", 0};
  auto u = userRecord("abc");
  ShareFolder(s.rt, u, true);
  EXPECT_TRUE(s.logHas("** Info: Nedlægger og genopretter share abc$.\n")) << s.log();
  EXPECT_EQ(s.files.share("fs", "abc$")->path, "D:\\home\\abc");
  EXPECT_EQ(s.files.share("fs", "abc$")->maxUsers, 10u);
  EXPECT_EQ(s.files.calls,
            (std::vector<std::string>{"delshare abc$", "addshare abc$ D:\\home\\abc"}));
}

TEST(ShareFolder, FailuresAreReported) {
  School s;
  s.files.unreachableServers.insert("fs");
  auto u = userRecord("abc");
  ShareFolder(s.rt, u, true);
  EXPECT_TRUE(
      s.logHas("** Fejl: ShareFolder() - ADsGetObject(WinNT://fs/lanmanServer)\n"
               "** Fejl: (hresult: 0x800706BA"))
      << s.log();
  s.files.unreachableServers.clear();
  s.files.failAddShare = hresultOf(0x80070005);
  ShareFolder(s.rt, u, true);
  EXPECT_TRUE(s.logHas("** Fejl: ShareFolder() - SetInfo\n** Fejl: (hresult: 0x80070005"));
}

TEST(UnShareFolder, MissingShareIsAnErrorOrANoteByLogLevel) {
  School s;
  s.rt.settings.LogLevel = 2;
  EXPECT_EQ(UnShareFolder(s.rt, test::kRoot, "abc", true), kShareNotFound);
  EXPECT_TRUE(s.logHas("** Fejl: UnShareFolder() - Delete(abc$)\n** Fejl: (hresult: 0x80070906"))
      << s.log();
  s.rt.settings.LogLevel = 3;
  EXPECT_EQ(UnShareFolder(s.rt, test::kRoot, "abc", true), kShareNotFound);
  EXPECT_TRUE(s.logHas("** Info: abc$ - Kunne ikke slette share folder, den eksisterer ikke.\n"));
  EXPECT_EQ(UnShareFolder(s.rt, test::kRoot, "abc_inaktiv", false), kShareNotFound);
  EXPECT_TRUE(s.logHas("** Info: abc_inaktiv - *_inaktiv share folder eksisterer ikke.\n"));
  s.files.shares[test::FakeFileServer::shareKey("fs", "7a")] = {"D:\\g\\7a", 10};
  EXPECT_EQ(UnShareFolder(s.rt, test::kRoot, "7a", false), kSOk);
  EXPECT_TRUE(s.files.shares.empty());
}

TEST(RenameFileShares, ExistingTargetIsMovedAsideFirst) {
  School s;
  s.rt.settings.LogLevel = 3;
  s.files.addRoot("\\\\fs\\home\\abc");
  s.files.addRoot("\\\\fs\\home\\abc\\dokumenter");
  s.files.addRoot("\\\\fs\\home\\abd");
  s.files.shares[test::FakeFileServer::shareKey("fs", "abc$")] = {"D:\\home\\abc", 10};
  auto u = userRecord("abd", "abc");
  RenameFileShares(s.rt, u);
  EXPECT_EQ(s.files.calls,
            (std::vector<std::string>{"move \\\\fs\\home\\abd -> \\\\fs\\home\\abd.bw_omdøb",
                                      "move \\\\fs\\home\\abc -> \\\\fs\\home\\abd",
                                      "addshare abd$ D:\\home\\abd", "delshare abc$"}))
      << s.log();
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\abd\\dokumenter"));
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\abd.bw_omdøb"));
  EXPECT_EQ(s.files.share("fs", "abd$")->path, "D:\\home\\abd");
  EXPECT_TRUE(
      s.logHas("   RenameFileShares - old abc - new abd\n"
               "   Alphaopdel not confirmed\n"
               "RenameFileShares - Ikke AlphaopdelShare old - \\\\fs\\home\\abc\n"
               "RenameFileShares - Ikke AlphaopdelShare new - \\\\fs\\home\\abd\n"
               "   RenameFileShares acces check\n"
               "RenameFileShares omdøb abd, \\\\fs\\home\n"
               "RenameFileShares OpretShare\n"));
}

TEST(RenameFileShares, SplitRenameAndAFolderThatCannotBeMovedAside) {
  School s;
  s.rt.settings.AlphaopdelShareMeda = true;
  s.rt.settings.OpretShareMeda = 2;
  s.select(true);
  s.files.addRoot("\\\\fs\\home\\A");
  s.files.addRoot("\\\\fs\\home\\B");
  s.files.addRoot("\\\\fs\\home\\A\\abc");
  s.files.addRoot("\\\\fs\\home\\B\\bob");
  s.files.addRoot("\\\\fs\\home\\bob.bw_omdøb");
  auto u = userRecord("bob", "abc");
  RenameFileShares(s.rt, u);
  EXPECT_TRUE(s.logHas("   Alphaopdel confirmed\n"));
  EXPECT_TRUE(s.logHas("** Fejl: OmdobBruger() - MoveFile(\\\\fs\\home\\B\\bob)\n")) << s.log();
  EXPECT_TRUE(s.logHas("** Fejl: OmdobBruger() - MoveFile(\\\\fs\\home\\A\\abc)\n"));
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\A\\abc")) << "nothing is lost";
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\B\\bob"));
  EXPECT_TRUE(s.files.shares.empty());

  s.files.folders.erase("\\\\fs\\home\\bob.bw_omdøb");
  RenameFileShares(s.rt, u);
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\bob.bw_omdøb")) << "aside directly below the root";
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\B\\bob"));
  EXPECT_FALSE(s.files.has("\\\\fs\\home\\A\\abc"));
}

TEST(RenameFileShares, MissingOldFolderAndUnchangedLogin) {
  School s;
  s.rt.settings.OpretShareMeda = 2;
  s.select(true);
  auto same = userRecord("abc", "abc");
  RenameFileShares(s.rt, same);
  EXPECT_TRUE(s.files.calls.empty());
  auto u = userRecord("abd", "abc");
  RenameFileShares(s.rt, u);
  EXPECT_TRUE(s.logHas("   RenameFileShares access check failed\n"));
  EXPECT_TRUE(s.files.calls.empty());
}

TEST(CheckFileShares, HandChangedShareIsRebuilt) {
  School s;
  auto u = userRecord("abc");
  auto object = s.object("abc");
  OpretFileshare(s.rt, u, *object);
  s.files.shares[test::FakeFileServer::shareKey("fs", "abc$")] = {"D:\\andet", 10};
  s.files.calls.clear();
  FileUser again = userRecord("abc");
  EXPECT_EQ(CheckFileShares(s.rt, again, *object), 0);
  EXPECT_EQ(again.previousLogin, "abc");
  EXPECT_TRUE(s.logHas("Check #2 pass - tjekker share for folderen '\\\\fs\\home\\abc'\n"))
      << s.log();
  EXPECT_EQ(s.files.share("fs", "abc$")->path, "D:\\home\\abc");

  s.files.calls.clear();
  EXPECT_EQ(CheckFileShares(s.rt, again, *object), 0);
  EXPECT_TRUE(s.files.calls.empty()) << "a sound share is left alone";
  EXPECT_EQ(ShareCheck(s.rt, "fs", "abc", true), 0);
  EXPECT_EQ(ShareCheck(s.rt, "fs", "abc", false), 1);
}

TEST(CheckFileShares, MissingFoldersAreRemade) {
  School s;
  s.rt.settings.UserProfileShareMeda = "\\\\fs\\prof";
  s.rt.settings.UserProfileShareMedaCreate = true;
  s.rt.settings.UserProfileFolderMeda = "v6";
  s.files.addRoot("\\\\fs\\prof");
  s.select(true);
  auto u = userRecord("abc");
  auto object = s.object("abc");
  EXPECT_EQ(CheckFileShares(s.rt, u, *object), 0);
  EXPECT_TRUE(s.logHas("Check #1 pass - genopretter folderen '\\\\fs\\home\\abc'\n")) << s.log();
  EXPECT_TRUE(s.logHas("Check #5 pass - genopretter folderen '\\\\fs\\prof\\abc'\n"));
  EXPECT_TRUE(s.files.has("\\\\fs\\home\\abc"));
  EXPECT_TRUE(s.files.has("\\\\fs\\prof\\abc\\v6"));
  s.files.removeTree("\\\\fs\\prof\\abc\\v6");
  EXPECT_EQ(CheckFileShares(s.rt, u, *object), 0);
  EXPECT_TRUE(s.logHas("Check #6 pass - genopretter folderen '\\\\fs\\prof\\abc\\v6'\n"));
  EXPECT_TRUE(s.files.has("\\\\fs\\prof\\abc\\v6"));
}

TEST(CheckFileShares, NothingToCheckSaysNothingEvenWithoutAFileServer) {
  School s;
  s.rt.settings.OpretShareMeda = 0;
  s.select(true);
  s.rt.ports.files = nullptr;
  auto u = userRecord("abc");
  auto object = s.object("abc");
  s.logs.log.setMark();
  EXPECT_EQ(CheckFileShares(s.rt, u, *object), 0);
  EXPECT_EQ(s.logs.log.fetchSinceMark(), "");
  s.rt.settings.OpretShareMeda = 1;
  s.select(true);
  s.logs.log.setMark();
  EXPECT_EQ(CheckFileShares(s.rt, u, *object), 0);
  EXPECT_EQ(s.logs.log.fetchSinceMark(),
            "** Fejl: CheckFileShares(abc) - der er ingen filserver at oprette mapper på.\n");
}

TEST(GroupShare, GroupFolderIsSharedAndAnOldShareReplaced) {
  School s;
  s.rt.settings.ServerShareGruppe = "\\\\fs\\grupper";
  s.rt.settings.ServerPathGruppe = "D:\\grupper";
  GroupShare(s.rt, "7a", false);
  EXPECT_EQ(s.files.share("fs", "7a")->path, "D:\\grupper\\7a");
  EXPECT_EQ(s.files.share("fs", "7a")->maxUsers, 10u);
  GroupShare(s.rt, "7a", false);
  EXPECT_TRUE(s.logHas("** Info: Nedlægger og genopretter gruppeshare 7a.\n")) << s.log();
  s.files.unreachableServers.insert("fs");
  GroupShare(s.rt, "7b", false);
  EXPECT_TRUE(s.logHas("** Fejl: OpretFileshare() - ADsGetObject(WinNT://fs/lanmanServer)\n"));
}

}  // namespace
}  // namespace tv

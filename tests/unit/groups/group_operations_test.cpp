#include "groups/group_operations.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/faulty_directory.h"
#include "unit/groups/group_fixture.h"
#include "unit/shares/fake_file_server.h"

namespace tv::test {
namespace {

const std::string kDescription = "Autooprettet af ZEB";

TEST(OpretGruppe, CreatesStaffGroupWithMarkingAndDefaultType) {
  GroupSchool s;
  EXPECT_EQ(OpretGruppe(s.rt, "7a", &kDescription, true), 0);
  EXPECT_EQ(s.attr(groupDn("7a"), "sAMAccountName"), "7a");
  EXPECT_EQ(s.attr(groupDn("7a"), "description"), "Autooprettet af ZEB (M)");
  EXPECT_EQ(s.attr(groupDn("7a"), "groupType"), "-2147483646");
  EXPECT_EQ(s.log(), "** Info: Tjekker/opretter gruppen CN=7a: Gruppen 7a oprettes.\n");
}

TEST(OpretGruppe, UniversalGroupsAndPupilKind) {
  GroupSchool s;
  s.rt.settings.UniversalGroups = true;
  EXPECT_EQ(OpretGruppe(s.rt, "Hold 1", &kDescription, false), 0);
  EXPECT_EQ(s.attr(groupDn("Hold 1"), "groupType"), "-2147483640");
  EXPECT_EQ(s.attr(groupDn("Hold 1"), "description"), "Autooprettet af ZEB (E)");
}

TEST(OpretGruppe, OtherMarkingAttributeHoldsThePlainMarking) {
  GroupSchool s;
  s.rt.settings.ZEBGruppeMarkering = "info";
  EXPECT_EQ(OpretGruppe(s.rt, "7a", &kDescription, true), 0);
  EXPECT_EQ(s.attr(groupDn("7a"), "info"), "Autooprettet af ZEB");
  EXPECT_EQ(s.attr(groupDn("7a"), "description"), "Autooprettet af ZEB (M)");
}

TEST(OpretGruppe, RefusesSpecialCharactersTooLongNamesAndArchivedNames) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  EXPECT_EQ(OpretGruppe(s.rt, "7/a", &kDescription, true), 1);
  EXPECT_EQ(OpretGruppe(s.rt, "7+a", &kDescription, true), 1);
  EXPECT_EQ(s.log(),
            "\n** Fejl: Gruppe navnet må ikke indeholde specialtegn. (7/a)\n"
            "\n** Fejl: Gruppe navnet må ikke indeholde specialtegn. (7+a)\n");
  EXPECT_FALSE(s.exists(groupDn("7/a")));
  EXPECT_FALSE(s.exists(groupDn("7+a")));

  s.clearLog();
  const std::string longName(65, 'x');
  EXPECT_EQ(OpretGruppe(s.rt, longName, &kDescription, true), 1);
  EXPECT_EQ(s.log(), "\n** Fejl: Gruppe navnet må højst have 64 tegn. (" + longName + ")\n");
  EXPECT_EQ(OpretGruppe(s.rt, std::string(64, 'y'), &kDescription, true), 0);

  s.addGroup("gammel", kGroupArchiveDn, "Autooprettet af ZEB (E)");
  s.clearLog();
  EXPECT_EQ(OpretGruppe(s.rt, "gammel", &kDescription, false), 1);
  EXPECT_EQ(s.log(), "\n** Fejl: Gruppen (gammel) findes allerede i containeren 'Arkiv'.\n");
  EXPECT_FALSE(s.exists(groupDn("gammel")));
}

TEST(OpretGruppe, ExistingGroupGetsItsDescriptionRefreshed) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  s.addGroup("7a", kGroupsDn, "noget andet");
  EXPECT_EQ(OpretGruppe(s.rt, "7a", &kDescription, true), 0);
  EXPECT_EQ(s.attr(groupDn("7a"), "description"), "Autooprettet af ZEB");
  EXPECT_EQ(s.log(), " Gruppen 7a findes allerede.\n");
  // Without a text the description stays.
  EXPECT_EQ(OpretGruppe(s.rt, "7a", nullptr, true), 0);
  EXPECT_EQ(s.attr(groupDn("7a"), "description"), "Autooprettet af ZEB");
}

TEST(OpretGruppe, FollowUpsRunTheMailEnableHookAndSetTheAddress) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  s.rt.settings.MailenableGruppeScript = "script/mailgrp.sh";
  s.rt.settings.GruppeMail = "@skole.dk";
  EXPECT_EQ(OpretGruppe(s.rt, "Ærø Hold", &kDescription, false), 0);
  ASSERT_EQ(s.processes.calls.size(), 1u);
  EXPECT_EQ(s.processes.calls[0].argv,
            (std::vector<std::string>{"script/mailgrp.sh", "Ærø", "Hold"}));
  EXPECT_EQ(s.attr(groupDn("Ærø Hold"), "mail"), "AEroHold@skole.dk");
}

// The folder, share, mail hook and address follow only a group that was
// made as the school asked, its universal kind included.
TEST(OpretGruppe, FollowUpsComeOnlyAfterTheUniversalKindWasCommitted) {
  for (const bool refused : {false, true}) {
    GroupSchool s;
    s.rt.settings.LogLevel = 0;
    s.rt.settings.UniversalGroups = true;
    s.rt.settings.MailenableGruppeScript = "script/mailgrp.sh";
    s.rt.settings.GruppeMail = "@skole.dk";
    FaultyDirectory faulty(s.directory);
    if (refused) faulty.failCommits("CN=7a,", "groupType", kUnwillingToPerform);
    s.rt.ports.directory = &faulty;
    EXPECT_EQ(OpretGruppe(s.rt, "7a", &kDescription, false), refused ? 1 : 0);
    EXPECT_TRUE(s.exists(groupDn("7a"))) << "the group exists from the first commit on";
    EXPECT_EQ(s.processes.calls.size(), refused ? 0u : 1u) << refused;
    EXPECT_EQ(s.attr(groupDn("7a"), "mail"), refused ? "" : "7a@skole.dk") << refused;
    EXPECT_EQ(s.log().find("OpretGruppe(UniversalGroups) - SetInfo()") != std::string::npos,
              refused);
  }
}

TEST(GroupMailName, MapsDanishLettersAndDropsBlanksAndSpecials) {
  EXPECT_EQ(groupMailName("Ærø Hold"), "AEroHold");
  EXPECT_EQ(groupMailName("å/ø+Æ;x"), "aoAEx");
  EXPECT_EQ(groupMailName(""), "");
}

TEST(SetGruppeEmail, SetsChangesAndLeavesARightAddress) {
  GroupSchool s;
  s.rt.settings.GruppeMail = "@skole.dk";
  s.addGroup("Ærø Hold", kGroupsDn, "Autooprettet af ZEB (E)");
  SetGruppeEmail(s.rt, "Ærø Hold");
  EXPECT_EQ(s.attr(groupDn("Ærø Hold"), "mail"), "AEroHold@skole.dk");
  EXPECT_EQ(s.log(), "   Gruppe 'Ærø Hold' email sat til AEroHold@skole.dk\n");

  s.clearLog();
  SetGruppeEmail(s.rt, "Ærø Hold");
  EXPECT_EQ(s.log(), "");

  s.rt.settings.GruppeMail = "@ny.dk";
  SetGruppeEmail(s.rt, "Ærø Hold");
  EXPECT_EQ(s.attr(groupDn("Ærø Hold"), "mail"), "AEroHold@ny.dk");
  EXPECT_EQ(s.log(),
            "   Gruppe 'Ærø Hold' email rettet fra AEroHold@skole.dk til AEroHold@ny.dk\n");
}

TEST(SetGruppeEmail, ArchivedAndMissingGroupsGetNoAddress) {
  GroupSchool s;
  s.rt.settings.GruppeMail = "@skole.dk";
  s.addGroup("gammel", kGroupArchiveDn, "x");
  SetGruppeEmail(s.rt, "gammel");
  EXPECT_EQ(s.attr(archivedDn("gammel"), "mail"), "");
  EXPECT_EQ(s.log(), "");
  SetGruppeEmail(s.rt, "ingen");
  EXPECT_EQ(s.log(), "** Fejl: LDAP://CN=ingen," + std::string(kGroupArchiveDn) +
                         " kan ikke åbnes! (SetGruppeEmail, GroupPath)\n");
}

TEST(SletGruppe, DeletesAGroupButKeepsStandardGroups) {
  GroupSchool s;
  s.rt.settings.GroupListElev = "Alle:Elever";
  s.rt.settings.GroupListMeda = "Personale";
  s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (E)");
  s.addGroup("Alle", kGroupsDn, "Autooprettet af ZEB (E)");
  s.addGroup("Personale", kGroupsDn, "Autooprettet af ZEB (M)");
  s.addGroup("alle2", kGroupsDn, "Autooprettet af ZEB (E)");
  SletGruppe(s.rt, "7a");
  SletGruppe(s.rt, "Alle");
  SletGruppe(s.rt, "Personale");
  EXPECT_FALSE(s.exists(groupDn("7a")));
  EXPECT_TRUE(s.exists(groupDn("Alle")));
  EXPECT_TRUE(s.exists(groupDn("Personale")));
  EXPECT_EQ(s.log(),
            "   Sletter gruppen 7a\n"
            "   Kan ikke slette Standardgruppen Alle\n"
            "   Kan ikke slette Standardgruppen Personale\n");
  // The standard list is matched exactly, case and all.
  s.rt.settings.GroupListElev = "ALLE2";
  SletGruppe(s.rt, "alle2");
  EXPECT_FALSE(s.exists(groupDn("alle2")));
}

TEST(SletGruppe, AFolderOnTheFileServerGoesThroughTheFileServer) {
  GroupSchool s;
  FakeFileServer files;
  files.addRoot("\\\\fs\\grupper");
  files.addRoot("\\\\fs\\grupper\\7a");
  files.addRoot("\\\\fs\\grupper\\7a\\opgaver");
  s.rt.settings.OpretShareGruppe = 2;
  s.rt.settings.ServerShareGruppe = "\\\\fs\\grupper";
  s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (E)");
  s.addGroup("8b", kGroupsDn, "Autooprettet af ZEB (E)");
  SletGruppe(s.rt, "8b");  // no file server yet: said, not pretended
  EXPECT_EQ(s.log(),
            "** Fejl: SletGruppe(8b) - der er ingen filserver at slette mappen på.\n"
            "   Sletter gruppen 8b\n");
  s.rt.ports.files = &files;
  SletGruppe(s.rt, "7a");
  EXPECT_FALSE(s.exists(groupDn("7a")));
  EXPECT_FALSE(files.exists("\\\\fs\\grupper\\7a"));
  EXPECT_TRUE(files.exists("\\\\fs\\grupper"));
}

TEST(SletGruppe, MissingGroupIsReportedOnlyAboveLogLevelZero) {
  GroupSchool s;
  SletGruppe(s.rt, "ingen");
  EXPECT_EQ(s.log(), "** Fejl: LDAP://CN=ingen," + std::string(kGroupsDn) +
                         " kan ikke åbnes! (SletGruppe, GroupPath)\n");
  s.clearLog();
  s.rt.settings.LogLevel = 0;
  SletGruppe(s.rt, "ingen");
  EXPECT_EQ(s.log(), "");
}

TEST(SletGruppe, FolderOfAStandardGroupGoesButNeverTheShareRoot) {
  GroupSchool s;
  TempFolder share;
  std::filesystem::create_directories(share.path() + "/Alle/sub");
  share.write("Alle/sub/f.txt", "x");
  std::filesystem::create_directories(share.path() + "/7a");
  s.rt.settings.OpretShareGruppe = 2;
  s.rt.settings.ServerShareGruppe = share.path();
  s.rt.settings.GroupListElev = "Alle";
  s.addGroup("Alle", kGroupsDn, "Autooprettet af ZEB (E)");
  s.addGroup("..", kGroupsDn, "Autooprettet af ZEB (E)");
  SletGruppe(s.rt, "Alle");
  EXPECT_TRUE(s.exists(groupDn("Alle")));
  EXPECT_FALSE(std::filesystem::exists(share.path() + "/Alle"));
  EXPECT_TRUE(std::filesystem::exists(share.path() + "/7a"));
  SletGruppe(s.rt, "..");
  EXPECT_FALSE(s.exists(groupDn("..")));
  EXPECT_TRUE(std::filesystem::exists(share.path() + "/7a"));
}

TEST(ArchiveGroup, ByNameMovesIntoTheArchiveOnce) {
  GroupSchool s;
  s.addGroup("Fremmed", kGroupsDn, "");
  archiveGroup(s.rt, nullptr, "Fremmed");
  EXPECT_TRUE(s.exists(archivedDn("Fremmed")));
  EXPECT_FALSE(s.exists(groupDn("Fremmed")));
  const std::string archive = "LDAP://" + std::string(kGroupArchiveDn);
  EXPECT_EQ(s.log(), "   Arkiverer gruppen CN=Fremmed i Arkiv: " + archive + "\n");
  s.clearLog();
  archiveGroup(s.rt, nullptr, "Fremmed");
  EXPECT_EQ(s.log(), "   Fremmed ligger i Arkiv: " + archive + "\n");
  s.clearLog();
  archiveGroup(s.rt, nullptr, "ingen");
  EXPECT_EQ(s.log(), "** Fejl: Kunne ikke finde gruppen ingen. Ligger den i den rette sti?\n");
}

TEST(ArchiveGroup, CreatesAMissingArchiveFirst) {
  GroupSchool s(false);
  s.addGroup("Fremmed", kGroupsDn, "");
  archiveGroup(s.rt, nullptr, "Fremmed");
  EXPECT_TRUE(s.exists(archivedDn("Fremmed")));
  EXPECT_EQ(s.log(), "   OU OU=Arkiv oprettes i LDAP://" + std::string(kGroupsDn) +
                         ".\n   Arkiverer gruppen CN=Fremmed i Arkiv: LDAP://" + kGroupArchiveDn +
                         "\n");
}

TEST(RestoreGroup, MovesBackAndReportsAClash) {
  GroupSchool s;
  const std::string from = s.addGroup("7a", kGroupArchiveDn, "Autooprettet af ZEB (E)");
  const std::string to = "LDAP://" + std::string(kGroupsDn);
  EXPECT_EQ(restoreGroup(s.rt, "7a", from, to), kSOk);
  EXPECT_TRUE(s.exists(groupDn("7a")));
  EXPECT_EQ(s.log(), "   Flytter gruppen 7a fra " + from + " til " + to + "\n");

  s.clearLog();
  // A second 7a in the archive (its account name must differ in the domain).
  auto archive = s.directory.bind("LDAP://" + std::string(kGroupArchiveDn));
  auto twin = archive.value->create("group", "CN=7a");
  ASSERT_TRUE(twin.ok());
  EXPECT_EQ(twin.value->put("sAMAccountName", "7a-gammel"), kSOk);
  EXPECT_EQ(twin.value->setInfo(), kSOk);
  const std::string again = "LDAP://CN=7a," + std::string(kGroupArchiveDn);
  EXPECT_EQ(restoreGroup(s.rt, "7a", again, to), kAlreadyExists);
  EXPECT_EQ(s.log().rfind("** Fejl: Kunne ikke flytte gruppe til " + to + " \n", 0), 0u);
}

TEST(RepairGroupKind, TakesTheKindFromTheFirstMember) {
  GroupSchool s;
  const std::string anna = s.addUser("anna", kStaffDn);
  const std::string path = s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB", {anna});
  std::string kind;
  repairGroupKind(s.rt, "7a", path, kind);
  EXPECT_EQ(kind, "M");
  EXPECT_EQ(s.attr(groupDn("7a"), "description"), "Autooprettet af ZEB (M)");
  EXPECT_EQ(s.log(), "   Ændring af gruppebeskrivelse til 'Autooprettet af ZEB (M)' '7a'\n");
}

TEST(RepairGroupKind, TestModeOnlyLogsAndAnEmptyGroupKeepsItsMarking) {
  GroupSchool s;
  s.rt.settings.IDrift = false;
  const std::string bo = s.addUser("bo", kPupilDn);
  const std::string path = s.addGroup("7b", kGroupsDn, "Autooprettet af ZEB (X)", {bo});
  std::string kind;
  repairGroupKind(s.rt, "7b", path, kind);
  EXPECT_EQ(kind, "E");
  EXPECT_EQ(s.attr(groupDn("7b"), "description"), "Autooprettet af ZEB (X)");
  EXPECT_EQ(s.log(),
            "  IDrift = 0: Ændring af gruppebeskrivelse til 'Autooprettet af ZEB (E)' '7b'\n");

  s.clearLog();
  s.rt.settings.IDrift = true;
  const std::string empty = s.addGroup("tom", kGroupsDn, "Autooprettet af ZEB (?)");
  kind.clear();
  repairGroupKind(s.rt, "tom", empty, kind);
  EXPECT_EQ(kind, "");
  EXPECT_EQ(s.attr(groupDn("tom"), "description"), "Autooprettet af ZEB (?)");
  EXPECT_EQ(s.log(), "");
}

}  // namespace
}  // namespace tv::test

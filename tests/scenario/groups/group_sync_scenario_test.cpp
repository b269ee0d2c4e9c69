// Whole group syncs over the memory directory: a job section in, the
// directory's groups, memberships and addresses and the log out.
#include <gtest/gtest.h>

#include "groups/group_sync.h"
#include "unit/groups/group_fixture.h"

namespace tv::test {
namespace {

using Names = std::vector<std::string>;

// A pupil school: the users, and groups of every sort the scan meets.
struct PupilSchool : GroupSchool {
  std::string eva, ole, ib, ext, anna;
  PupilSchool() {
    rt.settings.GroupListElev = "Elever";
    rt.settings.PersUndtaget = "ib";
    rt.settings.GruppeMail = "@skole.dk";
    eva = addUser("eva", kPupilDn);
    ole = addUser("ole", kPupilDn);
    ib = addUser("ib", kPupilDn);
    anna = addUser("anna", kStaffDn);
    ext = addUser("ext", "CN=Users,DC=skole,DC=test");
    addGroup("Ærø Hold", kGroupsDn, "Autooprettet af ZEB (E)", {eva});
    addGroup("Gammel", kGroupsDn, "Autooprettet af ZEB (E)", {ole, ib});
    addGroup("Elever", kGroupsDn, "Autooprettet af ZEB (E)");
    addGroup("Tom", kGroupsDn, "Autooprettet af ZEB (E)");
    addGroup("Ekstern", kGroupsDn, "Autooprettet af ZEB (E)", {ext});
    addGroup("Fremmed", kGroupsDn, "lavet i hånden", {ole});
    addGroup("9z", kGroupArchiveDn, "Autooprettet af ZEB (E)");
    addGroup("Lærerværelse", kGroupsDn, "Autooprettet af ZEB (M)", {anna});
    clearLog();
  }

  void run(bool staff, const std::string& section) {
    JobReader r = reader(section);
    groupSync(rt, r, staff);
  }
};

const char* kPupilJob =
    "eva;bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb;Kode1;F;E;2;010110;7A:Ærø Hold;;;;;;;;;\n"
    "ole;bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb;Kode1;F;E;2;010110;7A;;;;;;;;;\n"
    "ib;bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb;Kode1;F;E;2;010110;7a;;;;;;;;;\n"
    "@*MEDA\n";

TEST(GroupSyncScenario, PupilRunMakesTheGroupsMatchTheJob) {
  PupilSchool s;
  s.run(false, kPupilJob);

  // 7a made from 7A, with the pupils' kind, filled from the file.
  EXPECT_EQ(s.attr(groupDn("7a"), "sAMAccountName"), "7a");
  EXPECT_EQ(s.attr(groupDn("7a"), "description"), "Autooprettet af ZEB (E)");
  EXPECT_EQ(s.members(groupDn("7a")), (Names{"eva", "ole"}));
  // The standard group is kept though it was empty, then filled.
  EXPECT_EQ(s.members(groupDn("Elever")), (Names{"eva", "ole"}));
  // ole leaves Gammel; ib is excepted and keeps his membership.
  EXPECT_EQ(s.members(groupDn("Gammel")), (Names{"ib"}));
  EXPECT_EQ(s.members(groupDn("Ærø Hold")), (Names{"eva"}));
  // The empty auto-created group is gone; one with a member outside the
  // system container stays.
  EXPECT_FALSE(s.exists(groupDn("Tom")));
  EXPECT_EQ(s.members(groupDn("Ekstern")), (Names{"ext"}));
  // The hand-made group goes to the archive with its member; the archived
  // auto-created group comes back.
  EXPECT_FALSE(s.exists(groupDn("Fremmed")));
  EXPECT_EQ(s.members(archivedDn("Fremmed")), (Names{"ole"}));
  EXPECT_TRUE(s.exists(groupDn("9z")));
  EXPECT_FALSE(s.exists(archivedDn("9z")));
  // Staff groups are not read in the pupil run.
  EXPECT_EQ(s.members(groupDn("Lærerværelse")), (Names{"anna"}));
  // Addresses.
  EXPECT_EQ(s.attr(groupDn("Ærø Hold"), "mail"), "AEroHold@skole.dk");
  EXPECT_EQ(s.attr(groupDn("7a"), "mail"), "7a@skole.dk");
  EXPECT_EQ(s.attr(groupDn("Gammel"), "mail"), "Gammel@skole.dk");

  EXPECT_EQ(s.linesWith("StandardGruppeListeAntal"),
            Names{"  StandardGruppeListeAntal: 1, FilGrpMedlemAntal: 5, AdGrpMedlemAntal: 2"});
  EXPECT_EQ(
      s.linesWith("   Bruger "),
      (Names{"   Bruger ind i gruppe eva -> 7a ", "   Bruger ind i gruppe ole -> 7a ",
             "   Bruger ind i gruppe eva -> elever ", "   Bruger ind i gruppe ole -> elever ",
             "   Bruger ud af gruppe ole <- gammel ", "   Bruger i gruppe OK eva - Ærø hold "}));
  EXPECT_EQ(s.linesWith("Sletter gruppen"), Names{"   Sletter gruppen Tom"});
  EXPECT_EQ(s.linesWith("Standardgruppen"), Names{"   Kan ikke slette Standardgruppen Elever"});
  EXPECT_EQ(s.linesWith("Arkiverer"), Names{"   Arkiverer gruppen CN=Fremmed i Arkiv: LDAP://" +
                                            std::string(kGroupArchiveDn)});
  EXPECT_EQ(s.linesWith("Flytter gruppen"), Names{"   Flytter gruppen 9z fra LDAP://" +
                                                  archivedDn("9z") + " til LDAP://" + kGroupsDn});
  EXPECT_EQ(s.linesWith("slettes ikke"),
            Names{"** Info: Gruppen Ekstern har medlemmer uden for OU=ZEB,DC=skole,DC=test og "
                  "slettes ikke."});

  // A second run finds everything in order and changes nothing.
  s.clearLog();
  s.run(false, kPupilJob);
  EXPECT_EQ(s.linesWith("   Bruger "),
            (Names{"   Bruger i gruppe OK eva - 7a ", "   Bruger i gruppe OK ole - 7a ",
                   "   Bruger i gruppe OK eva - elever ", "   Bruger i gruppe OK ole - elever ",
                   "   Bruger i gruppe OK eva - Ærø hold "}));
  EXPECT_EQ(s.linesWith("** Fejl"), Names{});
}

TEST(GroupSyncScenario, TestModeOnlyLogsMembershipButTheScanStillActs) {
  PupilSchool s;
  s.rt.settings.IDrift = false;
  s.rt.settings.MailenableGruppeScript = "script/mail.sh";
  s.run(false, kPupilJob);
  EXPECT_FALSE(s.exists(groupDn("7a")));
  EXPECT_EQ(s.members(groupDn("Gammel")), (Names{"ib", "ole"}));
  EXPECT_TRUE(s.members(groupDn("Elever")).empty());
  EXPECT_EQ(s.linesWith("GruppeMedlem"),
            (Names{"   IDrift = 0: Test af TilfoejGruppeMedlem eva -> 7a ",
                   "   IDrift = 0: Test af TilfoejGruppeMedlem ole -> 7a ",
                   "   IDrift = 0: Test af TilfoejGruppeMedlem eva -> elever ",
                   "   IDrift = 0: Test af TilfoejGruppeMedlem ole -> elever ",
                   "   IDrift = 0: Test af FjernGruppeMedlem ole <- gammel "}));
  // Archiving, restoring, deleting and addresses are not held back.
  EXPECT_FALSE(s.exists(groupDn("Tom")));
  EXPECT_TRUE(s.exists(archivedDn("Fremmed")));
  EXPECT_TRUE(s.exists(groupDn("9z")));
  EXPECT_EQ(s.attr(groupDn("Ærø Hold"), "mail"), "AEroHold@skole.dk");
  // The mail-enable hook is only logged.
  EXPECT_TRUE(s.processes.calls.empty());
  // Every auto-created group without an address (seven) meets the hook.
  EXPECT_EQ(s.linesWith("sætter mail").size(), 7u);
  EXPECT_EQ(s.linesWith("Mail ikke sat for gruppe Tom -> sætter mail."),
            Names{" Mail ikke sat for gruppe Tom -> sætter mail."});
  EXPECT_EQ(s.linesWith("IDrift = 0: Test af Script : script/mail.sh").size(), 7u);
}

TEST(GroupSyncScenario, StaffRunKeepsPlaceholdersAddressesForeignGroupsAndLeavesPupilGroups) {
  GroupSchool s;
  s.rt.settings.GroupListMeda = "Personale";
  s.rt.settings.GruppeMail = "@skole.dk";
  const std::string anna = s.addUser("anna", kStaffDn);
  const std::string eva = s.addUser("eva", kPupilDn);
  s.addGroup("Klub", kGroupsDn, "", {anna});
  s.addGroup("Lærerværelse", kGroupsDn, "Autooprettet af ZEB (M)", {anna});
  s.addGroup("7c", kGroupsDn, "Autooprettet af ZEB (E)", {eva});
  s.clearLog();
  JobReader r = s.reader(staffLine("ANNA", "7c") + "\n");
  groupSync(s.rt, r, true);

  EXPECT_EQ(s.members(groupDn("Personale")), Names{"anna"});
  EXPECT_EQ(s.attr(groupDn("Personale"), "description"), "Autooprettet af ZEB (M)");
  EXPECT_TRUE(s.members(groupDn("Lærerværelse")).empty());
  // A staff line naming a pupil group adds to it; the pupil member stays.
  EXPECT_EQ(s.members(groupDn("7c")), (Names{"anna", "eva"}));
  // The hand-made group got its address before it went to the archive,
  // with its member.
  EXPECT_EQ(s.attr(archivedDn("Klub"), "mail"), "Klub@skole.dk");
  EXPECT_EQ(s.members(archivedDn("Klub")), Names{"anna"});
  EXPECT_EQ(s.linesWith("StandardGruppeListeAntal"),
            Names{"  StandardGruppeListeAntal: 1, FilGrpMedlemAntal: 2, AdGrpMedlemAntal: 2"});
}

TEST(GroupSyncScenario, KindRepairFromAnotherMarkingAttribute) {
  GroupSchool s;
  s.rt.settings.ZEBGruppeMarkering = "info";
  const std::string anna = s.addUser("anna", kStaffDn);
  JobReader first = s.reader(staffLine("anna", "7a") + "\n");
  groupSync(s.rt, first, true);
  EXPECT_EQ(s.attr(groupDn("7a"), "info"), "Autooprettet af ZEB");
  s.clearLog();
  JobReader second = s.reader(staffLine("anna", "7a") + "\n");
  groupSync(s.rt, second, true);
  EXPECT_EQ(s.attr(groupDn("7a"), "info"), "Autooprettet af ZEB (M)");
  EXPECT_EQ(s.linesWith("gruppebeskrivelse"),
            Names{"   Ændring af gruppebeskrivelse til 'Autooprettet af ZEB (M)' '7a'"});
  EXPECT_EQ(s.linesWith("   Bruger "), Names{"   Bruger i gruppe OK anna - 7a "});
}

TEST(GroupSyncScenario, BadGroupNamesAndHostileValuesChangeNothingOutsideTheSystemsGroups) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  s.rt.settings.GroupListElev = std::string(16000, 'g');  // one name far too long
  const std::string eva = s.addUser("eva", kPupilDn);
  const std::string ole = s.addUser("ole", kPupilDn);
  s.addGroup("Hold (A*)", kGroupsDn, "Autooprettet af ZEB (E)", {eva});
  s.addGroup("Hold", kGroupsDn, "Autooprettet af ZEB (E)", {ole});
  s.addGroup("Domain Admins", "CN=Users,DC=skole,DC=test", "");
  s.clearLog();
  JobReader r = s.reader(pupilLine("eva", "7/a:x+y:Hold (A*):: :Domain Admins:") + "\n" +
                         pupilLine("*", "Hold") + "\n" + pupilLine("ole", "Hold") + "\n");
  groupSync(s.rt, r, false);
  EXPECT_EQ(s.members(groupDn("Hold (A*)")), Names{"eva"});
  EXPECT_EQ(s.members(groupDn("Hold")), Names{"ole"});
  EXPECT_TRUE(s.members("CN=Domain Admins,CN=Users,DC=skole,DC=test").empty());
  EXPECT_FALSE(s.exists(groupDn("7/a")));
  EXPECT_FALSE(s.exists(groupDn("x+y")));
  EXPECT_EQ(s.linesWith("specialtegn"),
            (Names{"** Fejl: Gruppe navnet må ikke indeholde specialtegn. (7/a)",
                   "** Fejl: Gruppe navnet må ikke indeholde specialtegn. (x+y)"}));
  EXPECT_EQ(s.linesWith("højst have 64 tegn").size(), 2u);  // eva and ole; "*" is no user
  EXPECT_EQ(s.linesWith("navnet er tomt"), Names{"** Fejl: Gruppe navnet er tomt. ( )"});
  EXPECT_EQ(s.linesWith("blev ikke fundet"),
            (Names{"   Bruger eva blev ikke fundet ", "   Bruger eva blev ikke fundet "}));
}

}  // namespace
}  // namespace tv::test

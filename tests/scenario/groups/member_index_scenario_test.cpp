// The group scan reads the members of every group in one search of the
// users with their memberOf. These runs check what that saves and that it
// never answers from a picture of the directory the scan itself has changed.
#include <gtest/gtest.h>

#include <algorithm>

#include "groups/group_sync.h"
#include "support/counting_directory.h"
#include "unit/groups/group_fixture.h"

namespace tv::test {
namespace {

using Names = std::vector<std::string>;

const char* kJob =
    "eva;bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb;Kode1;F;E;2;010110;7a:Ærø Hold;;;;;;;;;\n"
    "ole;bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb;Kode1;F;E;2;010110;7a:x,y;;;;;;;;;\n";

// A school whose groups already match kJob, addresses included.
struct MatchingSchool : GroupSchool {
  MatchingSchool() {
    rt.settings.LogLevel = 0;
    rt.settings.GroupListElev = "Elever";
    rt.settings.GruppeMail = "@skole.dk";
    const std::string eva = addUser("eva", kPupilDn);
    const std::string ole = addUser("ole", kPupilDn);
    addGroup("7a", kGroupsDn, "Autooprettet af ZEB (E)", {eva, ole}, "7a@skole.dk");
    addGroup("Ærø Hold", kGroupsDn, "Autooprettet af ZEB (E)", {eva}, "AEroHold@skole.dk");
    // A comma in the name: the group's DN carries an escape that the
    // memberOf values must be matched through.
    addGroup("x,y", kGroupsDn, "Autooprettet af ZEB (E)", {ole}, "xy@skole.dk");
    addGroup("Elever", kGroupsDn, "Autooprettet af ZEB (E)", {eva, ole}, "Elever@skole.dk");
    clearLog();
  }
  void run(Directory& directory) {
    rt.ports.directory = &directory;
    JobReader r = reader(kJob);
    groupSync(rt, r, false);
    rt.ports.directory = &this->directory;
  }
};

TEST(GroupMemberIndex, AnUnchangedSyncReadsTheDirectoryTwiceAndChangesNothing) {
  MatchingSchool s;
  CountingDirectory counting(s.directory);
  s.run(counting);
  const DirectoryCounts c = counting.counts();
  // The group scan and the one read of the users' memberships; nothing bound.
  EXPECT_EQ(c.searches, 2u);
  EXPECT_EQ(c.binds, 0u);
  EXPECT_EQ(c.commits + c.changes, 0u);
  EXPECT_EQ(s.linesWith("StandardGruppeListeAntal"),
            Names{"  StandardGruppeListeAntal: 1, FilGrpMedlemAntal: 6, AdGrpMedlemAntal: 6"});
  EXPECT_EQ(s.log().find("Bruger ind i gruppe"), std::string::npos) << s.log();
  EXPECT_EQ(s.log().find("Bruger ud af gruppe"), std::string::npos) << s.log();
}

// Fails the one read of all memberships, as a domain controller that
// refuses a large search would.
class NoMemberOfRead : public CountingDirectory {
 public:
  using CountingDirectory::CountingDirectory;
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override {
    const bool readsMemberOf = std::any_of(attrs.begin(), attrs.end(), [](const std::string& a) {
      return equalsIgnoreCase(a, "memberOf");
    });
    if (readsMemberOf) return kEFail;
    return CountingDirectory::search(base, filter, attrs, scope, pageSize, onRow);
  }
};

TEST(GroupMemberIndex, AFailedReadFallsBackToASearchPerGroup) {
  MatchingSchool s;
  s.rt.settings.LogLevel = 1;
  NoMemberOfRead failing(s.directory);
  s.run(failing);
  // The scan, then one search per group; the same pairs are found.
  EXPECT_EQ(failing.counts().searches, 1u + 4u);
  EXPECT_EQ(failing.counts().changes, 0u);
  EXPECT_EQ(s.linesWith("Bruger i gruppe OK").size(), 6u);
  EXPECT_EQ(s.log().find("** Fejl"), std::string::npos) << s.log();
}

TEST(GroupMemberIndex, AGroupMovedDuringTheScanIsNotAnsweredFromTheEarlierRead) {
  GroupSchool s;
  s.rt.settings.LogLevel = 1;
  s.rt.settings.GroupListElev = "";
  const std::string eva = s.addUser("eva", kPupilDn);
  const std::string ole = s.addUser("ole", kPupilDn);
  // In scan order: an auto-created group (its members come from the one
  // read), a hand-made "Klub" with ole that the scan archives, then an
  // auto-created "Klub" elsewhere below the system container. Its members
  // are looked for in the groups container, where "Klub" no longer is.
  s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (E)", {eva});
  s.addGroup("Klub", kGroupsDn, "lavet i hånden", {ole});
  {
    auto zeb = s.directory.bind(pathFromDn("OU=ZEB," + std::string(kDomainDn)));
    auto ou = zeb.value->create("organizationalUnit", "OU=Yderst");
    ASSERT_EQ(ou.value->setInfo(), kSOk);
    auto andet = s.directory.bind(pathFromDn("OU=Yderst,OU=ZEB," + std::string(kDomainDn)));
    auto klub = andet.value->create("group", "CN=Klub");
    ASSERT_EQ(klub.value->put("sAMAccountName", "Klub2"), kSOk);
    ASSERT_EQ(klub.value->put("description", "Autooprettet af ZEB (E)"), kSOk);
    ASSERT_EQ(klub.value->setInfo(), kSOk);
  }
  s.clearLog();
  JobReader r = s.reader(pupilLine("eva", "7a") + "\n");
  groupSync(s.rt, r, false);
  EXPECT_EQ(s.members(archivedDn("Klub")), Names{"ole"});
  // Only eva's pair in 7a was found in the directory: ole is not taken for
  // a member of the group the scan moved away.
  EXPECT_EQ(s.linesWith("StandardGruppeListeAntal"),
            Names{"  StandardGruppeListeAntal: 0, FilGrpMedlemAntal: 1, AdGrpMedlemAntal: 1"})
      << s.log();
  EXPECT_EQ(s.linesWith("Bruger ud af gruppe"), Names{}) << s.log();
}

}  // namespace
}  // namespace tv::test

#include <gtest/gtest.h>

#include "groups/group_membership.h"
#include "groups/group_sync.h"
#include "support/counting_directory.h"
#include "support/faulty_directory.h"
#include "unit/groups/group_fixture.h"

namespace tv::test {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairsOf(const GroupMemberList& list) {
  Pairs out;
  for (const GroupMember& m : list) out.emplace_back(m.login, m.group);
  return out;
}

GroupMemberList fileMembers(GroupSchool& s, const std::string& text,
                            const std::vector<std::string>& standard,
                            const ExceptionList& exceptions = {}) {
  JobReader reader = s.reader(text);
  return buildFileGroupMembers(s.rt, reader, standard, exceptions);
}

TEST(FileGroupMembers, Field7AndStandardGroupsPerLogin) {
  GroupSchool s;
  selectStaff(s.rt);
  GroupMemberList list = fileMembers(s,
                                     staffLine("ANNA", "7a:7b") + "\n" + staffLine("bo", "") +
                                         "\n@*PERS\n" + pupilLine("x", "9z") + "\n",
                                     {"Alle"});
  EXPECT_EQ(pairsOf(list),
            (Pairs{{"ANNA", "7a"}, {"ANNA", "7b"}, {"ANNA", "Alle"}, {"bo", "Alle"}}));
  for (const GroupMember& m : list) EXPECT_EQ(m.kind, "M");
}

TEST(FileGroupMembers, ShortLinesTrailingColonsAndEmptyLogins) {
  GroupSchool s;
  selectPupils(s.rt);
  GroupMemberList list = fileMembers(s,
                                     "kurt;id;x;y;z;1;2\n"  // 7 fields: standard only
                                     ";" +
                                         std::string(32, 'c') + ";k;f;e;1;2;7a\n"  // no login
                                         + pupilLine("eva", "7a:") + "\n" + pupilLine("ole", "::") +
                                         "\n\n" + pupilLine("efter", "9x"),
                                     {"Alle", ""});
  EXPECT_EQ(pairsOf(list), (Pairs{{"kurt", "Alle"},
                                  {"kurt", ""},
                                  {"eva", "7a"},
                                  {"eva", ""},
                                  {"eva", "Alle"},
                                  {"eva", ""},
                                  {"ole", ""},
                                  {"ole", ""},
                                  {"ole", ""},
                                  {"ole", "Alle"},
                                  {"ole", ""}}));
  for (const GroupMember& m : list) EXPECT_EQ(m.kind, "E");
}

TEST(FileGroupMembers, ExceptedLoginsGiveNoPairs) {
  GroupSchool s;
  selectStaff(s.rt);
  s.clearLog();
  GroupMemberList list =
      fileMembers(s, staffLine("abc", "7a") + "\n" + staffLine("Abc", "7a"), {"Alle"}, {"abc"});
  EXPECT_EQ(pairsOf(list), (Pairs{{"Abc", "7a"}, {"Abc", "Alle"}}));
  EXPECT_EQ(s.log(), "NavnUndtaget-> abc - Undtaget\nLogin undtaget fra gruppe abc\n");
}

TEST(FileGroupMembers, HundredsOfGroupsOnOneLongLineStayOneUser) {
  GroupSchool s;
  selectPupils(s.rt);
  std::string groups;
  for (int i = 0; i < 150; ++i)
    groups += (i ? ":" : "") + std::string("hold-nummer-") + std::to_string(i);
  ASSERT_GT(groups.size(), 998u);
  GroupMemberList list =
      fileMembers(s, pupilLine("eva", groups) + "\n" + pupilLine("ib", "7a"), {});
  ASSERT_EQ(list.size(), 151u);
  EXPECT_EQ(list[149].login, "eva");
  EXPECT_EQ(list[149].group, "hold-nummer-149");
  EXPECT_EQ(list[150].login, "ib");
}

TEST(FileGroupMembers, LoginsAreCutAsTheUserRecordCutsThem) {
  GroupSchool s;
  selectPupils(s.rt);
  GroupMemberList list = fileMembers(s, pupilLine(std::string(30, 'L'), "Ærø Hold"), {});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].login, std::string(24, 'L'));
  EXPECT_EQ(list[0].group, "Ærø Hold");  // read from Windows-1252
}

TEST(StandardGroupList, SplitsAndKeepsEmptyNames) {
  EXPECT_EQ(buildStandardGroupList(""), std::vector<std::string>{});
  EXPECT_EQ(buildStandardGroupList("Alle::Elever"),
            (std::vector<std::string>{"Alle", "", "Elever"}));
  std::string big;
  while (big.size() < 16000) big += "gruppe" + std::to_string(big.size()) + ":";
  EXPECT_EQ(buildStandardGroupList(big).size(),
            static_cast<std::size_t>(std::count(big.begin(), big.end(), ':')) + 1);
}

TEST(MembershipKeys, LowerCaseAsciiInRecordsAndOneCodePointOrder) {
  GroupMemberList list = {{"ANNA", "7A", "M", {}},      {"bo", "7a", "M", {}},
                          {"Åse", "ÆRØ Hold", "M", {}}, {"åse", "ærø hold", "M", {}},
                          {"anna", "7", "M", {}},       {"zz", "7a b", "M", {}}};
  Index index = buildMembershipKeys(list);
  EXPECT_EQ(list[0].login, "anna");
  EXPECT_EQ(list[0].group, "7a");
  EXPECT_EQ(list[2].group, "ÆrØ hold");  // A-Z only in the record
  EXPECT_EQ(list[0].key, std::string("7a\x01") + "anna");
  EXPECT_EQ(list[2].key, list[3].key);  // the key folds the Danish letters too
  std::vector<std::string> sorted;
  for (auto i : index) sorted.push_back(list[i].key);
  EXPECT_EQ(sorted, (std::vector<std::string>{
                        std::string("7\x01") + "anna", std::string("7a\x01") + "anna",
                        std::string("7a\x01") + "bo", std::string("7a b\x01") + "zz",
                        std::string("ærø hold\x01") + "åse", std::string("ærø hold\x01") + "åse"}));
}

TEST(MembershipMerge, TestModeLogsExactlyTheMissingAndSurplusPairs) {
  GroupSchool s;
  s.rt.settings.IDrift = false;
  GroupMemberList file = {{"anna", "7a", "M", {}},
                          {"bo", "7a", "M", {}},
                          {"cy", "7b", "M", {}},
                          {"anna", "alle", "M", {}},
                          {"anna", "alle", "M", {}}};
  GroupMemberList dir = {{"bo", "7a", "M", {}},
                         {"dan", "7a", "M", {}},
                         {"-", "fremmed", "F", {}},
                         {"eva", "9z", "M", {}}};
  Index fi = buildMembershipKeys(file);
  Index di = buildMembershipKeys(dir);
  membershipMerge(s.rt, dir, di, file, fi, true);
  EXPECT_EQ(s.log(),
            "   IDrift = 0: Test af TilfoejGruppeMedlem anna -> 7a \n"
            "   Bruger i gruppe OK bo - 7a \n"
            "   IDrift = 0: Test af FjernGruppeMedlem dan <- 7a \n"
            "   IDrift = 0: Test af TilfoejGruppeMedlem cy -> 7b \n"
            "   IDrift = 0: Test af FjernGruppeMedlem eva <- 9z \n"
            "   IDrift = 0: Test af TilfoejGruppeMedlem anna -> alle \n"
            "   IDrift = 0: Test af TilfoejGruppeMedlem anna -> alle \n");
}

TEST(MembershipMerge, EmptyListsAddEverythingOrRemoveAllButPlaceholders) {
  GroupSchool s;
  s.rt.settings.IDrift = false;
  s.rt.settings.LogLevel = 0;
  GroupMemberList none;
  GroupMemberList some = {{"b", "x", "E", {}}, {"-", "f", "F", {}}, {"a", "x", "E", {}}};
  Index ni = buildMembershipKeys(none);
  Index si = buildMembershipKeys(some);
  membershipMerge(s.rt, none, ni, some, si, false);
  EXPECT_EQ(s.log(),
            "   IDrift = 0: Test af TilfoejGruppeMedlem - -> f \n"
            "   IDrift = 0: Test af TilfoejGruppeMedlem a -> x \n"
            "   IDrift = 0: Test af TilfoejGruppeMedlem b -> x \n");
  s.clearLog();
  membershipMerge(s.rt, some, si, none, ni, false);
  EXPECT_EQ(s.log(),
            "   IDrift = 0: Test af FjernGruppeMedlem a <- x \n"
            "   IDrift = 0: Test af FjernGruppeMedlem b <- x \n");
}

TEST(TilfoejGruppeMedlem, CreatesAMissingGroupAndAddsOnce) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  selectStaff(s.rt);
  s.addUser("anna", kStaffDn);
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "anna", "7a", true), 0);
  EXPECT_EQ(s.members(groupDn("7a")), std::vector<std::string>{"anna"});
  EXPECT_EQ(s.attr(groupDn("7a"), "description"), "Autooprettet af ZEB (M)");
  EXPECT_EQ(s.log(), " Gruppen 7a oprettes.\n   Bruger ind i gruppe anna -> 7a \n");
  // Already a member: quiet success at LogLevel 0, an error above it.
  s.clearLog();
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "anna", "7a", true), 0);
  EXPECT_EQ(s.log(), "   Bruger ind i gruppe anna -> 7a \n");
}

TEST(TilfoejGruppeMedlem, AlreadyMemberIsAnErrorAboveLogLevelZero) {
  GroupSchool s;
  s.rt.settings.LogLevel = 1;
  const std::string anna = s.addUser("anna", kStaffDn);
  s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (M)", {anna});
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "anna", "7a", true), 1);
  EXPECT_EQ(s.log().rfind("\n** Fejl: Kunne ikke tilføje anna til gruppen 7a.\n"
                          "** Fejl: (hresult: 0x80071392",
                          0),
            0u);
}

TEST(TilfoejGruppeMedlem, NothingHappensForEmptyGroupsUnknownUsersAndBadNames) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  s.addUser("anna", kStaffDn);
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "anna", "", true), 0);
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "ukendt", "7a", true), 0);
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "*", "7a", true), 0);  // no wildcard match
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "anna", "7,a", true), 1);
  EXPECT_EQ(s.log(),
            "   Bruger anna blev ikke fundet \n"
            "\n** Fejl: Gruppe navnet må ikke indeholde specialtegn. (7,a)\n");
  EXPECT_FALSE(s.exists(groupDn("7a")));
}

TEST(TilfoejGruppeMedlem, ArchivedOrForeignGroupsAreNeverFilled) {
  GroupSchool s;
  const std::string anna = s.addUser("anna", kStaffDn);
  s.addGroup("gammel", kGroupArchiveDn, "Autooprettet af ZEB (M)");
  s.addGroup("Lærere", kGroupsDn, "lavet i hånden");
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "anna", "gammel", true), 1);
  EXPECT_EQ(TilfoejGruppeMedlem(s.rt, "anna", "lærere", true), 1);
  EXPECT_TRUE(s.members(archivedDn("gammel")).empty());
  EXPECT_TRUE(s.members(groupDn("Lærere")).empty());
  EXPECT_FALSE(s.exists(groupDn("gammel")));
  const auto refused = s.linesWith("kan ikke tilføjes");
  EXPECT_EQ(
      refused,
      (std::vector<std::string>{
          "** Fejl: anna kan ikke tilføjes til gammel da gruppen ikke er vedligeholdt af ZEB.",
          "** Fejl: anna kan ikke tilføjes til lærere da gruppen ikke er vedligeholdt af ZEB."}));
}

TEST(GroupChangeReport, EveryAddAndRemoveIsARowWithItsResult) {
  GroupSchool s;
  selectStaff(s.rt);
  const std::string anna = s.addUser("anna", kStaffDn);
  s.addGroup("7b", kGroupsDn, "Autooprettet af ZEB (M)", {anna});
  s.addGroup("Hånd", kGroupsDn, "lavet i hånden");
  {
    ChangeReportScope job(s.rt.changes, s.logs.folder.file("brovalt-1.rapport.csv"), nullptr);
    (void)TilfoejGruppeMedlem(s.rt, "anna", "7a", true);    // created and filled
    (void)TilfoejGruppeMedlem(s.rt, "anna", "7b", true);    // already a member
    (void)TilfoejGruppeMedlem(s.rt, "anna", "Hånd", true);  // not the system's
    (void)TilfoejGruppeMedlem(s.rt, "ukendt", "7a", true);
    (void)FjernGruppeMedlem(s.rt, "anna", nullptr, "7b");
    (void)FjernGruppeMedlem(s.rt, "ukendt", nullptr, "7b");
  }
  EXPECT_EQ(s.logs.folder.read("brovalt-1.rapport.csv"),
            std::string(kChangeReportHeader) +
                "Medarbejder;anna;gruppe ind;;;7a;udført\r\n"
                "Medarbejder;anna;gruppe ind;;;7b;afvist: 0x80071392 The object already exists.\r\n"
                "Medarbejder;anna;gruppe ind;;;Hånd;afvist: gruppen er ikke vedligeholdt af ZEB\r\n"
                "Medarbejder;ukendt;gruppe ind;;;7a;afvist: brugeren findes ikke\r\n"
                "Medarbejder;anna;gruppe ud;;7b;;udført\r\n"
                "Medarbejder;ukendt;gruppe ud;;7b;;afvist: brugeren findes ikke\r\n");
}

TEST(FjernGruppeMedlem, RemovesFromMarkedGroupsOnly) {
  GroupSchool s;
  selectStaff(s.rt);
  const std::string anna = s.addUser("anna", kStaffDn);
  s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (M)", {anna});
  s.addGroup("Hånd", kGroupsDn, "lavet i hånden", {anna});
  s.clearLog();
  EXPECT_EQ(FjernGruppeMedlem(s.rt, "anna", nullptr, "7a"), kSOk);
  EXPECT_EQ(FjernGruppeMedlem(s.rt, "anna", nullptr, "Hånd"), kSOk);
  EXPECT_TRUE(s.members(groupDn("7a")).empty());
  EXPECT_EQ(s.members(groupDn("Hånd")), std::vector<std::string>{"anna"});
  EXPECT_EQ(s.log(), "   Bruger ud af gruppe anna <- 7a \n");
}

TEST(FjernGruppeMedlem, FindsInactiveUsersAndReportsMissingOnes) {
  GroupSchool s;
  s.rt.settings.LogLevel = 3;
  selectPupils(s.rt);
  const std::string inactive = "OU=Inaktive," + std::string(kPupilDn);
  const std::string bo = s.addUser("bo", inactive);
  s.addGroup("7b", kGroupsDn, "Autooprettet af ZEB (E)", {bo});
  EXPECT_EQ(FjernGruppeMedlem(s.rt, "bo", nullptr, "7b"), kSOk);
  EXPECT_TRUE(s.members(groupDn("7b")).empty());
  s.clearLog();
  EXPECT_EQ(FjernGruppeMedlem(s.rt, "ingen", nullptr, "7b"), kEFail);
  EXPECT_EQ(s.log(),
            "\n** Fejl: Bruger ingen kunne ikke findes i forventet placering.\n"
            "1 LDAP://CN=ingen,OU=Arkiv," +
                std::string(kPupilDn) +
                "\n"
                "2 LDAP://CN=ingen,OU=Inaktive," +
                kPupilDn +
                "\n"
                "3 LDAP://CN=ingen," +
                kPupilDn + "\n");
}

}  // namespace
}  // namespace tv::test

namespace tv::test {
namespace {

TEST(MembershipMerge, LooksEachLoginUpOnceAndAddsEveryPair) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  selectPupils(s.rt);
  s.addUser("eva", kPupilDn);
  CountingDirectory counter(s.directory);
  s.rt.ports.directory = &counter;
  GroupMemberList file = {{"eva", "7a", "E", {}},
                          {"eva", "Alle", "E", {}},
                          {"eva", "Hold", "E", {}},
                          {"ukendt", "7a", "E", {}},
                          {"ukendt", "Alle", "E", {}}};
  GroupMemberList none;
  Index fi = buildMembershipKeys(file);
  Index ni = buildMembershipKeys(none);
  membershipMerge(s.rt, none, ni, file, fi, false);
  EXPECT_EQ(counter.counts().searches, 2u);
  EXPECT_EQ(s.members(groupDn("7a")), std::vector<std::string>{"eva"});
  EXPECT_EQ(s.members(groupDn("alle")), std::vector<std::string>{"eva"});
  EXPECT_EQ(s.members(groupDn("hold")), std::vector<std::string>{"eva"});
}

TEST(MembershipMerge, BindsEachGroupOnceHoweverManyMembersItGains) {
  GroupSchool s;
  s.rt.settings.LogLevel = 0;
  selectPupils(s.rt);
  for (const char* login : {"eva", "ole", "ib"}) s.addUser(login, kPupilDn);
  s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (E)");
  s.addGroup("Fremmed", kGroupsDn, "lavet i hånden");
  CountingDirectory counter(s.directory);
  s.rt.ports.directory = &counter;
  GroupMemberList file = {{"eva", "7a", "E", {}},
                          {"ole", "7a", "E", {}},
                          {"ib", "7a", "E", {}},
                          {"eva", "Fremmed", "E", {}},
                          {"ole", "Fremmed", "E", {}}};
  GroupMemberList none;
  Index fi = buildMembershipKeys(file);
  Index ni = buildMembershipKeys(none);
  membershipMerge(s.rt, none, ni, file, fi, false);
  EXPECT_EQ(s.members(groupDn("7a")), (std::vector<std::string>{"eva", "ib", "ole"}));
  // A hand-made group is bound and refused for each pair: it is never kept.
  EXPECT_TRUE(s.members(groupDn("Fremmed")).empty());
  // Users are found by search alone; 7a is bound once, Fremmed for each of
  // its two pairs.
  EXPECT_EQ(counter.counts().searches, 3u);
  EXPECT_EQ(counter.counts().binds, 1u + 2u);
  EXPECT_EQ(s.linesWith("ikke er vedligeholdt af ZEB").size(), 2u);
}

// A school's first group sync: hundreds of pupils into a group that holds a
// few of them already, a group still to be made, a protected account, an
// unknown login and a login two accounts answer to. The merge reads the
// accounts once and adds in batches, yet its log, its groups and its change
// report are those of adding every pair on its own with its own search, also
// when the directory refuses every batch.
TEST(MembershipMerge, ManyAddsGoInBatchesAndEndAsOneByOne) {
  constexpr int kPupils = 300;
  const auto school = [](GroupSchool& s) {
    std::vector<std::string> paths;
    for (int i = 0; i < kPupils; ++i) {
      paths.push_back(s.addUser("p" + std::to_string(1000 + i), kPupilDn));
    }
    (void)s.addUser("aaa", kPupilDn);
    // Members already, though the merge's list of the directory lacks them.
    s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (E)", {paths[5], paths[150]});
    // A protected account (the directory keeps adminCount to itself).
    (void)s.addUser("boss", kStaffDn);
    std::string ldif = s.directory.saveLdif();
    const std::string bossDn = std::string("dn: CN=boss,") + kStaffDn + "\n";
    ldif.insert(ldif.find(bossDn) + bossDn.size(), "adminCount: 1\n");
    EXPECT_EQ(s.directory.loadLdif(ldif), "");
    // "dup" is one account's name and another's login; the later one wins.
    auto first = s.directory.bind(s.addUser("dup", "CN=Users,DC=skole,DC=test"));
    EXPECT_EQ(first.value->put("sAMAccountName", "dup-x"), kSOk);
    EXPECT_EQ(first.value->setInfo(), kSOk);
    auto other = s.directory.bind(s.addUser("dupe", kPupilDn));
    EXPECT_EQ(other.value->put("sAMAccountName", "dup"), kSOk);
    EXPECT_EQ(other.value->setInfo(), kSOk);
  };
  GroupMemberList file;
  for (const char* group : {"7a", "Alle"}) {
    for (int i = 0; i < kPupils; ++i)
      file.push_back({"p" + std::to_string(1000 + i), group, "E", {}});
    // dupe is the account dup names too: in one batch they would be one value
    // twice. aaa comes first, so dup and dupe wait together.
    for (const char* login : {"aaa", "boss", "dup", "dupe", "ukendt"}) {
      file.push_back({login, group, "E", {}});
    }
  }
  GroupMemberList none;
  const Index fi = buildMembershipKeys(file);
  const Index ni = buildMembershipKeys(none);
  for (const int logLevel : {0, 1}) {
    for (const bool refuseBatches : {false, true}) {
      GroupSchool batched, oneByOne;
      for (GroupSchool* s : {&batched, &oneByOne}) {
        school(*s);
        s->rt.settings.LogLevel = logLevel;
        selectPupils(s->rt);
        s->clearLog();
      }
      FaultyDirectory faulty(batched.directory);
      if (refuseBatches) faulty.refuseMemberBatches(kEAccessDenied);
      CountingDirectory counter(faulty);
      batched.rt.ports.directory = &counter;
      {
        ChangeReportScope report(batched.rt.changes, batched.logs.folder.path() + "/r.csv",
                                 nullptr);
        membershipMerge(batched.rt, none, ni, file, fi, false);
      }
      {
        ChangeReportScope report(oneByOne.rt.changes, oneByOne.logs.folder.path() + "/r.csv",
                                 nullptr);
        MembershipCache cache;
        for (const std::uint32_t i : fi) {
          (void)TilfoejGruppeMedlem(oneByOne.rt, file[i].login, file[i].group, false, &cache);
        }
      }
      const std::string what =
          "log level " + std::to_string(logLevel) + (refuseBatches ? ", batches refused" : "");
      EXPECT_EQ(batched.log(), oneByOne.log()) << what;
      EXPECT_EQ(batched.linesWith("boss").size(), 2u) << "refused for each group: " << what;
      for (const char* group : {"7a", "alle"}) {
        EXPECT_EQ(batched.members(groupDn(group)), oneByOne.members(groupDn(group))) << what;
        EXPECT_EQ(batched.members(groupDn(group)).size(), kPupils + 2u) << what;
      }
      EXPECT_EQ(batched.logs.folder.read("r.csv"), oneByOne.logs.folder.read("r.csv")) << what;
      // One read of the accounts instead of a search per login; the protected
      // account's refusal comes from that read too.
      EXPECT_EQ(counter.counts().searches, 1u) << what;
      if (!refuseBatches) {
        // Per group: aaa alone (the group's first add); a first batch of 250
        // holding dup and dupe (one account twice), which goes one by one
        // without being tried; the other 52 pupils in one change.
        EXPECT_EQ(counter.counts().changes, 2 * (1u + 250u + 1u)) << what;
      }
    }
  }
}

TEST(FjernGruppeMedlem, ANameWithACommaIsADnBelowTheDomain) {
  GroupSchool s;
  selectStaff(s.rt);
  const std::string anna = s.addUser("anna", kStaffDn);
  s.addGroup("Særlig", "OU=ZEB,DC=skole,DC=test", "Autooprettet af ZEB (M)", {anna});
  s.addGroup("7a", kGroupsDn, "Autooprettet af ZEB (M)", {anna});
  s.clearLog();
  EXPECT_EQ(FjernGruppeMedlem(s.rt, "anna", nullptr, "CN=Særlig,OU=ZEB:7a"), kSOk);
  EXPECT_TRUE(s.members("CN=Særlig,OU=ZEB,DC=skole,DC=test").empty());
  EXPECT_TRUE(s.members(groupDn("7a")).empty());
  EXPECT_EQ(s.log(),
            "   Bruger ud af gruppe anna <- CN=Særlig,OU=ZEB \n"
            "   Bruger ud af gruppe anna <- 7a \n");
}

}  // namespace
}  // namespace tv::test

// The membership merge's removes against the same pairs removed one at a
// time by FjernGruppeMedlem: whatever goes to the directory together, the
// log, the change report and the groups end the same.
#include <gtest/gtest.h>

#include <functional>

#include "groups/group_membership.h"
#include "groups/group_sync.h"
#include "support/counting_directory.h"
#include "support/faulty_directory.h"
#include "unit/groups/group_fixture.h"

namespace tv::test {
namespace {

constexpr int kPupils = 120;  // enough removes for the merge to list the containers
const std::string kInactiveDn = "OU=Inaktive," + std::string(kPupilDn);
const std::string kArchiveDn = "OU=Arkiv," + std::string(kPupilDn);
constexpr const char* kMarked = "Autooprettet af ZEB (E)";

std::string pupil(int i) {
  return "p" + std::to_string(1000 + i);
}

// Every pupil, a member of 7a.
std::vector<std::string> pupilsIn7a(GroupSchool& s) {
  std::vector<std::string> paths;
  for (int i = 0; i < kPupils; ++i) paths.push_back(s.addUser(pupil(i), kPupilDn));
  return paths;
}

// An account whose sAMAccountName is not its name.
std::string addAccount(GroupSchool& s, const std::string& cn, const std::string& containerDn,
                       const std::string& sam) {
  auto container = s.directory.bind(pathFromDn(containerDn));
  EXPECT_TRUE(container.ok()) << containerDn;
  auto user = container.value->create("user", "CN=" + escapeDnValue(cn));
  EXPECT_EQ(user.value->put("sAMAccountName", sam), kSOk);
  EXPECT_EQ(user.value->setInfo(), kSOk) << cn;
  return pathFromDn("CN=" + escapeDnValue(cn) + "," + containerDn);
}

// The directory's entries without the stamps every change moves on: a
// batch moves them fewer times than its members one by one.
std::string entries(GroupSchool& s) {
  std::string out;
  for (const std::string& line : split(s.directory.saveLdif(), '\n')) {
    if (startsWith(line, "uSN") || startsWith(line, "when")) continue;
    out += line + "\n";
  }
  return out;
}

void directoryHas(GroupMemberList& list, const std::string& login, const std::string& group) {
  list.push_back({login, group, "E", {}});
}

// The directory keeps adminCount to itself: it is written into the LDIF.
void protect(GroupSchool& s, const std::string& dn) {
  std::string ldif = s.directory.saveLdif();
  const std::string line = "dn: " + dn + "\n";
  ASSERT_NE(ldif.find(line), std::string::npos) << dn;
  ldif.insert(ldif.find(line) + line.size(), "adminCount: 1\n");
  ASSERT_EQ(s.directory.loadLdif(ldif), "");
}

// The merge as the pairs would go one at a time: each add by
// TilfoejGruppeMedlem, each remove by FjernGruppeMedlem, in key order.
void mergeOneByOne(Runtime& rt, const GroupMemberList& directory, const Index& di,
                   const GroupMemberList& file, const Index& fi) {
  MembershipCache cache;
  std::size_t f = 0, d = 0;
  while (f < fi.size() || d < di.size()) {
    const int order = f >= fi.size()   ? 1
                      : d >= di.size() ? -1
                                       : file[fi[f]].key.compare(directory[di[d]].key);
    if (order < 0) {
      (void)TilfoejGruppeMedlem(rt, file[fi[f]].login, file[fi[f]].group, false, &cache);
    } else if (order > 0 && directory[di[d]].login != "-") {
      (void)FjernGruppeMedlem(rt, directory[di[d]].login, nullptr, directory[di[d]].group);
    } else if (order == 0 && rt.settings.LogLevel >= 1) {
      rt.log.message(1, "   Bruger i gruppe OK %s - %s \n", directory[di[d]].login.c_str(),
                     directory[di[d]].group.c_str());
    }
    if (order <= 0) ++f;
    if (order >= 0) ++d;
  }
}

struct Shape {
  const char* what;
  std::function<void(GroupSchool&, GroupMemberList& directory, GroupMemberList& file)> make;
  // Member changes sent at log level 0 when the directory takes batches:
  // batched, and one at a time.
  unsigned long changes;
  unsigned long changesOneByOne;
};

TEST(MembershipMerge, ManyRemovesGoInBatchesAndEndAsOneByOne) {
  const std::vector<Shape> shapes = {
      {"many removes from one group",
       [](GroupSchool& s, GroupMemberList& dir, GroupMemberList&) {
         s.addGroup("7a", kGroupsDn, kMarked, pupilsIn7a(s));
         for (int i = 0; i < kPupils; ++i) directoryHas(dir, pupil(i), "7a");
       },
       1, kPupils},
      {"removes across groups, adds between them and pairs that stay",
       [](GroupSchool& s, GroupMemberList& dir, GroupMemberList& file) {
         const std::vector<std::string> paths = pupilsIn7a(s);
         s.addGroup("7a", kGroupsDn, kMarked, paths);
         s.addGroup("8b", kGroupsDn, kMarked, {paths.begin(), paths.begin() + 30});
         s.addGroup("Alle", kGroupsDn, kMarked, paths);
         for (int i = 0; i < kPupils; ++i) {
           // p1000, p1000n, p1001, …: a remove, an add, a remove in 7a.
           (void)s.addUser(pupil(i) + "n", kPupilDn);
           directoryHas(dir, pupil(i), "7a");
           file.push_back({pupil(i) + "n", "7a", "E", {}});
           directoryHas(dir, pupil(i), "Alle");
           file.push_back({pupil(i), "Alle", "E", {}});
           if (i < 30) directoryHas(dir, pupil(i), "8b");
         }
       },
       // 7a: the first remove alone (the first add looks the accounts up),
       // the first add, then one change of each kind; 8b one change.
       1 + 1 + 2 + 1, 2 * kPupils + 30},
      {"a protected account in the middle",
       [](GroupSchool& s, GroupMemberList& dir, GroupMemberList&) {
         s.addGroup("7a", kGroupsDn, kMarked, pupilsIn7a(s));
         protect(s, "CN=" + pupil(50) + "," + kPupilDn);
         for (int i = 0; i < kPupils; ++i) directoryHas(dir, pupil(i), "7a");
       },
       2, kPupils - 1},
      {"an account in none of the three containers",
       [](GroupSchool& s, GroupMemberList& dir, GroupMemberList&) {
         s.addGroup("7a", kGroupsDn, kMarked, pupilsIn7a(s));
         for (int i = 0; i < kPupils; ++i) directoryHas(dir, pupil(i), "7a");
         directoryHas(dir, pupil(50) + "x", "7a");
       },
       2, kPupils},
      {"inactive and archived accounts, one also in the user container",
       [](GroupSchool& s, GroupMemberList& dir, GroupMemberList&) {
         std::vector<std::string> paths = pupilsIn7a(s);
         std::vector<std::string> in8b(paths.begin(), paths.begin() + 10);
         for (int i = 0; i < 10; ++i) {
           paths.push_back(s.addUser("i" + std::to_string(i), kInactiveDn));
           paths.push_back(s.addUser("x" + std::to_string(i), kArchiveDn));
           directoryHas(dir, "i" + std::to_string(i), "7a");
           directoryHas(dir, "x" + std::to_string(i), "7a");
         }
         s.addGroup("7a", kGroupsDn, kMarked, paths);
         // In 8b the member named p1007 is an inactive account of that name;
         // the remove finds the one in the user container first, which is no
         // member: the batch is refused and that remove fails on its own.
         in8b[7] = addAccount(s, pupil(7), kInactiveDn, "gl-" + pupil(7));
         // i0 is archived too; the inactive one is found first.
         (void)addAccount(s, "i0", kArchiveDn, "ark-i0");
         s.addGroup("8b", kGroupsDn, kMarked, in8b);
         for (int i = 0; i < kPupils; ++i) directoryHas(dir, pupil(i), i < 10 ? "8b" : "7a");
       },
       // 7a: one change; 8b: one refused, then ten.
       1 + 1 + 10, kPupils + 20},
      {"one account twice in a group's list",
       [](GroupSchool& s, GroupMemberList& dir, GroupMemberList&) {
         s.addGroup("7a", kGroupsDn, kMarked, pupilsIn7a(s));
         for (int i = 0; i < kPupils; ++i) directoryHas(dir, pupil(i), "7a");
         directoryHas(dir, pupil(3), "7a");
       },
       kPupils + 1, kPupils + 1},
      {"a group without the marking",
       [](GroupSchool& s, GroupMemberList& dir, GroupMemberList&) {
         const std::vector<std::string> paths = pupilsIn7a(s);
         s.addGroup("7a", kGroupsDn, kMarked, paths);
         s.addGroup("Fremmed", kGroupsDn, "lavet i hånden", paths);
         s.addGroup("Særlig", "OU=ZEB,DC=skole,DC=test", kMarked, paths);
         for (int i = 0; i < kPupils; ++i) {
           directoryHas(dir, pupil(i), "7a");
           directoryHas(dir, pupil(i), "Fremmed");
           // A name with a comma is a DN to FjernGruppeMedlem.
           if (i < 5) directoryHas(dir, pupil(i), "CN=Særlig,OU=ZEB");
           if (i < 3) directoryHas(dir, pupil(i), "CN=Ukendt,OU=ZEB");
         }
       },
       1 + 5, kPupils + 5},
  };
  for (const Shape& shape : shapes) {
    for (const int logLevel : {0, 1}) {
      for (const bool refuseBatches : {false, true}) {
        const std::string what = std::string(shape.what) + ", log level " +
                                 std::to_string(logLevel) +
                                 (refuseBatches ? ", batches refused" : "");
        GroupSchool batched, oneByOne;
        GroupMemberList dir, file;
        for (GroupSchool* s : {&batched, &oneByOne}) {
          dir.clear();
          file.clear();
          shape.make(*s, dir, file);
          s->rt.settings.LogLevel = logLevel;
          selectPupils(s->rt);
          s->clearLog();
        }
        const std::string before = entries(batched);
        const Index di = buildMembershipKeys(dir);
        const Index fi = buildMembershipKeys(file);
        FaultyDirectory faulty(batched.directory);
        if (refuseBatches) faulty.refuseMemberBatches(kUnwillingToPerform);
        CountingDirectory counter(faulty);
        batched.rt.ports.directory = &counter;
        CountingDirectory counterOneByOne(oneByOne.directory);
        oneByOne.rt.ports.directory = &counterOneByOne;
        {
          ChangeReportScope report(batched.rt.changes, batched.logs.folder.path() + "/r.csv",
                                   nullptr);
          membershipMerge(batched.rt, dir, di, file, fi, false);
        }
        {
          ChangeReportScope report(oneByOne.rt.changes, oneByOne.logs.folder.path() + "/r.csv",
                                   nullptr);
          mergeOneByOne(oneByOne.rt, dir, di, file, fi);
        }
        EXPECT_NE(entries(batched), before) << what;
        EXPECT_EQ(entries(batched), entries(oneByOne)) << what;
        EXPECT_EQ(batched.log(), oneByOne.log()) << what;
        EXPECT_EQ(batched.logs.folder.read("r.csv"), oneByOne.logs.folder.read("r.csv")) << what;
        if (logLevel == 0 && !refuseBatches) {
          EXPECT_EQ(counter.counts().changes, shape.changes) << what;
          EXPECT_EQ(counterOneByOne.counts().changes, shape.changesOneByOne) << what;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tv::test

// The group sync against a real domain controller over the LDAP adapter:
// the pupil run creates, fills, empties, archives, restores and deletes
// groups and sets an address exactly as on the memory directory, and a
// second run over the same job changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "groups/group_membership.h"
#include "groups/group_sync.h"
#include "integration/samba/samba_env.h"
#include "jobdata/job_reader.h"
#include "platform/ldap/ldap_directory.h"
#include "runtime/locations.h"
#include "runtime/runtime.h"
#include "runtime/trim.h"
#include "support/counting_directory.h"
#include "support/fakes.h"
#include "text/text.h"

namespace tv::test {
namespace {

const SambaDc& dc() {
  return requireSambaDc();
}

// Names carry a prefix: account names are unique in the whole domain, which
// other tests share.
constexpr const char* kSystem = "OU=GrpSyncTest";

class GroupSyncOnSamba : public ::testing::Test {
 protected:
  std::string base() const { return std::string(kSystem) + "," + dc().baseDn; }
  std::string groups() const { return "OU=Grupper," + base(); }
  std::string archive() const { return "OU=Arkiv," + groups(); }
  std::string pupils() const { return "OU=Elev," + base(); }

  void SetUp() override {
    ASSERT_EQ(admin_.status(), 0);
    const int del = admin_.deleteTree(base());
    ASSERT_TRUE(del == 0 || del == 32) << del;
    for (const std::string& ou :
         {base(), pupils(), "OU=Medarbejder," + base(), groups(), archive()}) {
      ASSERT_EQ(admin_.addOu(ou), 0) << ou;
    }
    directory_ = openLdapDirectory(adminSettings(dc()), logs_.log);
    ASSERT_NE(directory_, nullptr);
    rt_.ports.directory = directory_.get();
    rt_.ports.clock = &logs_.clock;
    rt_.ports.processes = &processes_;
    rt_.settings.LdapPath = kSystem;
    rt_.settings.IDrift = true;
    rt_.settings.LogLevel = 1;
    rt_.settings.UniversalGroups = true;
    rt_.settings.GruppeMail = "@skole.test";
    rt_.settings.GroupListElev = "gs-Elever";
    logs_.log.setDirectoryErrorSource([this] { return directory_->lastError(); });
    computeLocations(rt_);
    ASSERT_EQ(rt_.trim.GruppePath, groups());
  }

  void TearDown() override { (void)admin_.deleteTree(base()); }

  std::string addUser(const std::string& cn) {
    const std::string dn = "CN=" + cn + "," + pupils();
    EXPECT_EQ(admin_.add(dn, {{"objectClass", "user"}, {"sAMAccountName", cn}}), 0) << cn;
    return dn;
  }

  void addGroup(const std::string& cn, const std::string& container, const std::string& marking,
                const std::vector<std::string>& members = {}) {
    std::vector<std::pair<std::string, std::string>> attrs = {{"objectClass", "group"},
                                                              {"sAMAccountName", cn}};
    if (!marking.empty()) attrs.emplace_back("description", marking);
    for (const std::string& m : members) attrs.emplace_back("member", m);
    EXPECT_EQ(admin_.add("CN=" + cn + "," + container, attrs), 0) << cn;
  }

  // The cn of each member, lower-cased and sorted.
  std::vector<std::string> members(const std::string& groupDn) {
    std::vector<std::string> out;
    for (const std::string& m : admin_.read(groupDn, "member")) {
      out.push_back(toLower(m.substr(3, m.find(',') - 3)));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  bool exists(const std::string& dn) { return !admin_.read(dn, "objectClass").empty(); }

  std::vector<std::string> linesWith(const std::string& needle) const {
    std::vector<std::string> out;
    for (const std::string& l : split(logs_.text(), '\n')) {
      if (l.find(needle) != std::string::npos) out.push_back(l);
    }
    return out;
  }

  void run(const std::string& job) {
    JobReader reader(logs_.log, utf8ToCp1252(job), "brovalt-samba.dat");
    groupSync(rt_, reader, false);
  }

  AdminLdap admin_{dc()};
  LogFixture logs_;
  RecordingProcessRunner processes_;
  std::unique_ptr<Directory> directory_;
  Runtime rt_{logs_.log, Ports{}, logs_.folder.path()};
};

using Names = std::vector<std::string>;

TEST_F(GroupSyncOnSamba, PupilRunThenNothingToDo) {
  const std::string eva = addUser("gs-eva");
  const std::string ole = addUser("gs-ole");
  addGroup("gs-Ærø Hold", groups(), "Autooprettet af ZEB (E)", {eva});
  addGroup("gs-Hold (A)", groups(), "Autooprettet af ZEB (E)", {ole});
  addGroup("gs-gammel", groups(), "Autooprettet af ZEB (E)", {ole});
  addGroup("gs-tom", groups(), "Autooprettet af ZEB (E)");
  addGroup("gs-fremmed", groups(), "lavet i hånden", {eva});
  addGroup("gs-9z", archive(), "Autooprettet af ZEB (E)");
  const std::string job = "gs-eva;" + std::string(32, 'b') +
                          ";Kode1;F;E;2;010110;GS-7A:gs-Ærø Hold;;;;;;;;;\n" + "gs-ole;" +
                          std::string(32, 'b') + ";Kode1;F;E;2;010110;GS-7A:gs-Hold (A);;;;;;;;;\n";
  run(job);

  const std::string created = "CN=gs-7a," + groups();
  EXPECT_EQ(admin_.read(created, "sAMAccountName"), Names{"gs-7a"});
  EXPECT_EQ(admin_.read(created, "description"), Names{"Autooprettet af ZEB (E)"});
  EXPECT_EQ(admin_.read(created, "groupType"), Names{"-2147483640"});
  EXPECT_EQ(admin_.read(created, "mail"), Names{"gs-7a@skole.test"});
  EXPECT_EQ(members(created), (Names{"gs-eva", "gs-ole"}));
  EXPECT_EQ(members("CN=gs-Elever," + groups()), (Names{"gs-eva", "gs-ole"}));
  EXPECT_EQ(members("CN=gs-Hold (A)," + groups()), Names{"gs-ole"});
  EXPECT_EQ(members("CN=gs-gammel," + groups()), Names{});
  EXPECT_FALSE(exists("CN=gs-tom," + groups()));
  EXPECT_TRUE(exists("CN=gs-fremmed," + archive()));
  EXPECT_EQ(members("CN=gs-fremmed," + archive()), Names{"gs-eva"});
  EXPECT_TRUE(exists("CN=gs-9z," + groups()));
  EXPECT_EQ(admin_.read("CN=gs-Ærø Hold," + groups(), "mail"), Names{"gs-AEroHold@skole.test"});
  EXPECT_EQ(linesWith("   Bruger "), (Names{"   Bruger ind i gruppe gs-eva -> gs-7a ",
                                            "   Bruger ind i gruppe gs-ole -> gs-7a ",
                                            "   Bruger ind i gruppe gs-eva -> gs-elever ",
                                            "   Bruger ind i gruppe gs-ole -> gs-elever ",
                                            "   Bruger ud af gruppe gs-ole <- gs-gammel ",
                                            "   Bruger i gruppe OK gs-ole - gs-hold (a) ",
                                            "   Bruger i gruppe OK gs-eva - gs-Ærø hold "}));

  logs_.log.release();
  logs_.folder.write("Tavlevagt.log", "");
  (void)logs_.log.open();
  run(job);
  EXPECT_EQ(linesWith("   Bruger ind"), Names{});
  EXPECT_EQ(linesWith("   Bruger ud"), Names{});
  EXPECT_EQ(linesWith("   Bruger i gruppe OK").size(), 6u);
  // gs-gammel, emptied by the first run, went in the second.
  EXPECT_FALSE(exists("CN=gs-gammel," + groups()));

  // Now truly nothing to do: the scan and one read of every pupil's
  // memberOf answer for all groups, "gs-Ærø Hold" and "gs-Hold (A)" too, as
  // the domain controller writes their names.
  CountingDirectory counting(*directory_);
  rt_.ports.directory = &counting;
  run(job);
  rt_.ports.directory = directory_.get();
  EXPECT_EQ(counting.counts().searches, 2u);
  EXPECT_EQ(counting.counts().binds, 0u);
  EXPECT_EQ(counting.counts().changes + counting.counts().commits, 0u);
}

TEST_F(GroupSyncOnSamba, StandardGroupKeptKindRepairedFromAnotherAttributeAndDuplicateAdd) {
  // The marking lives in "info": the kind repair must read and write there.
  rt_.settings.ZEBGruppeMarkering = "info";
  const std::string eva = addUser("gs-eva");
  auto addMarked = [&](const std::string& cn, const std::string& marking,
                       const std::vector<std::string>& members) {
    std::vector<std::pair<std::string, std::string>> attrs = {
        {"objectClass", "group"}, {"sAMAccountName", cn}, {"info", marking}};
    for (const std::string& m : members) attrs.emplace_back("member", m);
    EXPECT_EQ(admin_.add("CN=" + cn + "," + groups(), attrs), 0) << cn;
  };
  addMarked("gs-Elever", "Autooprettet af ZEB (E)", {});  // the standard group, empty
  addMarked("gs-7b", "Autooprettet af ZEB", {eva});       // no kind yet
  run("gs-eva;" + std::string(32, 'b') + ";Kode1;F;E;2;010110;gs-7b;;;;;;;;;\n");

  // The empty standard group is not deleted, then gets its member.
  EXPECT_EQ(linesWith("Standardgruppen"), Names{"   Kan ikke slette Standardgruppen gs-Elever"});
  EXPECT_EQ(members("CN=gs-Elever," + groups()), Names{"gs-eva"});
  // The kind comes from the first member, a pupil, into "info".
  EXPECT_EQ(admin_.read("CN=gs-7b," + groups(), "info"), Names{"Autooprettet af ZEB (E)"});
  EXPECT_EQ(linesWith("   Bruger i gruppe OK"), Names{"   Bruger i gruppe OK gs-eva - gs-7b "});

  // Adding a member twice: the domain controller's "already exists" is
  // reported above log level 0 and changes nothing.
  EXPECT_EQ(TilfoejGruppeMedlem(rt_, "gs-eva", "gs-7b", false), 1);
  EXPECT_EQ(linesWith("** Fejl: (hresult: 0x80071392").size(), 1u) << logs_.text();
  EXPECT_EQ(members("CN=gs-7b," + groups()), Names{"gs-eva"});
}

// The end of a school year on a real domain controller: every pupil leaves
// gs-hold in one change. In gs-twin the member named gs-p050 is an inactive
// account of that name, but the remove takes the one the user container
// holds, which is no member: the domain controller refuses that change and
// the group's members go one by one, gs-p050 with its own error.
TEST_F(GroupSyncOnSamba, ManyLeaveInOneChangeAndARefusedChangeGoesMemberByMember) {
  const std::string inactive = "OU=Inaktive," + pupils();
  ASSERT_EQ(admin_.addOu(inactive), 0);
  selectPupils(rt_);
  ASSERT_EQ(rt_.trim.inactivePath, inactive);
  std::vector<std::string> all;
  for (int i = 0; i < 105; ++i) {
    char cn[16];
    std::snprintf(cn, sizeof cn, "gs-p%03d", i);
    all.push_back(addUser(cn));
  }
  const std::string twin = "CN=gs-p050," + inactive;
  ASSERT_EQ(admin_.add(twin, {{"objectClass", "user"}, {"sAMAccountName", "gs-p050-gl"}}), 0);
  addGroup("gs-hold", groups(), "Autooprettet af ZEB (E)", all);
  addGroup("gs-twin", groups(), "Autooprettet af ZEB (E)", {all[48], all[49], twin, all[51]});

  CountingDirectory counting(*directory_);
  rt_.ports.directory = &counting;
  run("");
  rt_.ports.directory = directory_.get();

  EXPECT_EQ(members("CN=gs-hold," + groups()), Names{});
  EXPECT_EQ(members("CN=gs-twin," + groups()), Names{"gs-p050"});
  EXPECT_EQ(admin_.read("CN=gs-twin," + groups(), "member"), Names{twin});
  EXPECT_EQ(linesWith("   Bruger ud af gruppe").size(), 105u + 3u);
  EXPECT_EQ(linesWith("kunne ikke fjernes"),
            Names{"** Fejl: Bruger gs-p050 kunne ikke fjernes fra gruppen gs-twin"});
  // gs-hold: one change; gs-twin: the refused one, then one per member.
  EXPECT_EQ(counting.counts().changes, 1u + 1u + 4u);
}

}  // namespace
}  // namespace tv::test

#include "sync/deactivation_brake.h"

#include <gtest/gtest.h>

#include "runtime/trim.h"
#include "school_fixture.h"
#include "sync/sync_pass.h"

namespace tv {
namespace {

using test::idOf;
using test::pupilLine;
using test::School;

TEST(DeactivationBrake, LimitIsTheShareOfEnabledAccountsButNeverBelowTheFloor) {
  struct Case {
    int percent, floor;
    std::size_t would, enabled;
    std::size_t limit;
    bool braked;
  };
  const Case cases[] = {
      {0, 10, 600, 600, 600, false},   // off: the full-list rule stands
      {20, 10, 120, 600, 120, false},  // at the limit
      {20, 10, 121, 600, 120, true},   // one above
      {20, 10, 600, 600, 120, true},   // an empty export
      {20, 10, 10, 30, 10, false},     // a small population: the floor decides
      {20, 10, 11, 30, 10, true},
      {20, 0, 1, 4, 0, true},          // no floor: 20 % of 4 is no account at all
      {100, 0, 600, 600, 600, false},  // a share of everything never brakes
      {20, 10, 0, 0, 10, false},       // a new school: nothing to deactivate
  };
  for (const Case& c : cases) {
    Settings s;
    s.NedlaegGraense = c.percent;
    s.NedlaegGraenseMin = c.floor;
    const DeactivationBrake b = deactivationBrake(s, c.would, c.enabled);
    EXPECT_EQ(b.limit, c.limit) << c.percent << "% of " << c.enabled;
    EXPECT_EQ(b.braked, c.braked) << c.would << " of " << c.enabled << " at " << c.percent << "%";
  }
}

// A pupil school of five enabled accounts and two old ones already disabled.
struct BrakedSchool : School {
  BrakedSchool() {
    rt.settings.NedlaegGraense = 20;
    rt.settings.NedlaegGraenseMin = 2;
    for (const char* login : {"anna", "bo", "cai", "dina", "eva"}) {
      addUser(login, "OU=Elev", idOf(login));
    }
    addUser("old1_inaktiv", "OU=Elev", idOf("old1"), true);
    addUser("old2_inaktiv", "OU=Elev", idOf("old2"), true);
  }
  PassCounts pass(const std::string& records) {
    selectPupils(rt);
    clearLog();
    logs.events.events.clear();
    JobReader reader(rt.log, records, "brovalt-1.behandler");
    JobLine line;
    PassCounts counts;
    (void)synchronisationPass(rt, reader, line, counts);
    return counts;
  }
};

TEST(DeactivationBrake, PassAboveTheLimitDeactivatesNobodyAndSaysSoOnce) {
  BrakedSchool s;
  const std::string before = s.directory.saveLdif();
  // Three of five enabled accounts missing, a new pupil: the two disabled
  // ones on the list do not count towards the limit of 2.
  const PassCounts counts =
      s.pass(pupilLine("anna", idOf("anna")) + "\n" + pupilLine("bo", idOf("bo")) + "\n" +
             pupilLine("finn", idOf("finn")) + "\n");
  EXPECT_EQ(counts.deactivated, 0u);
  EXPECT_EQ(counts.created, 1u);
  EXPECT_EQ(counts.updated, 2u);
  const std::string line =
      "** Fejl: Nedlæggelsesbremse for 'Elev': 3 af 5 aktive brugere skulle gøres inaktive, "
      "grænsen er 2 (NedlaegGraense=20%, NedlaegGraenseMin=2). Ingen brugere gøres inaktive i "
      "denne kørsel.\n";
  const std::string log = s.logs.text();
  EXPECT_NE(log.find("   Start NedlægBrugere\n" + line + "   Start OpretBrugere\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Test af Nedlæg bruger"), std::string::npos) << "nothing is planned";
  EXPECT_NE(log.find("Test af Opret/Ret bruger finn"), std::string::npos);
  ASSERT_EQ(s.logs.events.events.size(), 1u);
  EXPECT_EQ(s.logs.events.events[0].type, EventType::Error);
  EXPECT_EQ(s.logs.events.events[0].text, line);
  EXPECT_EQ(s.directory.saveLdif(), before);
}

TEST(DeactivationBrake, PassWithinTheLimitAndLiveLeaversProceed) {
  BrakedSchool s;
  s.rt.settings.IDrift = true;
  s.rt.settings.BrugUuidDrift = true;
  for (const char* cn : {"anna", "bo", "cai", "dina", "eva"}) {
    auto o = s.directory.bind(std::string("LDAP://CN=") + cn + ",OU=Elev,OU=ZEB,DC=skole,DC=test");
    ASSERT_TRUE(o.ok());
    (void)o.value->put("description", "Autooprettet af ZEB (1)");
    ASSERT_EQ(o.value->setInfo(), kSOk);
  }
  std::string three;
  for (const char* login : {"anna", "bo", "cai"}) three += pupilLine(login, idOf(login)) + "\n";
  // dina and eva leave: two of five, exactly the limit.
  const PassCounts counts = s.pass(three);
  EXPECT_EQ(s.logs.text().find("Nedlæggelsesbremse"), std::string::npos) << s.logs.text();
  EXPECT_NE(s.logs.text().find("   Nedlægger brugeren dina \n"), std::string::npos);
  EXPECT_NE(s.logs.text().find("   Nedlægger brugeren eva \n"), std::string::npos);
  EXPECT_EQ(counts.deactivated, 4u);  // the two disabled ones are tidied as before

  // An explicit leavers' section is never braked, however many it names.
  s.clearLog();
  JobReader reader(s.rt.log, three, "brovalt-2.behandler");
  JobLine line;
  (void)BrugerNedleggelse(s.rt, reader, line);
  for (const char* login : {"anna", "bo", "cai"}) {
    EXPECT_NE(s.logs.text().find("   Nedlægger brugeren " + std::string(login) + " \n"),
              std::string::npos)
        << login;
  }
}

}  // namespace
}  // namespace tv

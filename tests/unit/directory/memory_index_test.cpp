// The memory directory's equality indexes never go stale: after accounts are
// changed, renamed, moved (alone and with their unit), deleted and added,
// and group members come and go, a search by every indexed attribute gives
// exactly the rows, in the order, of a walk over the whole tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directory/escape.h"
#include "directory/hresult.h"
#include "platform/memory/memory_directory.h"
#include "platform/memory/store.h"

namespace tv {
namespace {

constexpr const char* kBase = "DC=skole,DC=test";
constexpr const char* kPersonDn = "CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test";

std::unique_ptr<DirObject> bound(Directory& dir, const std::string& dn) {
  auto b = dir.bind(pathFromDn(dn));
  EXPECT_EQ(b.hr, kSOk) << dn;
  return std::move(b.value);
}

void create(Directory& dir, const std::string& parentDn, const std::string& cls,
            const std::string& cn, std::vector<std::pair<std::string, std::string>> values) {
  auto o = bound(dir, parentDn)->create(cls, "CN=" + escapeDnValue(cn));
  ASSERT_EQ(o.hr, kSOk) << cn;
  for (const auto& [name, value] : values) ASSERT_EQ(o.value->put(name, value), kSOk);
  ASSERT_EQ(o.value->setInfo(), kSOk) << cn;
}

void unit(Directory& dir, const std::string& parentDn, const std::string& name) {
  auto o = bound(dir, parentDn)->create("organizationalUnit", "OU=" + name);
  ASSERT_EQ(o.hr, kSOk);
  ASSERT_EQ(o.value->setInfo(), kSOk);
}

void move(Directory& dir, const std::string& dn, const std::string& toDn,
          const std::string& newRdn = "") {
  ASSERT_EQ(bound(dir, toDn)->moveHere(pathFromDn(dn), newRdn).hr, kSOk) << dn;
}

void change(Directory& dir, const std::string& dn, const std::string& name,
            const std::string& value) {
  auto o = bound(dir, dn);
  ASSERT_EQ(value.empty() ? o->clear(name) : o->put(name, value), kSOk);
  ASSERT_EQ(o->setInfo(), kSOk) << dn << " " << name;
}

struct Found {
  Hresult hr;
  std::vector<std::string> dns;
};

Found search(Directory& dir, const std::string& base, const std::string& filter,
             SearchScope scope) {
  Found out;
  out.hr = dir.search(pathFromDn(base), filter, {"ADsPath"}, scope, 20, [&](const SearchRow& r) {
    out.dns.push_back(r.dn);
    return true;
  });
  return out;
}

// A school after a year of changes. Sixty pupils keep the tree large enough
// that a search by one value takes its candidates from an index, while
// "every user" walks the tree.
void buildAndChange(Directory& dir) {
  const std::string elev = std::string("OU=Elev,") + kBase;
  const std::string inaktive = std::string("OU=Inaktive,") + kBase;
  const std::string grupper = std::string("OU=Grupper,") + kBase;
  unit(dir, kBase, "Elev");
  unit(dir, kBase, "Inaktive");
  unit(dir, kBase, "Grupper");
  unit(dir, elev, "7A");
  for (int i = 0; i < 60; ++i) {
    const std::string login = "elev" + std::to_string(i);
    create(dir, i < 10 ? "OU=7A," + elev : elev, "user", login,
           {{"sAMAccountName", login},
            {"employeeNumber", "id" + std::to_string(i % 50)},  // ten share theirs
            {"employeeID", "E" + std::to_string(i)}});
  }
  // A login that is another account's name: found by either attribute.
  create(dir, elev, "user", "kim", {{"sAMAccountName", "elev1x"}});
  create(dir, elev, "user", "elev1x", {{"sAMAccountName", "kim"}});
  create(dir, elev, "user", "Åse", {{"sAMAccountName", "åse"}, {"employeeNumber", "ID-ÅSE"}});
  create(dir, grupper, "group", "alle", {{"sAMAccountName", "alle"}});
  create(dir, grupper, "group", "7a", {{"sAMAccountName", "g7a"}});
  create(dir, grupper, "group", "tom", {{"sAMAccountName", "tom"}});
  for (int i = 0; i < 15; ++i) {
    const std::string member =
        pathFromDn("CN=elev" + std::to_string(i) + "," + (i < 10 ? "OU=7A," + elev : elev));
    ASSERT_EQ(bound(dir, "CN=alle," + grupper)->addMember(member), kSOk);
    if (i % 2 == 0) {
      ASSERT_EQ(bound(dir, "CN=7a," + grupper)->addMember(member), kSOk);
    }
  }

  // Changed values.
  change(dir, "CN=elev20," + elev, "employeeNumber", "id-ny");
  change(dir, "CN=elev21," + elev, "employeeNumber", "");
  change(dir, "CN=elev22," + elev, "sAMAccountName", "ELEV22_ny");
  change(dir, "CN=elev23," + elev, "employeeID", "E23B");
  // Renamed in place, moved, moved and renamed, and a unit moved with its
  // pupils (members of both groups).
  move(dir, "CN=elev30," + elev, elev, "CN=elev30_inaktiv");
  move(dir, "CN=elev31," + elev, inaktive);
  move(dir, "CN=elev12," + elev, inaktive, "CN=elev12_inaktiv");
  move(dir, "OU=7A," + elev, inaktive);
  // A group renamed and moved: its members' memberOf follows.
  move(dir, "CN=7a," + grupper, elev, "CN=7b");
  // Deleted: a plain account, a member, and a group with members.
  ASSERT_EQ(bound(dir, elev)->deleteChild("user", "CN=elev40"), kSOk);
  ASSERT_EQ(bound(dir, elev)->deleteChild("user", "CN=elev14"), kSOk);
  ASSERT_EQ(bound(dir, grupper)->deleteChild("group", "CN=alle"), kSOk);
  // Members removed and added, and a member list replaced whole.
  const std::string sevenB = "CN=7b," + elev;
  ASSERT_EQ(bound(dir, sevenB)->removeMember(pathFromDn("CN=elev12_inaktiv," + inaktive)), kSOk);
  ASSERT_EQ(bound(dir, sevenB)->addMember(pathFromDn("CN=kim," + elev)), kSOk);
  auto tom = bound(dir, "CN=tom," + grupper);
  ASSERT_EQ(tom->putAll("member", {"CN=elev50," + elev, "CN=elev31," + inaktive}), kSOk);
  ASSERT_EQ(tom->setInfo(), kSOk);
  // Added after all that, reusing a deleted account's name.
  create(dir, elev, "user", "elev40", {{"sAMAccountName", "elev40"}, {"employeeNumber", "id40"}});
}

// The filters the product searches with, for one value.
std::vector<std::string> filtersFor(const std::string& value) {
  const std::string v = escapeFilterValue(value);
  return {"(sAMAccountName=" + v + ")",
          "(cn=" + v + ")",
          "(name=" + v + ")",
          "(employeeNumber=" + v + ")",
          "(employeeID=" + v + ")",
          "(&(objectCategory=person)(objectClass=user)(|(cn=" + v + ")(sAMAccountName=" + v + ")))",
          "(&(objectCategory=person)(objectClass=user)(employeeNumber=" + v + "))",
          "(memberOf=" + v + ")",
          "(&(objectCategory=person)(objectClass=user)(memberOf=" + v + "))"};
}

std::vector<std::string> allFilters() {
  std::vector<std::string> values = {"kim",       "elev1x", "ELEV1X",
                                     "åse",       "ÅSE",    "id-åse",
                                     "id1",       "id-ny",  "id21",
                                     "ELEV22_NY", "elev22", "E23",
                                     "e23b",      "elev30", "elev30_inaktiv",
                                     "elev31",    "elev12", "elev12_inaktiv",
                                     "elev3",     "elev40", "id40",
                                     "elev14",    "E14",    "nobody",
                                     "7a",        "g7a",    "7b"};
  for (const char* dn :
       {"CN=7b,OU=Elev,DC=skole,DC=test", "cn=7B, ou=elev,dc=skole,dc=test",
        "CN=7a,OU=Grupper,DC=skole,DC=test", "CN=alle,OU=Grupper,DC=skole,DC=test",
        "CN=tom,OU=Grupper,DC=skole,DC=test", "CN=elev0,OU=7A,OU=Inaktive,DC=skole,DC=test"}) {
    values.push_back(dn);
  }
  std::vector<std::string> filters;
  for (const std::string& v : values) {
    for (std::string& f : filtersFor(v)) filters.push_back(std::move(f));
  }
  for (const char* f :
       {"(objectClass=group)", "(objectClass=organizationalUnit)", "(objectCategory=group)",
        "(objectCategory=PERSON)",
        "(objectCategory=CN=Group,CN=Schema,CN=Configuration,DC=skole,DC=test)",
        "(objectCategory=CN=Person,CN=Schema,CN=Configuration,DC=skole,DC=test)",
        "(&(objectClass=user)(|(sAMAccountName=elev5)(employeeID=E6)(cn=kim)))",
        "(|(sAMAccountName=elev5)(sAMAccountName=elev5)(name=elev5))", "(|(cn=elev7)(!(cn=elev7)))",
        "(&(cn=elev8)(!(employeeID=E8)))", "(&(objectCategory=person)(objectClass=user)(cn=*))"}) {
    filters.push_back(f);
  }
  return filters;
}

TEST(MemoryDirectoryIndex, SearchesAfterEveryKindOfChangeMatchAWalkOverTheTree) {
  MemoryDirectoryOptions options;
  options.indexedAttributes = {"employeeNumber"};
  MemoryDirectory dir(options);
  buildAndChange(dir);
  // The same tree from its snapshot, whose indexes are built in one go.
  MemoryDirectory reloaded(options);
  ASSERT_EQ(reloaded.loadLdif(dir.saveLdif()), "");

  struct Place {
    std::string base;
    SearchScope scope;
  };
  const std::vector<Place> places = {
      {kBase, SearchScope::kSubtree},
      {"OU=Elev,DC=skole,DC=test", SearchScope::kSubtree},
      {"OU=Inaktive,DC=skole,DC=test", SearchScope::kOneLevel},
      {"OU=7A,OU=Inaktive,DC=skole,DC=test", SearchScope::kSubtree},
      {"CN=kim,OU=Elev,DC=skole,DC=test", SearchScope::kBase},
  };
  std::size_t nonEmpty = 0;
  for (MemoryDirectory* d : {&dir, &reloaded}) {
    for (const std::string& filter : allFilters()) {
      for (const Place& p : places) {
        // An OR with a term that no index bounds (no object lacks a class)
        // makes the directory walk the whole subtree.
        const Found walked = search(*d, p.base, "(|" + filter + "(!(objectClass=*)))", p.scope);
        const Found indexed = search(*d, p.base, filter, p.scope);
        EXPECT_EQ(indexed.hr, walked.hr) << filter << " below " << p.base;
        EXPECT_EQ(indexed.dns, walked.dns) << filter << " below " << p.base;
        if (!indexed.dns.empty()) ++nonEmpty;
      }
    }
  }
  EXPECT_GT(nonEmpty, 300u);
}

TEST(MemoryDirectoryIndex, ChangedAccountsAreFoundByTheirNewValuesOnly) {
  MemoryDirectoryOptions options;
  options.indexedAttributes = {"employeeNumber"};
  MemoryDirectory dir(options);
  buildAndChange(dir);
  const std::string elev = "OU=Elev,DC=skole,DC=test";
  const std::string inaktive = "OU=Inaktive,DC=skole,DC=test";
  const std::string grupper = "OU=Grupper,DC=skole,DC=test";
  const auto login = [](const std::string& v) {
    return "(&(objectCategory=person)(objectClass=user)(|(cn=" + v + ")(sAMAccountName=" + v +
           ")))";
  };
  struct Case {
    std::string filter;
    std::vector<std::string> dns;
  };
  const std::vector<Case> cases = {
      {"(employeeNumber=id-ny)", {"CN=elev20," + elev}},
      {"(employeeNumber=ID20)", {}},
      {"(employeeNumber=id21)", {}},
      {"(employeeNumber=id1)", {"CN=elev51," + elev, "CN=elev1,OU=7A," + inaktive}},
      {"(sAMAccountName=elev22_NY)", {"CN=elev22," + elev}},
      {"(sAMAccountName=elev22)", {}},
      {"(employeeID=E23)", {}},
      {"(employeeID=e23B)", {"CN=elev23," + elev}},
      {login("ELEV30_INAKTIV"), {"CN=elev30_inaktiv," + elev}},
      {"(cn=elev30)", {}},
      {"(name=elev31)", {"CN=elev31," + inaktive}},
      {login("elev12_inaktiv"), {"CN=elev12_inaktiv," + inaktive}},
      {login("elev1x"), {"CN=elev1x," + elev, "CN=kim," + elev}},
      {"(employeeNumber=id-åse)", {"CN=Åse," + elev}},
      {"(employeeID=E40)", {}},
      {"(employeeNumber=id40)", {"CN=elev40," + elev}},
      {login("elev14"), {}},
      {"(objectCategory=group)", {"CN=7b," + elev, "CN=tom," + grupper}},
      {"(memberOf=CN=7a," + grupper + ")", {}},
      {"(memberOf=CN=7b," + elev + ")",
       {"CN=elev10," + elev, "CN=kim," + elev, "CN=elev0,OU=7A," + inaktive,
        "CN=elev2,OU=7A," + inaktive, "CN=elev4,OU=7A," + inaktive, "CN=elev6,OU=7A," + inaktive,
        "CN=elev8,OU=7A," + inaktive}},
      {"(memberOf=CN=tom," + grupper + ")", {"CN=elev50," + elev, "CN=elev31," + inaktive}},
      {"(memberOf=CN=alle," + grupper + ")", {}},
  };
  for (const Case& c : cases) {
    const Found f = search(dir, kBase, c.filter, SearchScope::kSubtree);
    EXPECT_EQ(f.hr, kSOk) << c.filter;
    EXPECT_EQ(f.dns, c.dns) << c.filter;
  }
  EXPECT_EQ(
      search(dir, kBase, std::string("(objectCategory=") + kPersonDn + ")", SearchScope::kSubtree)
          .dns.size(),
      62u);
}

TEST(MemoryDirectoryIndex, AnAttributeTheSnapshotTeachesIsIndexedAfterLoading) {
  MemoryDirectoryOptions options;
  options.indexedAttributes = {"elevId"};
  MemoryDirectory dir(options);
  std::string ldif = "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n";
  for (int i = 0; i < 40; ++i) {
    ldif += "dn: CN=e" + std::to_string(i) + ",DC=skole,DC=test\nobjectClass: user\nelevId: X" +
            std::to_string(i) + "\n\n";
  }
  ASSERT_EQ(dir.loadLdif(ldif), "");
  change(dir, "CN=e3,DC=skole,DC=test", "elevId", "Y3");
  EXPECT_EQ(search(dir, kBase, "(elevid=x3)", SearchScope::kSubtree).dns,
            std::vector<std::string>{});
  EXPECT_EQ(search(dir, kBase, "(elevId=y3)", SearchScope::kSubtree).dns,
            std::vector<std::string>{"CN=e3,DC=skole,DC=test"});
  EXPECT_EQ(search(dir, kBase, "(elevId=X30)", SearchScope::kSubtree).dns,
            std::vector<std::string>{"CN=e30,DC=skole,DC=test"});
}

// Every lookup goes by the tree key, which plain DNs get without the DN
// parser: it must be the parser's key, and a DN it cannot read is left to it.
TEST(MemoryDirectoryIndex, PlainDnsGetTheParsersTreeKey) {
  std::size_t plain = 0;
  for (const char* dn : {"CN=Elev7,OU=Elev,OU=ZEB,DC=skole,DC=test",
                         "cn=elev7,ou=elev,dc=x",
                         "CN=a=b,DC=x",
                         "CN=,DC=x",
                         "OU=7.A-b_c,DC=x",
                         "DC=x",
                         "x-1.2=v,DC=x",
                         "CN=a,,DC=x",
                         "CN=a,DC=x,",
                         ",CN=a",
                         "CN",
                         "=a,DC=x",
                         "C N=a,DC=x",
                         "CN=a b,DC=x",
                         "CN=a\\,b,DC=x",
                         "CN=#a,DC=x",
                         "CN=a;DC=x",
                         "CN=Åse,DC=x",
                         "CN=a+sn=b,DC=x",
                         "CN=\"a\",DC=x",
                         "CN=a\tb,DC=x",
                         ""}) {
    if (memdir::plainTreeKeyOf(dn)) ++plain;
    EXPECT_EQ(memdir::treeKeyOf(dn), memdir::parsedTreeKeyOf(dn)) << dn;
  }
  EXPECT_EQ(plain, 7u);  // the first seven
}

// A snapshot may spell its member values otherwise than the directory
// would (case, blanks, escapes); a group still follows its members through
// renames and moves, and loses them on removal and deletion, one value at a
// time in the order it lists them.
TEST(MemoryDirectoryIndex, GroupMembersSpelledAnyWayFollowTheirAccounts) {
  MemoryDirectory dir;
  std::string ldif =
      "dn: DC=skole,DC=test\nobjectClass: domainDNS\n\n"
      "dn: OU=Elev,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n"
      "dn: OU=Inaktive,DC=skole,DC=test\nobjectClass: organizationalUnit\n\n";
  for (int i = 0; i < 30; ++i) {
    ldif += "dn: CN=e" + std::to_string(i) + ",OU=Elev,DC=skole,DC=test\nobjectClass: user\n\n";
  }
  ldif += "dn: CN=a\\2Cb,OU=Elev,DC=skole,DC=test\nobjectClass: user\n\n";
  ldif +=
      "dn: CN=alle,DC=skole,DC=test\nobjectClass: group\n"
      "member: cn=E1, ou=ELEV,dc=skole,dc=test\n"
      "member: CN=e2,OU=Elev,DC=skole,DC=test\n"
      "member: CN=a\\,b,OU=Elev,DC=skole,DC=test\n"
      "member: CN=e3,OU=Elev,DC=skole,DC=test\n"
      "member: CN=e4 ,OU=Elev,DC=skole,DC=test\n"
      "member: CN=e5,OU=Elev,DC=skole,DC=test\n\n";
  ASSERT_EQ(dir.loadLdif(ldif), "");
  const std::string elev = "OU=Elev,DC=skole,DC=test";
  const std::string inaktive = "OU=Inaktive,DC=skole,DC=test";
  const std::string alle = "CN=alle,DC=skole,DC=test";
  move(dir, "CN=e1," + elev, inaktive, "CN=e1_inaktiv");
  move(dir, "CN=a\\,b," + elev, inaktive);
  ASSERT_EQ(bound(dir, alle)->removeMember(pathFromDn("CN=e4," + elev)), kSOk);
  ASSERT_EQ(bound(dir, alle)->addMember(pathFromDn("CN=e9," + elev)), kSOk);
  move(dir, "CN=e9," + elev, inaktive);
  move(dir, "CN=e9," + inaktive, inaktive, "CN=e9b");
  ASSERT_EQ(bound(dir, elev)->deleteChild("user", "CN=e3"), kSOk);

  auto members = bound(dir, alle)->members();
  ASSERT_EQ(members.hr, kSOk);
  EXPECT_EQ(members.value, (std::vector<std::string>{
                               pathFromDn("CN=e1_inaktiv," + inaktive), pathFromDn("CN=e2," + elev),
                               pathFromDn("CN=a\\,b," + inaktive), pathFromDn("CN=e5," + elev),
                               pathFromDn("CN=e9b," + inaktive)}));
  const std::string filter = "(memberOf=" + escapeFilterValue(alle) + ")";
  EXPECT_EQ(search(dir, kBase, filter, SearchScope::kSubtree).dns,
            (std::vector<std::string>{"CN=e2," + elev, "CN=e5," + elev, "CN=a\\,b," + inaktive,
                                      "CN=e1_inaktiv," + inaktive, "CN=e9b," + inaktive}));
}

}  // namespace
}  // namespace tv

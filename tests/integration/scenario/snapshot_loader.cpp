#include "snapshot_loader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "directory/escape.h"
#include "platform/memory/ldif.h"
#include "text/text.h"

namespace tv::test {
namespace {

// Computed or guarded by the server: an add naming them fails or they would
// be ignored. objectClass comes with create(), userAccountControl and member
// are set after the add.
const std::set<std::string> kLeftOut = {"objectguid",
                                        "objectsid",
                                        "objectclass",
                                        "name",
                                        "objectcategory",
                                        "whencreated",
                                        "whenchanged",
                                        "usncreated",
                                        "usnchanged",
                                        "distinguishedname",
                                        "memberof",
                                        "instancetype",
                                        "pwdlastset",
                                        "badpwdcount",
                                        "badpasswordtime",
                                        "lastlogon",
                                        "lastlogoff",
                                        "logoncount",
                                        "lastlogontimestamp",
                                        "samaccounttype",
                                        "primarygroupid",
                                        "dscorepropagationdata",
                                        "ntsecuritydescriptor",
                                        "unicodepwd",
                                        "useraccountcontrol",
                                        "member"};

constexpr long kPasswordNotRequired = 0x20;
// Meets the domain's complexity rules; the scenarios never log on.
constexpr std::string_view kPassword = "Scenarie#2024x";

struct Attribute {
  std::string name;
  std::vector<std::string> values;
};

struct Entry {
  std::string dn;
  std::string cls;                    // the most specific class: the last value
  std::vector<Attribute> attributes;  // what the add carries
  std::vector<std::string> members;
  std::string userAccountControl;
};

std::size_t depth(const std::string& dn) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == '\\') {
      ++i;
    } else if (dn[i] == ',') {
      ++n;
    }
  }
  return n;
}

std::string failure(const std::string& what, Hresult hr) {
  char buf[32];
  std::snprintf(buf, sizeof buf, ": hresult 0x%08X", static_cast<unsigned>(hr));
  return what + buf;
}

// Deletes dn and everything below it, deepest first; "" or the failure.
std::string deleteTree(Directory& directory, const std::string& dn) {
  std::vector<std::string> below;
  const Hresult found = directory.search(pathFromDn(dn), "(objectClass=*)", {"ADsPath"},
                                         SearchScope::kSubtree, 500, [&below](const SearchRow& r) {
                                           below.push_back(r.dn);
                                           return true;
                                         });
  if (found == kNoSuchObject) return "";
  if (found < 0) return failure("search " + dn, found);
  std::stable_sort(below.begin(), below.end(),
                   [](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
  for (const std::string& child : below) {
    auto parent = directory.bind(pathFromDn(parentDn(child)));
    if (!parent.ok()) return failure("bind " + parentDn(child), parent.hr);
    if (const Hresult hr = parent.value->deleteChild("", leafRdn(child)); hr < 0) {
      return failure("delete " + child, hr);
    }
  }
  return "";
}

}  // namespace

std::string loadSnapshot(Directory& directory, const std::string& baseDn, std::string_view ldif) {
  memdir::LdifParse parsed = memdir::parseLdif(ldif);
  if (!parsed.error.empty()) return "snapshot: " + parsed.error;

  const std::string base = toLower(baseDn);
  const std::string zeb = "ou=zeb," + base;
  std::vector<Entry> entries;
  for (const memdir::LdifRecord& r : parsed.records) {
    const std::string dn = toLower(r.dn);
    if (dn == base) continue;
    if (dn.size() <= base.size() ||
        dn.compare(dn.size() - base.size() - 1, std::string::npos, "," + base) != 0) {
      return "snapshot entry " + r.dn + " is not below " + baseDn;
    }
    Entry e;
    e.dn = r.dn;
    for (const auto& [name, value] : r.values) {
      const std::string key = toLower(name);
      if (key == "member") {
        e.members.push_back(value);
      } else if (key == "useraccountcontrol") {
        e.userAccountControl = value;
      } else if (key == "objectclass") {
        e.cls = value;
      }
      if (kLeftOut.count(key) != 0) continue;
      auto same = std::find_if(e.attributes.begin(), e.attributes.end(),
                               [&key](const Attribute& a) { return toLower(a.name) == key; });
      if (same == e.attributes.end()) {
        e.attributes.push_back({name, {value}});
      } else {
        same->values.push_back(value);
      }
    }
    if (e.cls.empty()) return "snapshot entry " + r.dn + " has no objectClass";
    entries.push_back(std::move(e));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return depth(a.dn) < depth(b.dn); });

  if (std::string error = deleteTree(directory, "OU=ZEB," + baseDn); !error.empty()) return error;

  for (const Entry& e : entries) {
    auto parent = directory.bind(pathFromDn(parentDn(e.dn)));
    if (!parent.ok()) return failure("bind " + parentDn(e.dn), parent.hr);
    auto made = parent.value->create(e.cls, leafRdn(e.dn));
    if (!made.ok()) return failure("create " + e.dn, made.hr);
    for (const Attribute& a : e.attributes) {
      if (const Hresult hr = made.value->putAll(a.name, a.values); hr < 0) {
        return failure("put " + a.name + " of " + e.dn, hr);
      }
    }
    const Hresult added = made.value->setInfo();
    const std::string dn = toLower(e.dn);
    const bool inZeb = dn == zeb || dn.ends_with("," + zeb);
    // Built-in containers (CN=Users …) are already in every domain.
    if (added == kAlreadyExists && !inZeb) continue;
    if (added < 0) return failure("add " + e.dn, added);
    if (toLower(e.cls) != "user" || e.userAccountControl.empty()) continue;
    auto user = directory.bind(pathFromDn(e.dn));
    if (!user.ok()) return failure("bind " + e.dn, user.hr);
    const long flags = std::strtol(e.userAccountControl.c_str(), nullptr, 10);
    if ((flags & kPasswordNotRequired) == 0) {
      if (const Hresult hr = user.value->setPassword(kPassword); hr < 0) {
        return failure("password of " + e.dn, hr);
      }
    }
    (void)user.value->put("userAccountControl", e.userAccountControl);
    if (const Hresult hr = user.value->setInfo(); hr < 0) {
      return failure("userAccountControl of " + e.dn, hr);
    }
  }
  for (const Entry& e : entries) {
    if (e.members.empty()) continue;
    auto group = directory.bind(pathFromDn(e.dn));
    if (!group.ok()) return failure("bind " + e.dn, group.hr);
    for (const std::string& member : e.members) {
      if (const Hresult hr = group.value->addMember(pathFromDn(member)); hr < 0) {
        return failure("member " + member + " of " + e.dn, hr);
      }
    }
  }
  return "";
}

bool sharedIdentificationsInNameOrder(Directory& directory, const std::string& baseDn) {
  // The filter the user lists are read with: the order depends on it.
  std::map<std::string, std::vector<std::string>> holders;  // attr=value -> DNs as returned
  const Hresult hr =
      directory.search("OU=ZEB," + baseDn, "(&(objectCategory=person)(objectClass=user)(cn=*))",
                       {"employeeNumber", "employeeID"}, SearchScope::kSubtree, 500,
                       [&holders](const SearchRow& row) {
                         for (const char* attr : {"employeeNumber", "employeeID"}) {
                           if (const std::string v = row.first(attr); !v.empty()) {
                             holders[std::string(attr) + "=" + v].push_back(toLower(row.dn));
                           }
                         }
                         return true;
                       });
  if (hr < 0) return true;  // nothing to order; the comparison shows the rest
  for (const auto& [value, dns] : holders) {
    if (!std::is_sorted(dns.begin(), dns.end())) return false;
  }
  return true;
}

std::vector<std::string> scenarioFolders(const std::vector<std::string>& roots) {
  std::vector<std::string> folders;
  for (const std::string& root : roots) {
    for (const auto& e : std::filesystem::directory_iterator(root)) {
      if (e.is_directory()) folders.push_back(e.path().string());
    }
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

std::string scenarioTestName(const std::string& folder) {
  const std::filesystem::path p(folder);
  std::string n = p.parent_path().parent_path().filename().string() + "_" + p.filename().string();
  for (char& c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return n;
}

}  // namespace tv::test

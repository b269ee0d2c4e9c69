#include "platform/memory/memory_directory.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "directory/escape.h"
#include "directory/hresult.h"
#include "directory/sid.h"
#include "platform/memory/filter.h"
#include "platform/memory/ldif.h"
#include "platform/memory/schema.h"
#include "text/text.h"

namespace tv {

using memdir::Access;
using memdir::AttrDef;
using memdir::AttrId;
using memdir::Filter;
using memdir::Schema;

namespace {

// userAccountControl flags the rules below use.
constexpr std::int64_t kUfAccountDisable = 0x2;
constexpr std::int64_t kUfPasswdNotReqd = 0x20;
constexpr std::int64_t kUfNormalAccount = 0x200;
constexpr std::int64_t kNewUserFlags = kUfNormalAccount | kUfPasswdNotReqd | kUfAccountDisable;
constexpr std::int64_t kGlobalSecurityGroup = -2147483646;  // 0x80000002
constexpr int kUnpagedLimit = 1000;
constexpr char kKeySeparator = '\x01';
constexpr const char* kProvider = "LDAP Provider";

// Matching rules of the bit-wise comparisons.
constexpr std::string_view kRuleBitAnd = "1.2.840.113556.1.4.803";
constexpr std::string_view kRuleBitOr = "1.2.840.113556.1.4.804";
constexpr std::string_view kRuleInChain = "1.2.840.113556.1.4.1941";

// Names of attributes, classes and keywords are ASCII: compare them without
// the full Unicode case mapping, which would dominate a large snapshot load.
bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::optional<std::int64_t> parseInt(std::string_view s) {
  std::int64_t v = 0;
  if (s.empty()) return std::nullopt;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

bool isAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) > 127) return false;
  }
  return true;
}

// Lower-casing for comparisons; the ASCII path keeps a 100,000-user search fast.
std::string foldCase(std::string_view s) {
  if (!isAscii(s)) return toLower(s);
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool equalFolded(std::string_view value, std::string_view folded) {
  if (value.size() == folded.size() && isAscii(value)) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      char c = value[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != folded[i]) return false;
    }
    return true;
  }
  return foldCase(value) == folded;
}

// The sort and lookup key of a DN: the RDNs from the top down, lower-cased,
// joined by \x01 (below every character a key can hold otherwise), so a
// subtree is one contiguous range of the map and parents sort before their
// children. Byte order of UTF-8 is code point order.
std::optional<std::string> treeKeyOf(std::string_view dn) {
  auto rdns = parseDn(dn);
  if (!rdns) return std::nullopt;
  std::string key;
  for (auto it = rdns->rbegin(); it != rdns->rend(); ++it) {
    if (!key.empty()) key += kKeySeparator;
    key += foldCase(it->type);
    key += '=';
    key += escapeDnValue(foldCase(it->value));
  }
  return key;
}

std::size_t depthOf(std::string_view key) {
  return static_cast<std::size_t>(std::count(key.begin(), key.end(), kKeySeparator));
}

bool keyWithin(std::string_view key, std::string_view base) {
  if (base.empty()) return true;
  if (key.size() < base.size() || key.compare(0, base.size(), base) != 0) return false;
  return key.size() == base.size() || key[base.size()] == kKeySeparator;
}

std::string parentKeyOf(std::string_view key) {
  const auto pos = key.rfind(kKeySeparator);
  return pos == std::string_view::npos ? std::string() : std::string(key.substr(0, pos));
}

std::string generalizedTime(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.0Z", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// 100-ns intervals since 1601, as pwdLastSet holds them.
std::int64_t fileTime(std::time_t t) {
  return (static_cast<std::int64_t>(t) + 11644473600LL) * 10000000LL;
}

std::uint64_t splitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t hashText(std::string_view s) {
  std::uint64_t h = 1469598103934665603ull;
  for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

// The classes the product creates, with their objectClass chain and category.
struct ClassDef {
  std::string_view name;
  std::vector<std::string> chain;
  std::string_view category;
  bool container;
};

const std::vector<ClassDef>& classDefs() {
  static const std::vector<ClassDef> kDefs = {
      {"user", {"top", "person", "organizationalPerson", "user"}, "Person", false},
      {"inetOrgPerson",
       {"top", "person", "organizationalPerson", "user", "inetOrgPerson"},
       "Person",
       false},
      {"contact", {"top", "person", "organizationalPerson", "contact"}, "Person", false},
      {"computer",
       {"top", "person", "organizationalPerson", "user", "computer"},
       "Computer",
       false},
      {"group", {"top", "group"}, "Group", false},
      {"organizationalUnit", {"top", "organizationalUnit"}, "Organizational-Unit", true},
      {"container", {"top", "container"}, "Container", true},
      {"domainDNS", {"top", "domain", "domainDNS"}, "Domain-DNS", true},
  };
  return kDefs;
}

const ClassDef* classDef(std::string_view name) {
  for (const ClassDef& c : classDefs()) {
    if (sameName(c.name, name)) return &c;
  }
  return nullptr;
}

// Windows' password complexity: at least 7 characters from three of the four
// kinds, and not containing the account name.
bool passwordAcceptable(std::string_view password, std::string_view account) {
  const std::u32string cps = toCodePoints(password);
  if (cps.size() < 7) return false;
  int upper = 0, lower = 0, digit = 0, other = 0;
  for (char32_t c : cps) {
    if (c >= '0' && c <= '9') {
      digit = 1;
    } else if (lowerChar(c) != c) {
      upper = 1;
    } else if (upperChar(c) != c) {
      lower = 1;
    } else {
      other = 1;
    }
  }
  if (upper + lower + digit + other < 3) return false;
  if (account.size() >= 3 && foldCase(password).find(foldCase(account)) != std::string::npos) {
    return false;
  }
  return true;
}

struct Failure {
  Hresult hr = kSOk;
  std::string text;
};

Failure ldapFailure(int ldapResult, std::string text) {
  return Failure{hresultFromLdap(ldapResult), std::move(text)};
}

}  // namespace

// ---------------------------------------------------------------------------
// The store: the tree, its indexes and the schema, behind one mutex.

struct MemoryDirectory::Store {
  struct Attr {
    AttrId id;
    std::vector<std::string> values;
  };
  struct Entry {
    std::string dn;
    std::vector<Attr> attrs;
  };

  explicit Store(const MemoryDirectoryOptions& o)
      : schema(o.mailAttributes), clock(o.clock), dnsHostOption(o.dnsHostName) {
    idObjectClass = *schema.find("objectClass");
    idName = *schema.find("name");
    idDn = *schema.find("distinguishedName");
    idMemberOf = *schema.find("memberOf");
    idMember = *schema.find("member");
    idSam = *schema.find("sAMAccountName");
    idUpn = *schema.find("userPrincipalName");
    idUac = *schema.find("userAccountControl");
    idCategory = *schema.find("objectCategory");
    idGuid = *schema.find("objectGUID");
    idSid = *schema.find("objectSid");
    idCreated = *schema.find("whenCreated");
    idChanged = *schema.find("whenChanged");
    idUsnCreated = *schema.find("uSNCreated");
    idUsnChanged = *schema.find("uSNChanged");
    idPwdLastSet = *schema.find("pwdLastSet");
    idGroupType = *schema.find("groupType");
    idDescription = *schema.find("description");
    idInstanceType = *schema.find("instanceType");
    idSamType = *schema.find("sAMAccountType");
  }

  mutable std::mutex mu;
  Schema schema;
  Clock* clock;
  std::string dnsHostOption;
  std::string baseDn;
  std::string baseKey;
  std::string dnsDomain;
  std::string domainSid;  // binary
  std::uint64_t usn = 1;
  std::uint32_t nextRid = 1104;
  std::map<std::string, Entry> entries;
  std::unordered_map<std::string, std::vector<std::string>> memberOf;  // member key -> group keys
  std::unordered_map<std::string, std::string> samIndex;  // folded sAMAccountName -> key
  std::unordered_map<std::string, std::string> upnIndex;  // folded userPrincipalName -> key
  std::unordered_map<std::thread::id, DirectoryError> errors;

  AttrId idObjectClass, idName, idDn, idMemberOf, idMember, idSam, idUpn, idUac, idCategory, idGuid,
      idSid, idCreated, idChanged, idUsnCreated, idUsnChanged, idPwdLastSet, idGroupType,
      idDescription, idInstanceType, idSamType;

  // -- errors ---------------------------------------------------------------

  Hresult fail(const Failure& f) {
    errors[std::this_thread::get_id()] = DirectoryError{
        static_cast<long>(static_cast<std::uint32_t>(f.hr) & 0xFFFF), f.text, kProvider};
    return f.hr;
  }
  Hresult fail(Hresult hr, std::string text) { return fail(Failure{hr, std::move(text)}); }
  Hresult succeed(Hresult hr = kSOk) {
    errors.erase(std::this_thread::get_id());
    return hr;
  }

  // -- time and identity ----------------------------------------------------

  std::time_t now() const {
    return clock ? clock->now()
                 : std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  }

  std::string newGuid() {
    std::string g(16, '\0');
    const std::uint64_t a = splitMix(hashText(baseKey) ^ usn);
    const std::uint64_t b = splitMix(a ^ 0xA5A5A5A5u);
    for (int i = 0; i < 8; ++i) {
      g[i] = static_cast<char>((a >> (8 * i)) & 0xFF);
      g[8 + i] = static_cast<char>((b >> (8 * i)) & 0xFF);
    }
    return g;
  }

  std::string newSid() {
    std::string sid = domainSid;
    if (sid.size() < 8) return sid;
    sid[1] = static_cast<char>(sid[1] + 1);
    const std::uint32_t rid = nextRid++;
    for (int s = 0; s < 32; s += 8) sid += static_cast<char>((rid >> s) & 0xFF);
    return sid;
  }

  // -- entries and attributes ---------------------------------------------

  Entry* find(const std::string& key) {
    auto it = entries.find(key);
    return it == entries.end() ? nullptr : &it->second;
  }

  static Attr* attr(Entry& e, AttrId id) {
    for (Attr& a : e.attrs) {
      if (a.id == id) return &a;
    }
    return nullptr;
  }
  static const Attr* attr(const Entry& e, AttrId id) {
    for (const Attr& a : e.attrs) {
      if (a.id == id) return &a;
    }
    return nullptr;
  }
  static std::string first(const Entry& e, AttrId id) {
    const Attr* a = attr(e, id);
    return a && !a->values.empty() ? a->values.front() : std::string();
  }
  static void set(Entry& e, AttrId id, std::vector<std::string> values) {
    for (auto it = e.attrs.begin(); it != e.attrs.end(); ++it) {
      if (it->id == id) {
        if (values.empty()) {
          e.attrs.erase(it);
        } else {
          it->values = std::move(values);
        }
        return;
      }
    }
    if (!values.empty()) e.attrs.push_back(Attr{id, std::move(values)});
  }

  bool hasClass(const Entry& e, std::string_view cls) const {
    const Attr* a = attr(e, idObjectClass);
    if (!a) return false;
    for (const std::string& v : a->values) {
      if (sameName(v, cls)) return true;
    }
    return false;
  }

  std::string mostSpecificClass(const Entry& e) const {
    const Attr* a = attr(e, idObjectClass);
    return a && !a->values.empty() ? a->values.back() : std::string();
  }

  bool isGroup(const Entry& e) const { return hasClass(e, "group"); }
  bool isSamAccount(const Entry& e) const { return hasClass(e, "user") || isGroup(e); }

  // The values of an attribute as a reader sees them, computed ones included.
  std::vector<std::string> valuesOf(const std::string& key, const Entry& e, AttrId id) const {
    if (id == idName) {
      auto rdns = parseDn(e.dn);
      return rdns && !rdns->empty() ? std::vector<std::string>{rdns->front().value}
                                    : std::vector<std::string>{};
    }
    if (id == idDn) return {e.dn};
    if (id == idMemberOf) {
      std::vector<std::string> out;
      auto it = memberOf.find(key);
      if (it != memberOf.end()) {
        for (const std::string& g : it->second) {
          auto ge = entries.find(g);
          if (ge != entries.end()) out.push_back(ge->second.dn);
        }
      }
      return out;
    }
    const Attr* a = attr(e, id);
    return a ? a->values : std::vector<std::string>{};
  }

  // Every attribute of an entry, in stored order, then the computed ones.
  std::vector<DirAttribute> allAttributes(const std::string& key, const Entry& e) const {
    std::vector<DirAttribute> out;
    for (const Attr& a : e.attrs) {
      const AttrDef& d = schema.def(a.id);
      out.push_back(DirAttribute{d.name, d.type, a.values});
    }
    for (AttrId id : {idName, idDn, idMemberOf}) {
      auto v = valuesOf(key, e, id);
      if (!v.empty()) {
        const AttrDef& d = schema.def(id);
        out.push_back(DirAttribute{d.name, d.type, std::move(v)});
      }
    }
    return out;
  }

  void touch(Entry& e) {
    ++usn;
    set(e, idChanged, {generalizedTime(now())});
    set(e, idUsnChanged, {std::to_string(usn)});
  }

  // -- membership index -----------------------------------------------------

  void indexMembers(const std::string& groupKey, const Entry& group) {
    const Attr* m = attr(group, idMember);
    if (!m) return;
    for (const std::string& v : m->values) {
      if (auto k = treeKeyOf(v)) memberOf[*k].push_back(groupKey);
    }
  }

  void unindexMembers(const std::string& groupKey, const Entry& group) {
    const Attr* m = attr(group, idMember);
    if (!m) return;
    for (const std::string& v : m->values) {
      auto k = treeKeyOf(v);
      if (!k) continue;
      auto it = memberOf.find(*k);
      if (it == memberOf.end()) continue;
      auto& groups = it->second;
      groups.erase(std::remove(groups.begin(), groups.end(), groupKey), groups.end());
      if (groups.empty()) memberOf.erase(it);
    }
  }

  void indexAccount(const std::string& key, const Entry& e) {
    const std::string sam = first(e, idSam);
    if (!sam.empty()) samIndex[foldCase(sam)] = key;
    const std::string upn = first(e, idUpn);
    if (!upn.empty()) upnIndex[foldCase(upn)] = key;
  }

  void unindexAccount(const Entry& e) {
    const std::string sam = first(e, idSam);
    if (!sam.empty()) samIndex.erase(foldCase(sam));
    const std::string upn = first(e, idUpn);
    if (!upn.empty()) upnIndex.erase(foldCase(upn));
  }

  // -- validation of values ---------------------------------------------------

  // Checks one attribute's new values against the schema and the domain's
  // rules; key is the entry's own key (excluded from uniqueness checks).
  std::optional<Failure> checkValues(const std::string& key, const Entry& e, AttrId id,
                                     const std::vector<std::string>& values, bool adding,
                                     bool passwordSet) {
    const AttrDef& d = schema.def(id);
    if (d.access != Access::kNormal && !(adding && id == idObjectClass)) {
      return ldapFailure(ldaprc::kUnwillingToPerform,
                         "0000209F: the attribute " + d.name + " is kept by the directory");
    }
    if (!adding && id == idObjectClass) {
      return ldapFailure(ldaprc::kObjectClassModsProhibited,
                         "000020D9: the class of an object cannot change");
    }
    auto rdns = parseDn(e.dn);
    if (!adding && rdns && !rdns->empty() && sameName(rdns->front().type, d.name)) {
      return ldapFailure(ldaprc::kNotAllowedOnRdn,
                         "000020B1: " + d.name + " is the naming attribute; use a rename");
    }
    if (values.size() > 1) {
      if (id == idDescription && isSamAccount(e)) {
        return ldapFailure(ldaprc::kAttributeOrValueExists,
                           "00002083: description is single-valued on accounts");
      }
      if (d.single) {
        return ldapFailure(ldaprc::kConstraintViolation,
                           "00002082: " + d.name + " takes a single value");
      }
    }
    for (const std::string& v : values) {
      if (d.maxChars && charCount(v) > d.maxChars) {
        return ldapFailure(ldaprc::kConstraintViolation,
                           "00002082: the value of " + d.name + " is too long");
      }
      if ((d.type == AdsType::kInteger || d.type == AdsType::kLargeInteger) && !parseInt(v)) {
        return ldapFailure(ldaprc::kInvalidSyntax, "0000207B: " + d.name + " takes a whole number");
      }
      if (d.type == AdsType::kBoolean && v != "TRUE" && v != "FALSE") {
        return ldapFailure(ldaprc::kInvalidSyntax, "0000207B: " + d.name + " takes TRUE or FALSE");
      }
      if (d.type == AdsType::kDnString && id != idMember && !parseDn(v)) {
        return ldapFailure(ldaprc::kInvalidDnSyntax, "0000208F: " + d.name + " takes a DN");
      }
    }
    if (id == idSam && !values.empty()) {
      auto it = samIndex.find(foldCase(values.front()));
      if (it != samIndex.end() && it->second != key) {
        return ldapFailure(ldaprc::kAlreadyExists, "00002071: Account name (sAMAccountName) '" +
                                                       values.front() + "' already in use!");
      }
    }
    if (id == idUpn && !values.empty()) {
      auto it = upnIndex.find(foldCase(values.front()));
      if (it != upnIndex.end() && it->second != key) {
        return ldapFailure(ldaprc::kConstraintViolation,
                           "0000202F: userPrincipalName '" + values.front() + "' already in use");
      }
    }
    if (id == idUac && !values.empty()) {
      const std::int64_t uac = *parseInt(values.front());
      if (!(uac & kUfAccountDisable) && !(uac & kUfPasswdNotReqd) && !passwordSet &&
          hasClass(e, "user")) {
        return ldapFailure(ldaprc::kUnwillingToPerform,
                           "0000052D: the account needs a password before it is enabled");
      }
    }
    if (id == idMember) {
      for (const std::string& v : values) {
        auto k = treeKeyOf(v);
        if (!k || !find(*k)) {
          return ldapFailure(ldaprc::kNoSuchObject, "00000525: no object " + v);
        }
      }
    }
    return std::nullopt;
  }

  bool passwordSetOn(const Entry& e) const {
    auto v = parseInt(first(e, idPwdLastSet));
    return v && *v != 0;
  }

  // -- moves ------------------------------------------------------------------

  // Moves the entry at oldKey (and its subtree) to newDn, keeping the
  // membership links and the naming attribute in step.
  void moveSubtree(const std::string& oldKey, const std::string& newDn, const std::string& newKey) {
    std::vector<std::pair<std::string, Entry>> moved;
    auto it = entries.lower_bound(oldKey);
    while (it != entries.end() && keyWithin(it->first, oldKey)) {
      moved.emplace_back(it->first, std::move(it->second));
      it = entries.erase(it);
    }
    auto rdnsNew = parseDn(newDn);
    const std::size_t oldDepth = depthOf(oldKey);
    std::unordered_map<std::string, std::string> rekey;
    for (auto& [key, e] : moved) {
      unindexAccount(e);
      std::string suffix = key.substr(oldKey.size());
      const std::string k = newKey + suffix;
      // The entry's DN: its own RDNs below the moved one, then the new DN.
      auto rdns = parseDn(e.dn);
      const std::size_t below = depthOf(key) - oldDepth;
      std::vector<Rdn> out(rdns->begin(), rdns->begin() + static_cast<long>(below));
      out.insert(out.end(), rdnsNew->begin(), rdnsNew->end());
      e.dn = formatDn(out);
      if (below == 0) {
        if (auto id = schema.find(out.front().type)) set(e, *id, {out.front().value});
        touch(e);
      }
      rekey[key] = k;
    }
    std::unordered_map<std::string, Entry*> movedByKey;
    for (auto& [key, e] : moved) movedByKey[key] = &e;
    auto groupEntry = [&](const std::string& groupKey) -> Entry* {
      auto m = movedByKey.find(groupKey);
      return m != movedByKey.end() ? m->second : find(groupKey);
    };
    // Groups that list a moved entry follow it to its new DN.
    std::unordered_map<std::string, std::vector<std::string>> remapped;
    for (auto& [key, e] : moved) {
      auto mo = memberOf.find(key);
      if (mo == memberOf.end()) continue;
      std::vector<std::string> groups = std::move(mo->second);
      memberOf.erase(mo);
      for (std::string& g : groups) {
        if (Entry* ge = groupEntry(g)) {
          if (Attr* m = attr(*ge, idMember)) {
            for (std::string& v : m->values) {
              if (treeKeyOf(v) == key) v = e.dn;
            }
          }
        }
        auto r = rekey.find(g);
        if (r != rekey.end()) g = r->second;
      }
      remapped[rekey[key]] = std::move(groups);
    }
    // Members of a moved group that stayed where they were: their index
    // entries name the group by its new key.
    for (auto& [key, e] : moved) {
      if (!isGroup(e)) continue;
      const Attr* m = attr(e, idMember);
      if (!m) continue;
      for (const std::string& v : m->values) {
        auto k = treeKeyOf(v);
        if (!k) continue;
        auto idx = memberOf.find(*k);
        if (idx == memberOf.end()) continue;
        for (std::string& g : idx->second) {
          if (g == key) g = rekey[key];
        }
      }
    }
    for (auto& [k, groups] : remapped) memberOf[k] = std::move(groups);
    for (auto& [key, e] : moved) {
      const std::string& k = rekey[key];
      indexAccount(k, e);
      entries.emplace(k, std::move(e));
    }
  }

  void removeEntry(const std::string& key) {
    Entry* e = find(key);
    if (!e) return;
    unindexAccount(*e);
    if (isGroup(*e)) unindexMembers(key, *e);
    // Links to the entry go with it, as a domain controller drops them.
    auto mo = memberOf.find(key);
    if (mo != memberOf.end()) {
      for (const std::string& g : mo->second) {
        Entry* ge = find(g);
        if (!ge) continue;
        if (Attr* m = attr(*ge, idMember)) {
          m->values.erase(std::remove_if(m->values.begin(), m->values.end(),
                                         [&](const std::string& v) { return treeKeyOf(v) == key; }),
                          m->values.end());
          if (m->values.empty()) set(*ge, idMember, {});
        }
      }
      memberOf.erase(mo);
    }
    entries.erase(key);
  }

  // -- domain setup -----------------------------------------------------------

  void setDomain(const std::string& dn, const std::string& key) {
    baseDn = dn;
    baseKey = key;
    std::string c = canonicalNameOf(dn);
    dnsDomain = c.empty() ? c : c.substr(0, c.find('/'));
  }

  Entry makeEntry(const std::string& dn, const ClassDef& cls) {
    Entry e;
    e.dn = dn;
    set(e, idObjectClass, cls.chain);
    const std::time_t t = now();
    ++usn;
    set(e, idGuid, {newGuid()});
    set(e, idCreated, {generalizedTime(t)});
    set(e, idChanged, {generalizedTime(t)});
    set(e, idUsnCreated, {std::to_string(usn)});
    set(e, idUsnChanged, {std::to_string(usn)});
    set(e, idInstanceType, {"4"});
    set(e, idCategory,
        {"CN=" + std::string(cls.category) + ",CN=Schema,CN=Configuration," + baseDn});
    auto rdns = parseDn(dn);
    if (rdns && !rdns->empty()) {
      if (auto id = schema.find(rdns->front().type)) set(e, *id, {rdns->front().value});
    }
    return e;
  }

  void freshDomain(const std::string& dn) {
    auto key = treeKeyOf(dn);
    if (!key || key->empty()) return freshDomain("DC=skole,DC=test");
    entries.clear();
    memberOf.clear();
    samIndex.clear();
    upnIndex.clear();
    const std::string normalized = formatDn(*parseDn(dn));
    setDomain(normalized, *key);
    const std::uint64_t h = hashText(*key);
    domainSid = *sidFromString("S-1-5-21-" + std::to_string(1000000000u + (h % 1000000000u)) + "-" +
                               std::to_string(1000000000u + ((h >> 21) % 1000000000u)) + "-" +
                               std::to_string(1000000000u + ((h >> 42) % 1000000000u)));
    Entry root = makeEntry(normalized, *classDef("domainDNS"));
    set(root, idSid, {domainSid});
    entries.emplace(*key, std::move(root));
    for (const char* cn : {"Users", "Computers"}) {
      const std::string cdn = std::string("CN=") + cn + "," + normalized;
      entries.emplace(*treeKeyOf(cdn), makeEntry(cdn, *classDef("container")));
    }
  }

  std::string dnsHostName() const {
    return dnsHostOption.empty() ? "dc1." + dnsDomain : dnsHostOption;
  }
};

// ---------------------------------------------------------------------------
// Objects.

namespace {

using Store = MemoryDirectory::Store;

struct Change {
  bool clear = false;
  std::string attr;
  std::vector<std::string> values;
};

class MemObject : public DirObject {
 public:
  MemObject(std::shared_ptr<Store> store, std::string dn, std::string cls, bool isNew)
      : store_(std::move(store)), dn_(std::move(dn)), cls_(std::move(cls)), isNew_(isNew) {}

  // RootDSE: a read-only object of the domain's names.
  static std::unique_ptr<MemObject> rootDse(std::shared_ptr<Store> store) {
    auto o = std::make_unique<MemObject>(store, "", "", false);
    o->rootDse_ = true;
    o->loaded_ = true;
    const std::string config = "CN=Configuration," + store->baseDn;
    o->cache_ = {
        {"defaultNamingContext", AdsType::kDnString, {store->baseDn}},
        {"rootDomainNamingContext", AdsType::kDnString, {store->baseDn}},
        {"configurationNamingContext", AdsType::kDnString, {config}},
        {"schemaNamingContext", AdsType::kDnString, {"CN=Schema," + config}},
        {"dnsHostName", AdsType::kCaseIgnoreString, {store->dnsHostName()}},
    };
    return o;
  }

  void seed(const SearchRow& row) {
    for (const DirAttribute& a : row.attributes) {
      if (!sameName(a.name, "ADsPath")) cache_.push_back(a);
    }
  }

  std::string adsPath() const override { return rootDse_ ? "LDAP://RootDSE" : pathFromDn(dn_); }
  std::string dn() const override { return dn_; }
  std::string name() const override { return leafRdn(dn_); }
  std::string parent() const override { return pathFromDn(parentDn(dn_)); }
  std::string className() const override { return cls_; }

  DirResult<std::string> get(std::string_view attr) override {
    auto all = getAll(attr);
    if (!all.ok()) return {all.hr, {}};
    return {kSOk, all.value.front()};
  }

  DirResult<std::vector<std::string>> getAll(std::string_view attr) override {
    if (const Change* c = queued(attr)) {
      if (c->clear || c->values.empty()) return notFound(attr);
      return {kSOk, c->values};
    }
    if (const DirAttribute* a = cached(attr)) return {kSOk, a->values};
    if (!loaded_ && !isNew_) {
      const Hresult hr = load();
      if (hr < 0) return {hr, {}};
      if (const DirAttribute* a = cached(attr)) return {kSOk, a->values};
    }
    return notFound(attr);
  }

  DirResult<std::int64_t> getInt(std::string_view attr) override {
    auto v = get(attr);
    if (!v.ok()) return {v.hr, 0};
    if (v.value == "TRUE") return {kSOk, 1};
    if (v.value == "FALSE") return {kSOk, 0};
    auto n = parseInt(v.value);
    if (!n)
      return {
          fail(kEAdsCantConvertDatatype, "the value of " + std::string(attr) + " is not a number"),
          0};
    return {kSOk, *n};
  }

  AdsType typeOf(std::string_view attr) override {
    if (sameName(attr, "ADsPath")) return AdsType::kCaseIgnoreString;
    if (const DirAttribute* a = cached(attr)) return a->type;
    std::lock_guard lock(store_->mu);
    auto id = store_->schema.find(attr);
    return id ? store_->schema.def(*id).type : AdsType::kInvalid;
  }

  Hresult getInfo() override {
    if (rootDse_) return kSOk;
    loaded_ = false;
    cache_.clear();
    return kSOk;
  }

  Hresult put(std::string_view attr, std::string_view value) override {
    return enqueue(Change{false, std::string(attr), {std::string(value)}});
  }
  Hresult putAll(std::string_view attr, std::vector<std::string> values) override {
    return enqueue(Change{values.empty(), std::string(attr), std::move(values)});
  }
  Hresult clear(std::string_view attr) override {
    return enqueue(Change{true, std::string(attr), {}});
  }

  Hresult setInfo() override;

  DirResult<std::unique_ptr<DirObject>> create(std::string_view cls, std::string_view rdn) override;
  DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view sourcePath,
                                                 std::string_view newRdn) override;
  Hresult deleteChild(std::string_view cls, std::string_view rdn) override;
  DirResult<std::vector<std::string>> children(std::string_view cls) override;

  DirResult<bool> accountDisabled() override {
    auto v = getInt("userAccountControl");
    if (!v.ok()) return {v.hr, false};
    return {kSOk, (v.value & kUfAccountDisable) != 0};
  }

  Hresult setAccountDisabled(bool disabled) override {
    auto v = getInt("userAccountControl");
    if (!v.ok()) return v.hr;
    const std::int64_t uac =
        disabled ? (v.value | kUfAccountDisable) : (v.value & ~kUfAccountDisable);
    return put("userAccountControl", std::to_string(uac));
  }

  Hresult setPassword(std::string_view password) override;

  Hresult unlock() override { return put("lockoutTime", "0"); }

  Hresult addMember(std::string_view memberPath) override { return changeMember(memberPath, true); }
  Hresult removeMember(std::string_view memberPath) override {
    return changeMember(memberPath, false);
  }
  DirResult<std::vector<std::string>> members() override;

 private:
  Hresult fail(Hresult hr, std::string text) {
    std::lock_guard lock(store_->mu);
    return store_->fail(hr, std::move(text));
  }

  DirResult<std::vector<std::string>> notFound(std::string_view attr) {
    return {fail(kEAdsPropertyNotFound,
                 "the property " + std::string(attr) + " is not in the property cache"),
            {}};
  }

  const Change* queued(std::string_view attr) const {
    for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
      if (sameName(it->attr, attr)) return &*it;
    }
    return nullptr;
  }

  const DirAttribute* cached(std::string_view attr) const {
    for (const DirAttribute& a : cache_) {
      if (sameName(a.name, attr)) return &a;
    }
    return nullptr;
  }

  Hresult enqueue(Change c) {
    if (rootDse_) return fail(kEAdsPropertyNotSupported, "RootDSE is read-only");
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Change& q) { return sameName(q.attr, c.attr); }),
                 queue_.end());
    queue_.push_back(std::move(c));
    return kSOk;
  }

  Hresult load() {
    std::lock_guard lock(store_->mu);
    auto key = treeKeyOf(dn_);
    Store::Entry* e = key ? store_->find(*key) : nullptr;
    if (!e)
      return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_);
    cache_ = store_->allAttributes(*key, *e);
    loaded_ = true;
    store_->succeed();
    return kSOk;
  }

  Hresult changeMember(std::string_view memberPath, bool add);
  Hresult commitNew();

  std::shared_ptr<Store> store_;
  std::string dn_;
  std::string cls_;
  bool isNew_ = false;
  bool rootDse_ = false;
  bool loaded_ = false;
  std::vector<DirAttribute> cache_;
  std::vector<Change> queue_;
};

Hresult MemObject::setInfo() {
  if (rootDse_) return kSOk;
  if (isNew_) return commitNew();
  std::vector<Change> queue = std::move(queue_);
  queue_.clear();
  loaded_ = false;
  cache_.clear();
  if (queue.empty()) return kSOk;
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn_);
  Store::Entry* e = key ? store_->find(*key) : nullptr;
  if (!e) return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_);
  // Attributes the schema lacks are dropped with their error and the rest
  // goes on; any other failure stops the whole modify.
  std::optional<Failure> unknown;
  std::vector<std::pair<AttrId, const Change*>> changes;
  const bool passwordSet = store_->passwordSetOn(*e);
  for (const Change& c : queue) {
    auto id = store_->schema.find(c.attr);
    if (!id) {
      if (!unknown) {
        unknown = ldapFailure(ldaprc::kNoSuchAttribute,
                              "00002077: no attribute " + c.attr + " in the schema");
      }
      continue;
    }
    const std::vector<std::string> none;
    if (auto f =
            store_->checkValues(*key, *e, *id, c.clear ? none : c.values, false, passwordSet)) {
      return store_->fail(*f);
    }
    changes.emplace_back(*id, &c);
  }
  if (!changes.empty()) {
    store_->unindexAccount(*e);
    const bool group = store_->isGroup(*e);
    if (group) store_->unindexMembers(*key, *e);
    for (auto& [id, c] : changes) {
      std::vector<std::string> values = c->clear ? std::vector<std::string>{} : c->values;
      if (id == store_->idMember) {
        // Members are kept as the DNs of the entries they name.
        for (std::string& v : values) v = store_->find(*treeKeyOf(v))->dn;
      }
      Store::set(*e, id, std::move(values));
    }
    if (group) store_->indexMembers(*key, *e);
    store_->indexAccount(*key, *e);
    store_->touch(*e);
  }
  if (unknown) return store_->fail(*unknown);
  return store_->succeed();
}

Hresult MemObject::commitNew() {
  std::vector<Change> queue = std::move(queue_);
  queue_.clear();
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn_);
  auto rdns = parseDn(dn_);
  if (!key || !rdns || rdns->empty()) {
    return store_->fail(hresultFromLdap(ldaprc::kInvalidDnSyntax), "0000208F: bad DN " + dn_);
  }
  if (!store_->find(parentKeyOf(*key))) {
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no parent for " + dn_);
  }
  if (store_->find(*key)) {
    return store_->fail(hresultFromLdap(ldaprc::kAlreadyExists), "00002071: " + dn_ + " exists");
  }
  const ClassDef* cls = classDef(cls_);
  if (!cls) {
    return store_->fail(hresultFromLdap(ldaprc::kObjectClassViolation),
                        "0000207D: no class " + cls_ + " in the schema");
  }
  Store::Entry e = store_->makeEntry(dn_, *cls);
  const bool user = store_->hasClass(e, "user");
  const bool group = store_->isGroup(e);
  if (user) {
    Store::set(e, store_->idUac, {std::to_string(kNewUserFlags)});
    Store::set(e, store_->idSamType, {"805306368"});
    Store::set(e, *store_->schema.find("primaryGroupID"), {"513"});
    Store::set(e, store_->idPwdLastSet, {"0"});
    Store::set(e, *store_->schema.find("accountExpires"), {"9223372036854775807"});
  }
  if (group) {
    Store::set(e, store_->idGroupType, {std::to_string(kGlobalSecurityGroup)});
    Store::set(e, store_->idSamType, {"268435456"});
  }
  for (const Change& c : queue) {
    auto id = store_->schema.find(c.attr);
    if (!id) {
      return store_->fail(ldapFailure(ldaprc::kNoSuchAttribute,
                                      "00002077: no attribute " + c.attr + " in the schema"));
    }
    if (*id == store_->idObjectClass || c.clear) continue;
    if (auto f = store_->checkValues(*key, e, *id, c.values, true, false)) return store_->fail(*f);
    std::vector<std::string> values = c.values;
    if (*id == store_->idMember) {
      for (std::string& v : values) v = store_->find(*treeKeyOf(v))->dn;
    }
    Store::set(e, *id, std::move(values));
  }
  if (user) {
    // A domain controller names an account without sAMAccountName itself.
    if (Store::first(e, store_->idSam).empty()) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "$%06X", static_cast<unsigned>(store_->usn & 0xFFFFFF));
      Store::set(e, store_->idSam, {buf});
    }
  }
  if (user || group) Store::set(e, store_->idSid, {store_->newSid()});
  store_->indexAccount(*key, e);
  if (group) store_->indexMembers(*key, e);
  store_->entries.emplace(*key, std::move(e));
  isNew_ = false;
  loaded_ = false;
  cache_.clear();
  return store_->succeed();
}

DirResult<std::unique_ptr<DirObject>> MemObject::create(std::string_view cls,
                                                        std::string_view rdn) {
  std::lock_guard lock(store_->mu);
  auto parsed = parseDn(rdn);
  if (!parsed || parsed->size() != 1) {
    return {store_->fail(kEAdsBadPathname, "not a relative name: " + std::string(rdn)), nullptr};
  }
  auto key = treeKeyOf(dn_);
  if (rootDse_ || !key || !store_->find(*key)) {
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_),
            nullptr};
  }
  std::string childDn = formatRdn(parsed->front()) + "," + dn_;
  auto child = std::make_unique<MemObject>(store_, std::move(childDn), std::string(cls), true);
  child->queue_.push_back(Change{false, "objectClass", {std::string(cls)}});
  store_->succeed();
  return {kSOk, std::move(child)};
}

DirResult<std::unique_ptr<DirObject>> MemObject::moveHere(std::string_view sourcePath,
                                                          std::string_view newRdn) {
  std::lock_guard lock(store_->mu);
  const std::string sourceDn = dnFromPath(sourcePath);
  auto sourceKey = treeKeyOf(sourceDn);
  auto destKey = treeKeyOf(dn_);
  Store::Entry* source = sourceKey && !sourceKey->empty() ? store_->find(*sourceKey) : nullptr;
  if (!source) {
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + sourceDn),
            nullptr};
  }
  if (rootDse_ || !destKey || !store_->find(*destKey)) {
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_),
            nullptr};
  }
  auto sourceRdns = parseDn(source->dn);
  Rdn leaf = sourceRdns->front();
  if (!newRdn.empty()) {
    auto parsed = parseDn(newRdn);
    if (!parsed || parsed->size() != 1) {
      return {store_->fail(kEAdsBadPathname, "not a relative name: " + std::string(newRdn)),
              nullptr};
    }
    leaf = parsed->front();
  }
  if (keyWithin(*destKey, *sourceKey)) {
    return {store_->fail(hresultFromLdap(ldaprc::kUnwillingToPerform),
                         "00002089: an object cannot move below itself"),
            nullptr};
  }
  const std::string newDn = formatRdn(leaf) + "," + dn_;
  const std::string newKey = *treeKeyOf(newDn);
  if (newKey != *sourceKey && store_->find(newKey)) {
    return {store_->fail(hresultFromLdap(ldaprc::kAlreadyExists), "00002071: " + newDn + " exists"),
            nullptr};
  }
  const std::string cls = store_->mostSpecificClass(*source);
  store_->moveSubtree(*sourceKey, newDn, newKey);
  store_->succeed();
  return {kSOk, std::make_unique<MemObject>(store_, store_->find(newKey)->dn, cls, false)};
}

Hresult MemObject::deleteChild(std::string_view /*cls*/, std::string_view rdn) {
  std::lock_guard lock(store_->mu);
  auto parsed = parseDn(rdn);
  if (!parsed || parsed->size() != 1) {
    return store_->fail(kEAdsBadPathname, "not a relative name: " + std::string(rdn));
  }
  const std::string childDn = formatRdn(parsed->front()) + "," + dn_;
  auto key = treeKeyOf(childDn);
  if (!key || !store_->find(*key)) {
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + childDn);
  }
  auto next = store_->entries.upper_bound(*key);
  if (next != store_->entries.end() && keyWithin(next->first, *key)) {
    return store_->fail(hresultFromLdap(ldaprc::kNotAllowedOnNonLeaf),
                        "00002015: " + childDn + " has children");
  }
  store_->removeEntry(*key);
  return store_->succeed();
}

DirResult<std::vector<std::string>> MemObject::children(std::string_view cls) {
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn_);
  if (rootDse_ || !key || !store_->find(*key)) {
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_), {}};
  }
  std::vector<std::string> out;
  const std::size_t depth = depthOf(*key) + 1;
  for (auto it = store_->entries.upper_bound(*key);
       it != store_->entries.end() && keyWithin(it->first, *key); ++it) {
    if (depthOf(it->first) != depth) continue;
    if (!cls.empty() && !store_->hasClass(it->second, cls)) continue;
    out.push_back(pathFromDn(it->second.dn));
  }
  store_->succeed();
  return {kSOk, std::move(out)};
}

Hresult MemObject::setPassword(std::string_view password) {
  std::lock_guard lock(store_->mu);
  if (isNew_ || rootDse_) {
    return store_->fail(kEAdsObjectUnbound, "the object is not saved in the directory yet");
  }
  auto key = treeKeyOf(dn_);
  Store::Entry* e = key ? store_->find(*key) : nullptr;
  if (!e) return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_);
  if (!store_->hasClass(*e, "user")) {
    return store_->fail(hresultFromLdap(ldaprc::kUnwillingToPerform),
                        "0000001F: only accounts have passwords");
  }
  if (!passwordAcceptable(password, Store::first(*e, store_->idSam))) {
    return store_->fail(hresultFromLdap(ldaprc::kConstraintViolation),
                        "0000052D: Constraint violation - check_password_restrictions: the "
                        "password does not meet the complexity criteria!");
  }
  Store::set(*e, store_->idPwdLastSet, {std::to_string(fileTime(store_->now()))});
  store_->touch(*e);
  loaded_ = false;
  cache_.clear();
  return store_->succeed();
}

Hresult MemObject::changeMember(std::string_view memberPath, bool add) {
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn_);
  Store::Entry* g = key && !rootDse_ ? store_->find(*key) : nullptr;
  if (!g || isNew_) {
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_);
  }
  if (!store_->isGroup(*g)) {
    return store_->fail(hresultFromLdap(ldaprc::kUnwillingToPerform),
                        "0000001F: " + dn_ + " is not a group");
  }
  const std::string memberDn = dnFromPath(memberPath);
  auto memberKey = treeKeyOf(memberDn);
  Store::Entry* m = memberKey ? store_->find(*memberKey) : nullptr;
  if (!m) {
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "00000525: no object " + memberDn);
  }
  std::vector<std::string> values = store_->valuesOf(*key, *g, store_->idMember);
  auto pos = std::find_if(values.begin(), values.end(),
                          [&](const std::string& v) { return treeKeyOf(v) == memberKey; });
  if (add && pos != values.end()) {
    return store_->fail(hresultFromLdap(ldaprc::kAlreadyExists),
                        "00000562: " + memberDn + " is already a member");
  }
  if (!add && pos == values.end()) {
    return store_->fail(hresultFromLdap(ldaprc::kUnwillingToPerform),
                        "00000561: " + memberDn + " is not a member");
  }
  store_->unindexMembers(*key, *g);
  if (add) {
    values.push_back(m->dn);
  } else {
    values.erase(pos);
  }
  Store::set(*g, store_->idMember, std::move(values));
  store_->indexMembers(*key, *g);
  store_->touch(*g);
  loaded_ = false;
  cache_.clear();
  return store_->succeed();
}

DirResult<std::vector<std::string>> MemObject::members() {
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn_);
  Store::Entry* g = key && !rootDse_ ? store_->find(*key) : nullptr;
  if (!g)
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn_), {}};
  std::vector<std::string> out;
  for (const std::string& v : store_->valuesOf(*key, *g, store_->idMember))
    out.push_back(pathFromDn(v));
  store_->succeed();
  return {kSOk, std::move(out)};
}

// ---------------------------------------------------------------------------
// Filters.

enum class Tri { kFalse, kTrue, kUndefined };

Tri notOf(Tri t) {
  return t == Tri::kTrue ? Tri::kFalse : t == Tri::kFalse ? Tri::kTrue : Tri::kUndefined;
}

// A filter with its attributes resolved against the schema and its values
// folded once, so a search over many entries does no repeated work.
struct Compiled {
  Filter::Kind kind;
  std::vector<Compiled> children;
  std::optional<AttrId> id;
  AdsType type = AdsType::kCaseIgnoreString;
  std::string value;  // folded for strings, normalized for DNs, bytes for binaries
  std::optional<std::int64_t> number;
  std::string initial, final;
  std::vector<std::string> any;
  std::string rule;
  bool objectClassPresence = false;
};

Compiled compile(const Filter& f, const Store& s) {
  Compiled c;
  c.kind = f.kind;
  for (const Filter& child : f.children) c.children.push_back(compile(child, s));
  if (f.kind == Filter::Kind::kAnd || f.kind == Filter::Kind::kOr || f.kind == Filter::Kind::kNot) {
    return c;
  }
  c.id = s.schema.find(f.attr);
  if (!c.id) return c;
  c.type = s.schema.def(*c.id).type;
  c.rule = f.rule;
  c.objectClassPresence = *c.id == s.idObjectClass && f.kind == Filter::Kind::kPresent;
  switch (c.type) {
    case AdsType::kOctetString:
    case AdsType::kNtSecurityDescriptor:
      if (*c.id == s.idSid && startsWith(f.value, "S-")) {
        c.value = sidFromString(f.value).value_or(f.value);
      } else {
        c.value = f.value;
      }
      break;
    case AdsType::kDnString:
      if (*c.id == s.idCategory && f.value.find('=') == std::string::npos) {
        c.value = foldCase(f.value);  // the short form: objectCategory=person
      } else {
        c.value = treeKeyOf(f.value).value_or("\x02" + foldCase(f.value));
      }
      break;
    case AdsType::kInteger:
    case AdsType::kLargeInteger:
    case AdsType::kBoolean:
      c.number = f.value == "TRUE"    ? std::optional<std::int64_t>(1)
                 : f.value == "FALSE" ? std::optional<std::int64_t>(0)
                                      : parseInt(f.value);
      c.value = foldCase(f.value);
      break;
    default:
      c.value = foldCase(f.value);
  }
  c.initial = foldCase(f.initial);
  c.final = foldCase(f.final);
  for (const std::string& a : f.any) c.any.push_back(foldCase(a));
  return c;
}

// The value of a DN's first RDN when it has no escapes or quotes
// ("CN=Person,CN=Schema,…" -> "Person"), found without parsing the whole DN:
// every user of a large listing is tested against its objectCategory.
std::optional<std::string_view> plainLeafValue(std::string_view dn) {
  const auto eq = dn.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const auto comma = dn.find(',', eq + 1);
  std::string_view v = dn.substr(eq + 1, comma == std::string_view::npos ? comma : comma - eq - 1);
  if (v.find_first_of("\\\"+;") != std::string_view::npos) return std::nullopt;
  return trim(v);
}

std::optional<std::int64_t> numberOf(const std::string& v) {
  if (v == "TRUE") return 1;
  if (v == "FALSE") return 0;
  return parseInt(v);
}

bool substringMatch(const Compiled& c, const std::string& value) {
  const std::string v = foldCase(value);
  std::size_t pos = 0;
  if (!c.initial.empty()) {
    if (v.compare(0, c.initial.size(), c.initial) != 0) return false;
    pos = c.initial.size();
  }
  for (const std::string& a : c.any) {
    const auto found = v.find(a, pos);
    if (found == std::string::npos) return false;
    pos = found + a.size();
  }
  if (!c.final.empty()) {
    if (v.size() < pos + c.final.size()) return false;
    if (v.compare(v.size() - c.final.size(), c.final.size(), c.final) != 0) return false;
  }
  return true;
}

bool valueMatches(const Compiled& c, const Store& s, const std::string& v) {
  switch (c.kind) {
    case Filter::Kind::kEqual:
    case Filter::Kind::kApprox:
    case Filter::Kind::kExtensible:
      switch (c.type) {
        case AdsType::kOctetString:
        case AdsType::kNtSecurityDescriptor:
          return v == c.value;
        case AdsType::kDnString:
          if (*c.id == s.idCategory && c.value.find('=') == std::string::npos) {
            if (auto leaf = plainLeafValue(v)) return equalFolded(*leaf, c.value);
            auto rdns = parseDn(v);
            return rdns && !rdns->empty() && equalFolded(rdns->front().value, c.value);
          }
          return treeKeyOf(v) == c.value;
        case AdsType::kInteger:
        case AdsType::kLargeInteger:
        case AdsType::kBoolean: {
          auto n = numberOf(v);
          return n && c.number && *n == *c.number;
        }
        default:
          return equalFolded(v, c.value);
      }
    case Filter::Kind::kSubstring:
      return substringMatch(c, v);
    case Filter::Kind::kGreaterOrEqual:
    case Filter::Kind::kLessOrEqual: {
      int cmp;
      if (c.number && (c.type == AdsType::kInteger || c.type == AdsType::kLargeInteger)) {
        auto n = numberOf(v);
        if (!n) return false;
        cmp = *n < *c.number ? -1 : *n > *c.number ? 1 : 0;
      } else {
        const std::string f = foldCase(v);
        cmp = f.compare(c.value);
      }
      return c.kind == Filter::Kind::kGreaterOrEqual ? cmp >= 0 : cmp <= 0;
    }
    default:
      return false;
  }
}

Tri evaluate(const Compiled& c, const Store& s, const std::string& key, const Store::Entry& e) {
  switch (c.kind) {
    case Filter::Kind::kAnd: {
      Tri r = Tri::kTrue;
      for (const Compiled& child : c.children) {
        const Tri t = evaluate(child, s, key, e);
        if (t == Tri::kFalse) return Tri::kFalse;
        if (t == Tri::kUndefined) r = Tri::kUndefined;
      }
      return r;
    }
    case Filter::Kind::kOr: {
      Tri r = Tri::kFalse;
      for (const Compiled& child : c.children) {
        const Tri t = evaluate(child, s, key, e);
        if (t == Tri::kTrue) return Tri::kTrue;
        if (t == Tri::kUndefined) r = Tri::kUndefined;
      }
      return r;
    }
    case Filter::Kind::kNot:
      return notOf(evaluate(c.children.front(), s, key, e));
    default:
      break;
  }
  if (!c.id) return Tri::kUndefined;  // an attribute the schema lacks matches nothing
  if (c.objectClassPresence) return Tri::kTrue;
  if (*c.id == s.idMemberOf && c.kind == Filter::Kind::kEqual) {
    auto it = s.memberOf.find(key);
    if (it == s.memberOf.end()) return Tri::kFalse;
    for (const std::string& g : it->second) {
      if (g == c.value) return Tri::kTrue;
    }
    return Tri::kFalse;
  }
  const Store::Attr* stored = nullptr;
  std::vector<std::string> computed;
  const std::vector<std::string>* values;
  if (*c.id == s.idName || *c.id == s.idDn || *c.id == s.idMemberOf) {
    computed = s.valuesOf(key, e, *c.id);
    values = &computed;
  } else {
    stored = Store::attr(e, *c.id);
    if (!stored) return Tri::kFalse;
    values = &stored->values;
  }
  if (c.kind == Filter::Kind::kPresent) return values->empty() ? Tri::kFalse : Tri::kTrue;
  if (c.kind == Filter::Kind::kExtensible && !c.rule.empty()) {
    if (c.rule == kRuleBitAnd || c.rule == kRuleBitOr) {
      if (!c.number) return Tri::kUndefined;
      const auto mask = static_cast<std::uint32_t>(*c.number);
      for (const std::string& v : *values) {
        auto n = parseInt(v);
        if (!n) continue;
        const auto bits = static_cast<std::uint32_t>(*n);
        if (c.rule == kRuleBitAnd ? (bits & mask) == mask : (bits & mask) != 0) return Tri::kTrue;
      }
      return Tri::kFalse;
    }
    // In-chain matching is answered as plain equality: the product's groups
    // do not nest.
    if (c.rule != kRuleInChain) return Tri::kUndefined;
  }
  for (const std::string& v : *values) {
    if (valueMatches(c, s, v)) return Tri::kTrue;
  }
  return Tri::kFalse;
}

}  // namespace

// ---------------------------------------------------------------------------
// The directory.

MemoryDirectory::MemoryDirectory(MemoryDirectoryOptions options)
    : store_(std::make_shared<Store>(options)) {
  store_->freshDomain(options.baseDn);
}

MemoryDirectory::~MemoryDirectory() = default;

std::string MemoryDirectory::baseDn() const {
  std::lock_guard lock(store_->mu);
  return store_->baseDn;
}

std::size_t MemoryDirectory::entryCount() const {
  std::lock_guard lock(store_->mu);
  return store_->entries.size();
}

DirResult<std::unique_ptr<DirObject>> MemoryDirectory::bind(std::string_view path) {
  if (sameName(path, "LDAP://RootDSE")) {
    std::lock_guard lock(store_->mu);
    store_->succeed();
    return {kSOk, MemObject::rootDse(store_)};
  }
  std::lock_guard lock(store_->mu);
  if (path.size() < 7 || !sameName(path.substr(0, 7), "LDAP://")) {
    return {store_->fail(kEAdsBadPathname, "not an LDAP path: " + std::string(path)), nullptr};
  }
  const std::string dn = dnFromPath(path);
  auto key = treeKeyOf(dn);
  if (!key || key->empty()) {
    return {store_->fail(kEAdsBadPathname, "not an LDAP path: " + std::string(path)), nullptr};
  }
  Store::Entry* e = store_->find(*key);
  if (!e) {
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + dn),
            nullptr};
  }
  store_->succeed();
  return {kSOk, std::make_unique<MemObject>(store_, e->dn, store_->mostSpecificClass(*e), false)};
}

DirResult<std::unique_ptr<DirObject>> MemoryDirectory::bindRow(const SearchRow& row) {
  auto bound = bind(pathFromDn(row.dn));
  if (!bound.ok()) return bound;
  static_cast<MemObject*>(bound.value.get())->seed(row);
  return bound;
}

Hresult MemoryDirectory::search(std::string_view base, std::string_view filter,
                                const std::vector<std::string>& attrs, SearchScope scope,
                                int pageSize, const RowCallback& onRow) {
  const std::string baseDn = dnFromPath(base);
  auto parsed = memdir::parseFilter(filter);
  std::vector<std::string> keys;
  std::optional<Compiled> compiled;
  {
    std::lock_guard lock(store_->mu);
    if (!parsed.filter) {
      return store_->fail(kEAdsInvalidFilter, "bad search filter: " + parsed.error);
    }
    auto baseKey = treeKeyOf(baseDn);
    if (!baseKey || !store_->find(*baseKey)) {
      return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "0000208D: no object " + baseDn);
    }
    compiled = compile(*parsed.filter, *store_);
    const std::size_t baseDepth = depthOf(*baseKey);
    for (auto it = store_->entries.lower_bound(*baseKey);
         it != store_->entries.end() && keyWithin(it->first, *baseKey); ++it) {
      const std::size_t depth = depthOf(it->first);
      if (scope == SearchScope::kBase && depth != baseDepth) break;
      if (scope == SearchScope::kOneLevel && depth != baseDepth + 1) continue;
      if (evaluate(*compiled, *store_, it->first, it->second) == Tri::kTrue) {
        keys.push_back(it->first);
      }
    }
  }
  // Column names as the schema spells them; names it lacks give no column.
  struct Column {
    bool adsPath;
    AttrId id;
  };
  std::vector<Column> columns;
  {
    std::lock_guard lock(store_->mu);
    for (const std::string& a : attrs) {
      if (sameName(a, "ADsPath")) {
        columns.push_back({true, 0});
      } else if (auto id = store_->schema.find(a)) {
        columns.push_back({false, *id});
      }
    }
  }
  const bool paged = pageSize > 0;
  const std::size_t page = paged ? static_cast<std::size_t>(pageSize) : keys.size();
  std::size_t delivered = 0;
  for (std::size_t start = 0; start < keys.size(); start += page) {
    std::vector<SearchRow> rows;
    {
      std::lock_guard lock(store_->mu);
      for (std::size_t k = start; k < std::min(keys.size(), start + page); ++k) {
        const Store::Entry* e = store_->find(keys[k]);
        if (!e) continue;  // removed by a caller between pages
        SearchRow row;
        row.dn = e->dn;
        if (attrs.empty()) {
          row.attributes = store_->allAttributes(keys[k], *e);
        } else {
          for (const Column& c : columns) {
            if (c.adsPath) {
              row.attributes.push_back(
                  {"ADsPath", AdsType::kCaseIgnoreString, {pathFromDn(e->dn)}});
              continue;
            }
            auto values = store_->valuesOf(keys[k], *e, c.id);
            if (values.empty()) continue;
            const AttrDef& d = store_->schema.def(c.id);
            row.attributes.push_back({d.name, d.type, std::move(values)});
          }
        }
        rows.push_back(std::move(row));
      }
    }
    for (const SearchRow& row : rows) {
      if (!paged && delivered == static_cast<std::size_t>(kUnpagedLimit)) {
        std::lock_guard lock(store_->mu);
        return store_->fail(hresultFromLdap(ldaprc::kSizeLimitExceeded),
                            "00002024: size limit exceeded; ask for pages");
      }
      if (!onRow(row)) {
        std::lock_guard lock(store_->mu);
        return store_->succeed();
      }
      ++delivered;
    }
  }
  std::lock_guard lock(store_->mu);
  return store_->succeed();
}

DirResult<std::string> MemoryDirectory::canonicalName(std::string_view dn) {
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn);
  Store::Entry* e = key && !key->empty() ? store_->find(*key) : nullptr;
  if (!e)
    return {store_->fail(kNameNotFound, "name translation: no object " + std::string(dn)), ""};
  store_->succeed();
  return {kSOk, canonicalNameOf(e->dn)};
}

std::optional<DirectoryError> MemoryDirectory::lastError() const {
  std::lock_guard lock(store_->mu);
  auto it = store_->errors.find(std::this_thread::get_id());
  if (it == store_->errors.end()) return std::nullopt;
  return it->second;
}

// ---------------------------------------------------------------------------
// Snapshots.

std::string MemoryDirectory::loadLdif(std::string_view text) {
  memdir::LdifParse parsed = memdir::parseLdif(text);
  if (!parsed.error.empty()) return parsed.error;
  std::lock_guard lock(store_->mu);
  if (parsed.records.empty()) {
    store_->freshDomain(store_->baseDn);
    return "";
  }
  // Build into a second store so a bad snapshot leaves the tree as it was.
  MemoryDirectoryOptions o;
  o.clock = store_->clock;
  o.dnsHostName = store_->dnsHostOption;
  auto next = std::make_shared<Store>(o);
  next->schema = store_->schema;
  auto& s = *next;
  std::string rootKey;
  std::map<std::string, int> lines;
  for (memdir::LdifRecord& r : parsed.records) {
    auto rdns = parseDn(r.dn);
    auto key = treeKeyOf(r.dn);
    const std::string at = "line " + std::to_string(r.line) + ": ";
    if (!rdns || !key || key->empty()) return at + "\"" + r.dn + "\" is not a DN";
    if (s.entries.count(*key)) return at + "\"" + r.dn + "\" is there twice";
    Store::Entry e;
    e.dn = formatDn(*rdns);
    for (auto& [name, value] : r.values) {
      const AttrId id = s.schema.learn(name);
      if (s.schema.def(id).access == Access::kComputed) continue;
      Store::Attr* a = Store::attr(e, id);
      if (!a) {
        e.attrs.push_back(Store::Attr{id, {}});
        a = &e.attrs.back();
      }
      a->values.push_back(std::move(value));
    }
    if (!Store::attr(e, s.idObjectClass)) return at + "\"" + r.dn + "\" has no objectClass";
    lines[*key] = r.line;
    s.entries.emplace(*key, std::move(e));
  }
  // The one entry whose parent is not in the snapshot is the domain.
  for (const auto& [key, e] : s.entries) {
    const std::string parent = parentKeyOf(key);
    if (!parent.empty() && s.entries.count(parent)) continue;
    if (!rootKey.empty()) {
      return "line " + std::to_string(lines[key]) + ": \"" + e.dn +
             "\" lies outside the snapshot's domain";
    }
    rootKey = key;
  }
  s.setDomain(s.entries.at(rootKey).dn, rootKey);
  std::uint64_t maxUsn = 0;
  std::uint32_t maxRid = 1103;
  for (auto& [key, e] : s.entries) {
    const std::string at = "line " + std::to_string(lines[key]) + ": ";
    if (auto u = parseInt(Store::first(e, s.idUsnChanged))) {
      maxUsn = std::max<std::uint64_t>(maxUsn, static_cast<std::uint64_t>(*u));
    }
    const std::string sid = Store::first(e, s.idSid);
    if (key == rootKey) {
      s.domainSid = sid;
    } else if (sid.size() >= 12) {
      const auto* b = reinterpret_cast<const unsigned char*>(sid.data() + sid.size() - 4);
      const std::uint32_t rid =
          b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
      if (rid < 0x7FFFFFFF) maxRid = std::max(maxRid, rid);
    }
    const std::string sam = Store::first(e, s.idSam);
    if (!sam.empty()) {
      if (s.samIndex.count(foldCase(sam))) {
        return at + "sAMAccountName '" + sam + "' is used twice";
      }
    }
    s.indexAccount(key, e);
    if (s.isGroup(e)) s.indexMembers(key, e);
  }
  s.usn = maxUsn + 1;
  s.nextRid = maxRid + 1;
  if (s.domainSid.size() < 8) {
    const std::uint64_t h = hashText(rootKey);
    s.domainSid = *sidFromString("S-1-5-21-" + std::to_string(1000000000u + (h % 1000000000u)) +
                                 "-" + std::to_string(1000000000u + ((h >> 21) % 1000000000u)) +
                                 "-" + std::to_string(1000000000u + ((h >> 42) % 1000000000u)));
  }
  for (auto& [key, e] : s.entries) {
    if (!Store::attr(e, s.idGuid)) {
      ++s.usn;
      Store::set(e, s.idGuid, {s.newGuid()});
    }
  }
  // Swap the contents in; objects already bound keep working on the new tree.
  store_->schema = std::move(s.schema);
  store_->baseDn = s.baseDn;
  store_->baseKey = s.baseKey;
  store_->dnsDomain = s.dnsDomain;
  store_->domainSid = s.domainSid;
  store_->usn = s.usn;
  store_->nextRid = s.nextRid;
  store_->entries = std::move(s.entries);
  store_->memberOf = std::move(s.memberOf);
  store_->samIndex = std::move(s.samIndex);
  store_->upnIndex = std::move(s.upnIndex);
  return "";
}

std::string MemoryDirectory::saveLdif() const {
  std::lock_guard lock(store_->mu);
  const Store& s = *store_;
  std::string out = "version: 1\n\n";
  for (const auto& [key, e] : s.entries) {
    memdir::LdifRecord r;
    r.dn = e.dn;
    std::vector<const Store::Attr*> attrs;
    for (const Store::Attr& a : e.attrs) {
      if (s.schema.def(a.id).access != Access::kComputed) attrs.push_back(&a);
    }
    std::sort(attrs.begin(), attrs.end(), [&](const Store::Attr* a, const Store::Attr* b) {
      if ((a->id == s.idObjectClass) != (b->id == s.idObjectClass)) return a->id == s.idObjectClass;
      return foldCase(s.schema.def(a->id).name) < foldCase(s.schema.def(b->id).name);
    });
    for (const Store::Attr* a : attrs) {
      for (const std::string& v : a->values) r.values.emplace_back(s.schema.def(a->id).name, v);
    }
    memdir::writeLdifRecord(out, r);
  }
  return out;
}

std::unique_ptr<MemoryDirectory> openMemoryDirectory(const std::string& path,
                                                     const MemoryDirectoryOptions& options,
                                                     std::string* error) {
  auto dir = std::make_unique<MemoryDirectory>(options);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return dir;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot be read";
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::string why = dir->loadLdif(text.str());
  if (!why.empty()) {
    if (error) *error = path + ": " + why;
    return nullptr;
  }
  return dir;
}

bool saveMemoryDirectory(const MemoryDirectory& directory, const std::string& path,
                         std::string* error) {
  const std::string text = directory.saveLdif();
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      if (error) *error = temp + ": cannot be written";
      std::error_code ec;
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    if (error) *error = path + ": " + ec.message();
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace tv

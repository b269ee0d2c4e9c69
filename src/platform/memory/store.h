// The memory directory's tree, its indexes and its schema behind one mutex,
// with the domain controller's rules that every change passes (unique
// account names, single values, the account flags, membership links that
// follow moves). Internal to the memory directory.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "directory/directory.h"
#include "directory/escape.h"
#include "directory/hresult.h"
#include "directory/sid.h"
#include "platform/memory/memory_directory.h"
#include "platform/memory/schema.h"
#include "text/text.h"

namespace tv::memdir {

// userAccountControl flags the rules below use.
inline constexpr std::int64_t kUfAccountDisable = 0x2;
inline constexpr std::int64_t kUfPasswdNotReqd = 0x20;
inline constexpr std::int64_t kUfNormalAccount = 0x200;
inline constexpr std::int64_t kNewUserFlags =
    kUfNormalAccount | kUfPasswdNotReqd | kUfAccountDisable;
inline constexpr std::int64_t kGlobalSecurityGroup = -2147483646;  // 0x80000002
inline constexpr int kUnpagedLimit = 1000;
inline constexpr char kKeySeparator = '\x01';
inline constexpr const char* kProvider = "LDAP Provider";

// Matching rules of the bit-wise comparisons.
inline constexpr std::string_view kRuleBitAnd = "1.2.840.113556.1.4.803";
inline constexpr std::string_view kRuleBitOr = "1.2.840.113556.1.4.804";
inline constexpr std::string_view kRuleInChain = "1.2.840.113556.1.4.1941";

inline std::optional<std::int64_t> parseInt(std::string_view s) {
  std::int64_t v = 0;
  if (s.empty()) return std::nullopt;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

// Lower-casing for comparisons; the ASCII path keeps a 100,000-user search fast.
inline std::string foldCase(std::string_view s) {
  if (!isAscii(s)) return toLower(s);
  return asciiToLower(s);
}

inline bool equalFolded(std::string_view value, std::string_view folded) {
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
inline std::optional<std::string> parsedTreeKeyOf(std::string_view dn) {
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

// The same key made in one pass, for a DN of plain ASCII without blanks,
// quotes or characters that need escaping (as the directory writes every
// DN of an account); nullopt for any other DN. A lookup by DN is the most
// frequent thing the directory does.
inline std::optional<std::string> plainTreeKeyOf(std::string_view dn) {
  if (dn.empty()) return std::nullopt;
  for (char c : dn) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' ||
        c == ';' || c == '#') {
      return std::nullopt;
    }
  }
  std::string key;
  key.reserve(dn.size());
  std::size_t end = dn.size();
  while (true) {
    const auto comma = dn.rfind(',', end - 1);
    const std::size_t start = comma == std::string_view::npos ? 0 : comma + 1;
    const std::string_view rdn = dn.substr(start, end - start);
    const auto eq = rdn.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;
    for (char c : rdn.substr(0, eq)) {
      const bool typeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.';
      if (!typeChar) return std::nullopt;
    }
    if (!key.empty()) key += kKeySeparator;
    for (char c : rdn) key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (comma == std::string_view::npos) return key;
    if (comma == 0) return std::nullopt;
    end = comma;
  }
}

inline std::optional<std::string> treeKeyOf(std::string_view dn) {
  if (auto key = plainTreeKeyOf(dn)) return key;
  return parsedTreeKeyOf(dn);
}

// The value of a DN's first RDN when it has no escapes or quotes
// ("CN=Person,CN=Schema,…" -> "Person"), found without parsing the whole DN:
// every user of a large listing is tested against its objectCategory.
inline std::optional<std::string_view> plainLeafValue(std::string_view dn) {
  const auto eq = dn.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const auto comma = dn.find(',', eq + 1);
  std::string_view v = dn.substr(eq + 1, comma == std::string_view::npos ? comma : comma - eq - 1);
  if (v.find_first_of("\\\"+;") != std::string_view::npos) return std::nullopt;
  return trim(v);
}

// The folded first RDN value of an objectCategory DN, which the short form
// of a filter ("objectCategory=person") compares with.
inline std::optional<std::string> categoryLeafOf(std::string_view dn) {
  if (auto leaf = plainLeafValue(dn)) return foldCase(*leaf);
  auto rdns = parseDn(dn);
  if (!rdns || rdns->empty()) return std::nullopt;
  return foldCase(rdns->front().value);
}

inline std::size_t depthOf(std::string_view key) {
  return static_cast<std::size_t>(std::count(key.begin(), key.end(), kKeySeparator));
}

inline bool keyWithin(std::string_view key, std::string_view base) {
  if (base.empty()) return true;
  if (key.size() < base.size() || key.compare(0, base.size(), base) != 0) return false;
  return key.size() == base.size() || key[base.size()] == kKeySeparator;
}

inline std::string parentKeyOf(std::string_view key) {
  const auto pos = key.rfind(kKeySeparator);
  return pos == std::string_view::npos ? std::string() : std::string(key.substr(0, pos));
}

inline std::string generalizedTime(std::time_t t) {
  const std::tm tm = utcCalendar(t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.0Z", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// 100-ns intervals since 1601, as pwdLastSet holds them.
inline std::int64_t fileTime(std::time_t t) {
  return (static_cast<std::int64_t>(t) + 11644473600LL) * 10000000LL;
}

inline std::uint64_t splitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

inline constexpr std::uint64_t kHashStart = 1469598103934665603ull;

inline std::uint64_t hashStep(std::uint64_t h, char c) {
  return (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
}

inline std::uint64_t hashText(std::string_view s) {
  std::uint64_t h = kHashStart;
  for (char c : s) h = hashStep(h, c);
  return h;
}

// The classes the product creates, with their objectClass chain and category.
struct ClassDef {
  std::string_view name;
  std::vector<std::string> chain;
  std::string_view category;
  bool container;
};

inline const std::vector<ClassDef>& classDefs() {
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

inline const ClassDef* classDef(std::string_view name) {
  for (const ClassDef& c : classDefs()) {
    if (asciiEqualsIgnoreCase(c.name, name)) return &c;
  }
  return nullptr;
}

// Windows' password complexity: at least 7 characters from three of the four
// kinds, and not containing the account name.
inline bool passwordAcceptable(std::string_view password, std::string_view account) {
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

inline Failure ldapFailure(int ldapResult, std::string text) {
  return Failure{hresultFromLdap(ldapResult), std::move(text)};
}

// How an indexed attribute's values are compared, as the filter evaluator
// compares them: folded text, DNs by their tree key, and objectCategory's
// short form by the folded value of the DN's first RDN.
enum class IndexForm : std::uint8_t { kText, kDn, kCategoryLeaf };

struct Store {
  struct Attr {
    AttrId id;
    std::vector<std::string> values;
  };
  // One value an entry is found by in the equality indexes, and the entry's
  // place in that value's list (so leaving the list costs the same at any
  // size).
  struct Posting {
    std::uint64_t key;
    std::uint32_t place;
  };
  struct Entry {
    std::string dn;
    std::vector<Attr> attrs;
    std::vector<Posting> postings;
    // A group's member values as hashed tree keys, in their order, so the
    // values naming one entry are found without parsing every DN of a large
    // group. Kept in step with the values, or cleared and made again when
    // its length differs from theirs.
    std::vector<std::uint64_t> memberKeys;
  };
  using Tree = std::map<std::string, Entry>;
  using Node = Tree::value_type;
  struct IndexSlot {
    AttrId id;
    IndexForm form;
    std::size_t table;  // mixed into the posting keys of its values
  };

  explicit Store(const MemoryDirectoryOptions& o)
      : schema(o.mailAttributes),
        clock(o.clock),
        dnsHostOption(o.dnsHostName),
        indexedNames(o.indexedAttributes) {
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
  Tree entries;
  // The entries by key, for the lookups that need no tree order: a tree
  // lookup's cost grows with the tree (and misses the cache on every level
  // of a large one).
  std::unordered_map<std::string_view, Node*> nodesByKey;
  std::unordered_map<std::string, std::vector<std::string>> memberOf;  // member key -> group keys
  std::unordered_map<std::string, std::string> samIndex;  // folded sAMAccountName -> key
  std::unordered_map<std::string, std::string> upnIndex;  // folded userPrincipalName -> key
  std::unordered_map<std::thread::id, DirectoryError> errors;
  // The equality indexes: for each indexed attribute and value (hashed
  // together), the entries that hold it. A search takes its candidates from
  // here and still evaluates its whole filter on each, so two values that
  // hash alike cost time, never a wrong answer. That lets the names
  // (sAMAccountName, cn, name), which are mostly one value per account,
  // share one table: an account is listed once under its name.
  std::vector<std::string> indexedNames;  // besides the built-in ones
  std::vector<IndexSlot> indexSlots;
  std::unordered_map<std::uint64_t, std::vector<Node*>> postingLists;
  // The last DN value indexed in each DN form, with its folded key.
  struct DnMemo {
    bool valid = false;
    std::string value;
    std::optional<std::string> folded;
  };
  DnMemo dnMemo[2];

  AttrId idObjectClass, idName, idDn, idMemberOf, idMember, idSam, idUpn, idUac, idCategory, idGuid,
      idSid, idCreated, idChanged, idUsnCreated, idUsnChanged, idPwdLastSet, idGroupType,
      idDescription, idInstanceType, idSamType;

  // -- errors ---------------------------------------------------------------

  Hresult fail(const Failure& f) {
    errors[std::this_thread::get_id()] =
        DirectoryError{extendedErrorCode(f.hr, f.text), f.text, kProvider};
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
    Node* node = findNode(key);
    return node ? &node->second : nullptr;
  }
  Node* findNode(std::string_view key) {
    auto it = nodesByKey.find(key);
    return it == nodesByKey.end() ? nullptr : it->second;
  }
  const Node* findNode(std::string_view key) const {
    auto it = nodesByKey.find(key);
    return it == nodesByKey.end() ? nullptr : it->second;
  }
  // Adding and deleting go through these, so the lookup by key stays in
  // step with the tree; a move and a whole new tree keep it themselves.
  Node& insertEntry(std::string key, Entry e) {
    Node& node = *entries.emplace(std::move(key), std::move(e)).first;
    nodesByKey[node.first] = &node;
    return node;
  }
  void eraseEntry(const std::string& key) {
    nodesByKey.erase(key);
    entries.erase(key);
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
      if (asciiEqualsIgnoreCase(v, cls)) return true;
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
  std::vector<std::string> valuesOf(const std::string& key, const Entry& e, AttrId id) const;

  // Every attribute of an entry, in stored order, then the computed ones.
  std::vector<DirAttribute> allAttributes(const std::string& key, const Entry& e) const;

  void touch(Entry& e) {
    ++usn;
    set(e, idChanged, {generalizedTime(now())});
    set(e, idUsnChanged, {std::to_string(usn)});
  }

  // -- membership index -----------------------------------------------------

  void indexMembers(const std::string& groupKey, const Entry& group);

  static std::uint64_t memberKeyOf(std::string_view memberDn) {
    auto key = treeKeyOf(memberDn);
    return key ? hashText(*key) : 0;
  }

  // The places of the group's member values that name the entry at key, in
  // order.
  std::vector<std::size_t> memberPlaces(Entry& group, const std::string& key);

  // Removes the member values at the places (in order) from the group.
  void eraseMembers(Entry& group, const std::vector<std::size_t>& places);

  void unindexMembers(const std::string& groupKey, const Entry& group);

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

  // -- equality indexes -----------------------------------------------------

  // Resolves the indexed attributes against the schema and indexes every
  // entry afresh: after the schema or the whole tree changed.
  void rebuildIndexes();

  // The table that indexes an attribute compared in the given form.
  [[nodiscard]] std::optional<std::size_t> tableOf(AttrId id, IndexForm form) const {
    for (const IndexSlot& slot : indexSlots) {
      if (slot.id == id && slot.form == form) return slot.table;
    }
    return std::nullopt;
  }
  [[nodiscard]] bool isIndexed(AttrId id) const {
    for (const IndexSlot& slot : indexSlots) {
      if (slot.id == id) return true;
    }
    return false;
  }

  static std::uint64_t postingKey(std::size_t table, std::string_view folded) {
    return splitMix(hashText(folded) + table * 0x9E3779B97F4A7C15ull);
  }
  // postingKey(table, foldCase(value)), without making the folded copy of
  // ASCII text.
  static std::uint64_t foldedPostingKey(std::size_t table, std::string_view value) {
    if (!isAscii(value)) return postingKey(table, foldCase(value));
    std::uint64_t h = kHashStart;
    for (char c : value) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      h = hashStep(h, c);
    }
    return splitMix(h + table * 0x9E3779B97F4A7C15ull);
  }

  // The entries holding the value of a posting key; null when none does.
  [[nodiscard]] const std::vector<Node*>* postingList(std::uint64_t key) const {
    auto it = postingLists.find(key);
    return it == postingLists.end() ? nullptr : &it->second;
  }

  // An entry joins the lists of the values it holds now, or leaves all of
  // its lists: around every change of an indexed value and of its DN.
  void indexEntry(Node& node);
  void unindexEntry(Node& node);

  // -- validation of values ---------------------------------------------------

  // Checks one attribute's new values against the schema and the domain's
  // rules; key is the entry's own key (excluded from uniqueness checks).
  std::optional<Failure> checkValues(const std::string& key, const Entry& e, AttrId id,
                                     const std::vector<std::string>& values, bool adding,
                                     bool passwordSet);

  bool passwordSetOn(const Entry& e) const {
    auto v = parseInt(first(e, idPwdLastSet));
    return v && *v != 0;
  }

  // -- moves ------------------------------------------------------------------

  // Moves the entry at oldKey (and its subtree) to newDn, keeping the
  // membership links and the naming attribute in step.
  void moveSubtree(const std::string& oldKey, const std::string& newDn, const std::string& newKey);

  void removeEntry(const std::string& key);

  // -- domain setup -----------------------------------------------------------

  void setDomain(const std::string& dn, const std::string& key) {
    baseDn = dn;
    baseKey = key;
    std::string c = canonicalNameOf(dn);
    dnsDomain = c.empty() ? c : c.substr(0, c.find('/'));
  }

  Entry makeEntry(const std::string& dn, const ClassDef& cls);

  void freshDomain(const std::string& dn);

  std::string dnsHostName() const {
    return dnsHostOption.empty() ? "dc1." + dnsDomain : dnsHostOption;
  }
};

}  // namespace tv::memdir

#include "platform/memory/store.h"

namespace tv::memdir {

std::optional<Failure> Store::checkValues(const std::string& key, const Entry& e, AttrId id,
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
  if (!adding && rdns && !rdns->empty() && asciiEqualsIgnoreCase(rdns->front().type, d.name)) {
    return ldapFailure(ldaprc::kNotAllowedOnRdn,
                       "000020B1: " + d.name + " is the naming attribute; use a rename");
  }
  if (values.size() > 1) {
    if (id == idDescription && isSamAccount(e)) {
      return ldapFailure(ldaprc::kAttributeOrValueExists,
                         "0000200D: description is single-valued on accounts");
    }
    if (d.single) {
      return ldapFailure(ldaprc::kConstraintViolation,
                         "00002082: " + d.name + " takes a single value");
    }
  }
  for (const std::string& v : values) {
    // A domain controller stores no empty value; clearing is a delete.
    if (v.empty()) {
      return ldapFailure(ldaprc::kInvalidSyntax,
                         "element " + d.name + " has an empty value on " + e.dn);
    }
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

void Store::moveSubtree(const std::string& oldKey, const std::string& newDn,
                        const std::string& newKey) {
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

void Store::removeEntry(const std::string& key) {
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

Store::Entry Store::makeEntry(const std::string& dn, const ClassDef& cls) {
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
  set(e, idCategory, {"CN=" + std::string(cls.category) + ",CN=Schema,CN=Configuration," + baseDn});
  auto rdns = parseDn(dn);
  if (rdns && !rdns->empty()) {
    if (auto id = schema.find(rdns->front().type)) set(e, *id, {rdns->front().value});
  }
  return e;
}

void Store::freshDomain(const std::string& dn) {
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

std::vector<DirAttribute> Store::allAttributes(const std::string& key, const Entry& e) const {
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

std::vector<std::string> Store::valuesOf(const std::string& key, const Entry& e, AttrId id) const {
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

void Store::indexMembers(const std::string& groupKey, const Entry& group) {
  const Attr* m = attr(group, idMember);
  if (!m) return;
  for (const std::string& v : m->values) {
    if (auto k = treeKeyOf(v)) memberOf[*k].push_back(groupKey);
  }
}

void Store::unindexMembers(const std::string& groupKey, const Entry& group) {
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

}  // namespace tv::memdir

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
  // The moved root changes its name; the entries below it keep every
  // indexed value. Nodes are taken out and put back whole, so the indexes'
  // references to them stay good.
  if (Node* root = findNode(oldKey)) unindexEntry(*root);
  std::vector<Tree::node_type> nodes;
  std::vector<std::pair<std::string, Entry*>> moved;
  auto it = entries.lower_bound(oldKey);
  while (it != entries.end() && keyWithin(it->first, oldKey)) {
    auto next = std::next(it);
    nodesByKey.erase(it->first);
    nodes.push_back(entries.extract(it));
    moved.emplace_back(nodes.back().key(), &nodes.back().mapped());
    it = next;
  }
  auto rdnsNew = parseDn(newDn);
  const std::size_t oldDepth = depthOf(oldKey);
  std::unordered_map<std::string, std::string> rekey;
  for (auto& [key, entry] : moved) {
    Entry& e = *entry;
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
  for (auto& [key, e] : moved) movedByKey[key] = e;
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
        for (std::size_t place : memberPlaces(*ge, key)) {
          attr(*ge, idMember)->values[place] = e->dn;
          ge->memberKeys[place] = memberKeyOf(e->dn);
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
    if (!isGroup(*e)) continue;
    const Attr* m = attr(*e, idMember);
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
  for (std::size_t n = 0; n < nodes.size(); ++n) {
    const std::string& k = rekey[moved[n].first];
    indexAccount(k, nodes[n].mapped());
    nodes[n].key() = k;
    Node& node = *entries.insert(std::move(nodes[n])).position;
    nodesByKey[node.first] = &node;
  }
  if (Node* root = findNode(newKey)) indexEntry(*root);
}

void Store::removeEntry(const std::string& key) {
  Node* node = findNode(key);
  if (!node) return;
  unindexEntry(*node);
  Entry* e = &node->second;
  unindexAccount(*e);
  if (isGroup(*e)) unindexMembers(key, *e);
  // Links to the entry go with it, as a domain controller drops them.
  auto mo = memberOf.find(key);
  if (mo != memberOf.end()) {
    for (const std::string& g : mo->second) {
      Entry* ge = find(g);
      if (!ge) continue;
      eraseMembers(*ge, memberPlaces(*ge, key));
    }
    memberOf.erase(mo);
  }
  eraseEntry(key);
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
  nodesByKey.clear();
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
  rebuildIndexes();
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
        if (const Node* ge = findNode(g)) out.push_back(ge->second.dn);
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

std::vector<std::size_t> Store::memberPlaces(Entry& group, const std::string& key) {
  std::vector<std::size_t> places;
  const Attr* m = attr(group, idMember);
  if (!m) return places;
  if (group.memberKeys.size() != m->values.size()) {
    group.memberKeys.clear();
    group.memberKeys.reserve(m->values.size());
    for (const std::string& v : m->values) group.memberKeys.push_back(memberKeyOf(v));
  }
  const std::uint64_t wanted = hashText(key);
  for (std::size_t k = 0; k < group.memberKeys.size(); ++k) {
    if (group.memberKeys[k] == wanted && treeKeyOf(m->values[k]) == key) places.push_back(k);
  }
  return places;
}

void Store::eraseMembers(Entry& group, const std::vector<std::size_t>& places) {
  Attr* m = attr(group, idMember);
  if (!m || places.empty()) return;
  const bool inStep = group.memberKeys.size() == m->values.size();
  for (auto it = places.rbegin(); it != places.rend(); ++it) {
    m->values.erase(m->values.begin() + static_cast<std::ptrdiff_t>(*it));
    if (inStep) group.memberKeys.erase(group.memberKeys.begin() + static_cast<std::ptrdiff_t>(*it));
  }
  if (!inStep) group.memberKeys.clear();
  if (m->values.empty()) {
    set(group, idMember, {});
    group.memberKeys.clear();
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

#include "platform/memory/object.h"

namespace tv::memdir {

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
  Store::Node* node = key ? store_->findNode(*key) : nullptr;
  if (!node) {
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_);
  }
  Store::Entry* e = &node->second;
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
                              "00000057: no attribute " + c.attr + " in the schema");
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
    const bool indexed = std::any_of(changes.begin(), changes.end(),
                                     [&](const auto& c) { return store_->isIndexed(c.first); });
    if (indexed) store_->unindexEntry(*node);
    store_->unindexAccount(*e);
    const bool group = store_->isGroup(*e);
    if (group) store_->unindexMembers(*key, *e);
    for (auto& [id, c] : changes) {
      std::vector<std::string> values = c->clear ? std::vector<std::string>{} : c->values;
      if (id == store_->idMember) {
        // Members are kept as the DNs of the entries they name.
        for (std::string& v : values) v = store_->find(*treeKeyOf(v))->dn;
        e->memberKeys.clear();
      }
      Store::set(*e, id, std::move(values));
    }
    if (group) store_->indexMembers(*key, *e);
    store_->indexAccount(*key, *e);
    if (indexed) store_->indexEntry(*node);
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
  if (rdns->front().value.empty()) {
    return store_->fail(hresultFromLdap(ldaprc::kInvalidDnSyntax),
                        "empty RDN value on " + dn_ + " not permitted");
  }
  if (!store_->find(parentKeyOf(*key))) {
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no parent for " + dn_);
  }
  if (store_->find(*key)) {
    return store_->fail(hresultFromLdap(ldaprc::kAlreadyExists),
                        "entry " + dn_ + " already exists");
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
  const std::optional<std::string> password = std::move(newPassword_);
  newPassword_.reset();
  if (user && password) {
    std::string sam;
    for (const Change& c : queue) {
      if (!c.clear && !c.values.empty() && foldCase(c.attr) == "samaccountname") sam = c.values[0];
    }
    if (!passwordAcceptable(*password, sam)) {
      return store_->fail(hresultFromLdap(ldaprc::kConstraintViolation),
                          "0000052D: Constraint violation - check_password_restrictions: the "
                          "password does not meet the complexity criteria!");
    }
    Store::set(e, store_->idPwdLastSet, {std::to_string(fileTime(store_->now()))});
  }
  for (const Change& c : queue) {
    auto id = store_->schema.find(c.attr);
    if (!id) {
      return store_->fail(ldapFailure(ldaprc::kNoSuchAttribute,
                                      "00000057: no attribute " + c.attr + " in the schema"));
    }
    if (*id == store_->idObjectClass || c.clear) continue;
    if (auto f = store_->checkValues(*key, e, *id, c.values, true, password.has_value())) {
      return store_->fail(*f);
    }
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
  store_->indexEntry(store_->insertEntry(*key, std::move(e)));
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
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_), nullptr};
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
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + sourceDn), nullptr};
  }
  if (rootDse_ || !destKey || !store_->find(*destKey)) {
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_), nullptr};
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
  if (leaf.value.empty()) {
    return {store_->fail(hresultFromLdap(ldaprc::kNamingViolation),
                         "empty RDN value on " + source->dn + " not permitted"),
            nullptr};
  }
  if (keyWithin(*destKey, *sourceKey)) {
    return {store_->fail(hresultFromLdap(ldaprc::kUnwillingToPerform),
                         "00002089: an object cannot move below itself"),
            nullptr};
  }
  const std::string newDn = formatRdn(leaf) + "," + dn_;
  const std::string newKey = *treeKeyOf(newDn);
  if (newKey != *sourceKey && store_->find(newKey)) {
    return {
        store_->fail(hresultFromLdap(ldaprc::kAlreadyExists), "entry " + newDn + " already exists"),
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
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + childDn);
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
    return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_), {}};
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
  if (isNew_ && cls_ == "user") {
    newPassword_ = std::string(password);
    return store_->succeed();
  }
  if (isNew_ || rootDse_) {
    return store_->fail(kEAdsObjectUnbound, "the object is not saved in the directory yet");
  }
  auto key = treeKeyOf(dn_);
  Store::Entry* e = key ? store_->find(*key) : nullptr;
  if (!e) return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_);
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
  return changeMembers({std::string(memberPath)}, add);
}

Hresult MemObject::changeMembers(const std::vector<std::string>& memberPaths, bool add) {
  if (memberPaths.empty()) return kSOk;
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn_);
  Store::Entry* g = key && !rootDse_ ? store_->find(*key) : nullptr;
  if (!g || isNew_) {
    return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_);
  }
  if (!store_->isGroup(*g)) {
    return store_->fail(hresultFromLdap(ldaprc::kUnwillingToPerform),
                        "0000001F: " + dn_ + " is not a group");
  }
  // Every value is checked before any changes, as one modify is all or
  // nothing; a value named twice is refused as AD refuses it.
  struct Member {
    Store::Entry* entry;
    std::string key;
  };
  std::vector<Member> members;
  members.reserve(memberPaths.size());
  for (const std::string& path : memberPaths) {
    const std::string memberDn = dnFromPath(path);
    auto memberKey = treeKeyOf(memberDn);
    Store::Entry* m = memberKey ? store_->find(*memberKey) : nullptr;
    if (!m) {
      return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject),
                          "00000525: no object " + memberDn);
    }
    // The memberOf index answers "is it a member" without walking the group,
    // and is kept up to date one member at a time, so filling a group of
    // thousands costs no more per member than filling a small one.
    auto found = store_->memberOf.find(*memberKey);
    const bool isMember =
        found != store_->memberOf.end() &&
        std::find(found->second.begin(), found->second.end(), *key) != found->second.end();
    const bool named = std::any_of(members.begin(), members.end(),
                                   [&](const Member& other) { return other.key == *memberKey; });
    if (add && (isMember || named)) {
      return store_->fail(hresultFromLdap(ldaprc::kAlreadyExists),
                          memberDn + " is already a member");
    }
    if (!add && (!isMember || named)) {
      return store_->fail(hresultFromLdap(ldaprc::kUnwillingToPerform),
                          memberDn + " is not a member");
    }
    members.push_back({m, *memberKey});
  }
  for (const Member& member : members) {
    auto& groupsOfMember = store_->memberOf[member.key];
    Store::Attr* values = Store::attr(*g, store_->idMember);
    if (add) {
      if (values == nullptr) {
        g->memberKeys.clear();
        Store::set(*g, store_->idMember, {member.entry->dn});
        values = Store::attr(*g, store_->idMember);
      } else {
        values->values.push_back(member.entry->dn);
      }
      if (g->memberKeys.size() + 1 == values->values.size()) {
        g->memberKeys.push_back(Store::memberKeyOf(member.entry->dn));
      } else {
        g->memberKeys.clear();
      }
      groupsOfMember.push_back(*key);
    } else {
      const auto places = store_->memberPlaces(*g, member.key);
      if (!places.empty()) store_->eraseMembers(*g, {places.front()});
      groupsOfMember.erase(std::remove(groupsOfMember.begin(), groupsOfMember.end(), *key),
                           groupsOfMember.end());
      if (groupsOfMember.empty()) store_->memberOf.erase(member.key);
    }
  }
  store_->touch(*g);
  loaded_ = false;
  cache_.clear();
  return store_->succeed();
}

DirResult<std::vector<std::string>> MemObject::members() {
  std::lock_guard lock(store_->mu);
  auto key = treeKeyOf(dn_);
  Store::Entry* g = key && !rootDse_ ? store_->find(*key) : nullptr;
  if (!g) return {store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_), {}};
  std::vector<std::string> out;
  for (const std::string& v : store_->valuesOf(*key, *g, store_->idMember))
    out.push_back(pathFromDn(v));
  store_->succeed();
  return {kSOk, std::move(out)};
}

}  // namespace tv::memdir

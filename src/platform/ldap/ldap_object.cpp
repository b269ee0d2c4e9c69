#include "platform/ldap/ldap_objects.h"

#include <charconv>

#include "directory/attribute_syntax.h"
#include "directory/escape.h"
#include "platform/ldap/ldap_values.h"
#include "text/text.h"

namespace tv::ldap {

void LdapObject::seed(const SearchRow& row) {
  for (const DirAttribute& a : row.attributes) {
    if (!equalsIgnoreCase(a.name, "ADsPath")) cache_.push_back(a);
  }
}

std::string LdapObject::adsPath() const {
  return rootDse_ ? kRootDsePath : pathFromDn(dn_);
}

std::string LdapObject::name() const {
  return rootDse_ ? "" : leafRdn(dn_);
}

std::string LdapObject::parent() const {
  return rootDse_ ? "" : pathFromDn(parentDn(dn_));
}

DirResult<std::string> LdapObject::get(std::string_view attr) {
  auto all = getAll(attr);
  if (!all.ok()) return {all.hr, {}};
  return {kSOk, all.value.front()};
}

Hresult LdapObject::getInfo() {
  loaded_ = false;
  cache_.clear();
  return kSOk;
}

DirResult<bool> LdapObject::accountDisabled() {
  auto uac = getInt("userAccountControl");
  if (!uac.ok()) return {uac.hr, false};
  return {kSOk, (uac.value & kAccountDisable) != 0};
}

Hresult LdapObject::setAccountDisabled(bool disabled) {
  auto uac = getInt("userAccountControl");
  if (!uac.ok()) return uac.hr;
  const std::int64_t v = disabled ? (uac.value | kAccountDisable) : (uac.value & ~kAccountDisable);
  return put("userAccountControl", std::to_string(v));
}

int LdapObject::modify(const std::vector<Change>& changes, ModOp op) {
  const int rc = dir_.client().modify(dn_, changes, op);
  loaded_ = false;
  cache_.clear();
  return rc;
}

std::string LdapObject::className() const {
  if (rootDse_) return "";
  if (new_) return newClass_;
  for (const DirAttribute& a : cache_) {
    if (equalsIgnoreCase(a.name, "objectClass") && !a.values.empty()) return a.values.back();
  }
  // Not in a seeded cache: read it (className is const, so on a copy of the handle).
  std::vector<DirAttribute> attrs;
  if (dir_.readEntry(dn_, {"objectClass"}, &attrs) == ldaprc::kSuccess) {
    for (const DirAttribute& a : attrs) {
      if (equalsIgnoreCase(a.name, "objectClass") && !a.values.empty()) return a.values.back();
    }
  }
  return "";
}

const std::vector<std::string>* LdapObject::lookup(std::string_view attr, Hresult* hr) {
  for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
    if (equalsIgnoreCase(it->attr, attr)) {
      if (it->values.empty()) {
        *hr = dir_.fail(kEAdsPropertyNotFound, "property not in the cache: " + std::string(attr));
        return nullptr;
      }
      return &it->values;
    }
  }
  const auto find = [&]() -> const std::vector<std::string>* {
    for (const DirAttribute& a : cache_) {
      if (equalsIgnoreCase(a.name, attr) && !a.values.empty()) return &a.values;
    }
    return nullptr;
  };
  if (const auto* v = find()) return v;
  if (!loaded_ && !new_) {
    std::vector<DirAttribute> attrs;
    const int rc = dir_.readEntry(dn_, {}, &attrs);
    if (rc != ldaprc::kSuccess) {
      *hr = hresultOfLdap(rc);
      return nullptr;
    }
    setLoaded(std::move(attrs));
    if (const auto* v = find()) return v;
  }
  *hr = dir_.fail(kEAdsPropertyNotFound, "property not in the cache: " + std::string(attr));
  return nullptr;
}

DirResult<std::vector<std::string>> LdapObject::getAll(std::string_view attr) {
  Hresult hr = kEFail;
  const auto* v = lookup(attr, &hr);
  if (!v) return {hr, {}};
  dir_.succeed();
  return {kSOk, *v};
}

DirResult<std::int64_t> LdapObject::getInt(std::string_view attr) {
  Hresult hr = kEFail;
  const auto* v = lookup(attr, &hr);
  if (!v) return {hr, 0};
  std::int64_t n = 0;
  const std::string& s = v->front();
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec != std::errc() || end != s.data() + s.size()) {
    return {dir_.fail(kEAdsCantConvertDatatype, "not a number: " + std::string(attr)), 0};
  }
  dir_.succeed();
  return {kSOk, n};
}

AdsType LdapObject::typeOf(std::string_view attr) {
  const auto t = dir_.client().schemaType(attr);
  if (t) {
    if (*t != AdsType::kInvalid) return *t;
    // Constructed attributes are not in the schema but are read all the same.
    for (const DirAttribute& a : cache_) {
      if (equalsIgnoreCase(a.name, attr)) return a.type;
    }
    return AdsType::kInvalid;
  }
  return adsTypeOfAttribute(attr);
}

Hresult LdapObject::putAll(std::string_view attr, std::vector<std::string> values) {
  if (rootDse_) return dir_.fail(kEAdsPropertyNotSupported, "the RootDSE cannot be changed");
  if (!isAttributeName(attr)) {
    return dir_.fail(kEInvalidArg, "not an attribute name: " + std::string(attr));
  }
  std::erase_if(queue_, [&](const Change& c) { return equalsIgnoreCase(c.attr, attr); });
  queue_.push_back({std::string(attr), std::move(values)});
  dir_.succeed();
  return kSOk;
}

Hresult LdapObject::setInfo() {
  if (queue_.empty() && !new_) {
    dir_.succeed();
    return kSOk;
  }
  std::vector<Change> queue = std::move(queue_);
  queue_.clear();
  loaded_ = false;
  cache_.clear();
  if (new_) {
    std::vector<Change> adds;
    bool haveClass = false;
    for (Change& c : queue) {
      if (c.values.empty()) continue;
      haveClass = haveClass || equalsIgnoreCase(c.attr, "objectClass");
      adds.push_back(std::move(c));
    }
    if (!haveClass) adds.insert(adds.begin(), Change{"objectClass", {newClass_}});
    const int rc = dir_.client().add(dn_, adds);
    if (rc == ldaprc::kSuccess) new_ = false;
    return dir_.outcome(rc);
  }
  // The Windows provider lets a modify go through without the attributes the
  // schema does not know and reports them afterwards; the same here.
  std::vector<Change> known;
  std::vector<std::string> unknown;
  for (Change& c : queue) {
    const auto t = dir_.client().schemaType(c.attr);
    if (t && *t == AdsType::kInvalid) {
      unknown.push_back(c.attr);
    } else {
      known.push_back(std::move(c));
    }
  }
  if (!known.empty()) {
    const int rc = dir_.client().modify(dn_, known, ModOp::kReplace);
    if (rc != ldaprc::kSuccess) return hresultOfLdap(rc);
  }
  if (!unknown.empty()) {
    std::string names;
    for (const std::string& n : unknown) names += (names.empty() ? "" : ", ") + n;
    return dir_.fail(kNoAttributeOrValue,
                     "00000057: not in the directory's schema, not written: " + names);
  }
  dir_.succeed();
  return kSOk;
}

Hresult LdapObject::unsaved() {
  return dir_.fail(kEAdsObjectUnbound, "the object is not saved in the directory yet");
}

DirResult<std::unique_ptr<DirObject>> LdapObject::create(std::string_view cls,
                                                         std::string_view rdn) {
  if (new_ || rootDse_) return {unsaved(), nullptr};
  const auto parsed = parseDn(rdn);
  if (cls.empty() || !parsed || parsed->size() != 1) {
    return {dir_.fail(kEAdsBadPathname, "not a relative name: " + std::string(rdn)), nullptr};
  }
  auto child =
      std::make_unique<LdapObject>(dir_, wireRdn(parsed->front()) + "," + dn_, true, false);
  child->setNewClass(std::string(cls));
  dir_.succeed();
  return {kSOk, std::move(child)};
}

DirResult<std::unique_ptr<DirObject>> LdapObject::moveHere(std::string_view sourcePath,
                                                           std::string_view newRdn) {
  if (new_ || rootDse_) return {unsaved(), nullptr};
  const std::string source = wireDn(dnFromPath(sourcePath));
  std::string rdn = newRdn.empty() ? leafRdn(source) : std::string(newRdn);
  const auto parsed = parseDn(rdn);
  if (source.empty() || !parsed || parsed->size() != 1) {
    return {dir_.fail(kEAdsBadPathname, "cannot move " + source + " as " + rdn), nullptr};
  }
  rdn = wireRdn(parsed->front());
  const int rc = dir_.client().rename(source, rdn, dn_);
  if (rc != ldaprc::kSuccess) return {hresultOfLdap(rc), nullptr};
  dir_.succeed();
  return {kSOk, std::make_unique<LdapObject>(dir_, rdn + "," + dn_, false, false)};
}

Hresult LdapObject::deleteChild(std::string_view, std::string_view rdn) {
  if (new_ || rootDse_) return unsaved();
  const auto parsed = parseDn(rdn);
  if (!parsed || parsed->size() != 1) {
    return dir_.fail(kEAdsBadPathname, "not a relative name: " + std::string(rdn));
  }
  const std::string child = wireRdn(parsed->front()) + "," + dn_;
  return dir_.outcome(dir_.client().remove(child));
}

DirResult<std::vector<std::string>> LdapObject::children(std::string_view cls) {
  if (new_ || rootDse_) return {unsaved(), {}};
  std::vector<std::string> out;
  const std::string filter =
      cls.empty() ? "(objectClass=*)" : "(objectClass=" + escapeFilterValue(cls) + ")";
  const Hresult hr = dir_.search(dn_, filter, {"ADsPath"}, SearchScope::kOneLevel, kDefaultPageSize,
                                 [&](const SearchRow& row) {
                                   out.push_back(pathFromDn(row.dn));
                                   return true;
                                 });
  return {hr, hr >= 0 ? std::move(out) : std::vector<std::string>{}};
}

Hresult LdapObject::setPassword(std::string_view password) {
  if (rootDse_ || (new_ && !equalsIgnoreCase(newClass_, "user"))) return unsaved();
  if (!dir_.client().encrypted()) {
    // The password would cross the network readable by anyone on the way.
    return dir_.fail(hresultFromLdap(ldaprc::kConfidentialityRequired),
                     "password not sent: the connection is not encrypted (use ldaps:// or "
                     "LdapStartTls)");
  }
  if (new_) {
    // The account is saved together with its password, in one add.
    std::erase_if(queue_, [](const Change& c) { return equalsIgnoreCase(c.attr, "unicodePwd"); });
    queue_.push_back({"unicodePwd", {unicodePwdValue(password)}});
    dir_.succeed();
    return kSOk;
  }
  return dir_.outcome(modify({{"unicodePwd", {unicodePwdValue(password)}}}, ModOp::kReplace));
}

Hresult LdapObject::changeMember(std::string_view memberPath, bool add) {
  if (new_ || rootDse_) return unsaved();
  return dir_.outcome(
      modify({{"member", {wireDn(dnFromPath(memberPath))}}}, add ? ModOp::kAdd : ModOp::kDelete));
}

Hresult LdapObject::changeMembers(const std::vector<std::string>& memberPaths, bool add) {
  if (new_ || rootDse_) return unsaved();
  if (memberPaths.empty()) {
    dir_.succeed();
    return kSOk;
  }
  Change change{"member", {}};
  change.values.reserve(memberPaths.size());
  for (const std::string& path : memberPaths) change.values.push_back(wireDn(dnFromPath(path)));
  return dir_.outcome(modify({std::move(change)}, add ? ModOp::kAdd : ModOp::kDelete));
}

DirResult<std::vector<std::string>> LdapObject::members() {
  if (new_ || rootDse_) return {unsaved(), {}};
  std::vector<DirAttribute> attrs;
  const int rc = dir_.readEntry(dn_, {"member"}, &attrs);
  if (rc != ldaprc::kSuccess) return {hresultOfLdap(rc), {}};
  std::vector<std::string> out;
  for (const DirAttribute& a : attrs) {
    if (!equalsIgnoreCase(a.name, "member")) continue;
    for (const std::string& v : a.values) out.push_back(pathFromDn(v));
  }
  dir_.succeed();
  return {kSOk, std::move(out)};
}

}  // namespace tv::ldap

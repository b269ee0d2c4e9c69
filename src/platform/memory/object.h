// A bound object of the memory directory: the property cache, the queue of
// changes and the container, account and group operations of the port.
// Internal to the memory directory.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/memory/store.h"

namespace tv::memdir {

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
      if (!asciiEqualsIgnoreCase(a.name, "ADsPath")) cache_.push_back(a);
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
    if (asciiEqualsIgnoreCase(attr, "ADsPath")) return AdsType::kCaseIgnoreString;
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
  Hresult addMembers(const std::vector<std::string>& memberPaths) override {
    return changeMembers(memberPaths, true);
  }
  Hresult removeMembers(const std::vector<std::string>& memberPaths) override {
    return changeMembers(memberPaths, false);
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
      if (asciiEqualsIgnoreCase(it->attr, attr)) return &*it;
    }
    return nullptr;
  }

  const DirAttribute* cached(std::string_view attr) const {
    for (const DirAttribute& a : cache_) {
      if (asciiEqualsIgnoreCase(a.name, attr)) return &a;
    }
    return nullptr;
  }

  Hresult enqueue(Change c) {
    if (rootDse_) return fail(kEAdsPropertyNotSupported, "RootDSE is read-only");
    queue_.erase(
        std::remove_if(queue_.begin(), queue_.end(),
                       [&](const Change& q) { return asciiEqualsIgnoreCase(q.attr, c.attr); }),
        queue_.end());
    queue_.push_back(std::move(c));
    return kSOk;
  }

  Hresult load() {
    std::lock_guard lock(store_->mu);
    auto key = treeKeyOf(dn_);
    Store::Entry* e = key ? store_->find(*key) : nullptr;
    if (!e) return store_->fail(hresultFromLdap(ldaprc::kNoSuchObject), "no object " + dn_);
    cache_ = store_->allAttributes(*key, *e);
    loaded_ = true;
    store_->succeed();
    return kSOk;
  }

  Hresult changeMember(std::string_view memberPath, bool add);
  // Every member checked first, then all changed: one modify of the group.
  Hresult changeMembers(const std::vector<std::string>& memberPaths, bool add);
  Hresult commitNew();

  std::shared_ptr<Store> store_;
  std::string dn_;
  std::string cls_;
  bool isNew_ = false;
  std::optional<std::string> newPassword_;  // goes with the add
  bool rootDse_ = false;
  bool loaded_ = false;
  std::vector<DirAttribute> cache_;
  std::vector<Change> queue_;
};

}  // namespace tv::memdir

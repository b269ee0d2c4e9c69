// A directory that knows only its root entry and the name translation: just
// enough to read the domain's names at settings load. Every other call fails
// with E_NOTIMPL so a test notices when the load asks for more.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "directory/directory.h"

namespace tv::test {

class RootDseObject : public DirObject {
 public:
  explicit RootDseObject(std::map<std::string, std::string> values) : values_(std::move(values)) {}

  std::string adsPath() const override { return "LDAP://RootDSE"; }
  std::string dn() const override { return ""; }
  std::string name() const override { return "RootDSE"; }
  std::string parent() const override { return ""; }
  std::string className() const override { return ""; }
  DirResult<std::string> get(std::string_view attr) override {
    auto it = values_.find(std::string(attr));
    if (it == values_.end()) return {kEAdsPropertyNotFound, {}};
    return {kSOk, it->second};
  }
  DirResult<std::vector<std::string>> getAll(std::string_view) override { return {kENotImpl, {}}; }
  DirResult<std::int64_t> getInt(std::string_view) override { return {kENotImpl, 0}; }
  AdsType typeOf(std::string_view) override { return AdsType::kInvalid; }
  Hresult getInfo() override { return kENotImpl; }
  Hresult put(std::string_view, std::string_view) override { return kENotImpl; }
  Hresult putAll(std::string_view, std::vector<std::string>) override { return kENotImpl; }
  Hresult clear(std::string_view) override { return kENotImpl; }
  Hresult setInfo() override { return kENotImpl; }
  DirResult<std::unique_ptr<DirObject>> create(std::string_view, std::string_view) override {
    return {kENotImpl, nullptr};
  }
  DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view, std::string_view) override {
    return {kENotImpl, nullptr};
  }
  Hresult deleteChild(std::string_view, std::string_view) override { return kENotImpl; }
  DirResult<std::vector<std::string>> children(std::string_view) override {
    return {kENotImpl, {}};
  }
  DirResult<bool> accountDisabled() override { return {kENotImpl, false}; }
  Hresult setAccountDisabled(bool) override { return kENotImpl; }
  Hresult setPassword(std::string_view) override { return kENotImpl; }
  Hresult unlock() override { return kENotImpl; }
  Hresult addMember(std::string_view) override { return kENotImpl; }
  Hresult removeMember(std::string_view) override { return kENotImpl; }
  DirResult<std::vector<std::string>> members() override { return {kENotImpl, {}}; }

 private:
  std::map<std::string, std::string> values_;
};

class FakeRootDseDirectory : public Directory {
 public:
  // Attribute values of "LDAP://RootDSE"; a missing attribute fails its read.
  std::map<std::string, std::string> rootDse = {{"defaultNamingContext", "DC=skole,DC=test"},
                                                {"rootDomainNamingContext", "DC=skole,DC=test"},
                                                {"dnsHostName", "dc1.skole.test"}};
  // DN -> canonical name; a missing DN fails the translation.
  std::map<std::string, std::string> canonical = {{"DC=skole,DC=test", "skole.test/"}};
  bool rootBinds = true;
  std::vector<std::string> binds;  // every path asked for

  DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override {
    binds.emplace_back(path);
    if (!rootBinds || path != "LDAP://RootDSE") return {kServerDown, nullptr};
    return {kSOk, std::make_unique<RootDseObject>(rootDse)};
  }
  DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow&) override {
    return {kENotImpl, nullptr};
  }
  Hresult search(std::string_view, std::string_view, const std::vector<std::string>&, SearchScope,
                 int, const RowCallback&) override {
    return kENotImpl;
  }
  DirResult<std::string> canonicalName(std::string_view dn) override {
    auto it = canonical.find(std::string(dn));
    if (it == canonical.end()) return {kNoSuchObject, {}};
    return {kSOk, it->second};
  }
  std::optional<DirectoryError> lastError() const override { return std::nullopt; }
};

}  // namespace tv::test

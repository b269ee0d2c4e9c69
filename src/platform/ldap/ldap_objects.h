// The directory port's objects over one LdapClient, whichever client library
// carries it: LdapDirectory binds entries, reads them and searches;
// LdapObject is one entry with its property cache and its queue of changes,
// committed as one add or modify.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/directory.h"
#include "platform/ldap/ldap_client.h"

namespace tv::ldap {

inline constexpr const char* kRootDsePath = "LDAP://RootDSE";
// The disabled flag of userAccountControl (ADS_UF_ACCOUNTDISABLE).
inline constexpr std::int64_t kAccountDisable = 0x2;
// The page size of a search that names none, and of an object's children.
inline constexpr int kDefaultPageSize = 20;

class LdapDirectory;

class LdapObject final : public DirObject {
 public:
  LdapObject(LdapDirectory& dir, std::string dn, bool isNew, bool rootDse)
      : dir_(dir), dn_(std::move(dn)), new_(isNew), rootDse_(rootDse) {}

  void setLoaded(std::vector<DirAttribute> attrs) {
    cache_ = std::move(attrs);
    loaded_ = true;
  }
  void seed(const SearchRow& row);
  void setNewClass(std::string cls) { newClass_ = std::move(cls); }

  std::string adsPath() const override;
  std::string dn() const override { return dn_; }
  std::string name() const override;
  std::string parent() const override;
  std::string className() const override;

  DirResult<std::string> get(std::string_view attr) override;
  DirResult<std::vector<std::string>> getAll(std::string_view attr) override;
  DirResult<std::int64_t> getInt(std::string_view attr) override;
  AdsType typeOf(std::string_view attr) override;
  Hresult getInfo() override;

  Hresult put(std::string_view attr, std::string_view value) override {
    return putAll(attr, {std::string(value)});
  }
  Hresult putAll(std::string_view attr, std::vector<std::string> values) override;
  Hresult clear(std::string_view attr) override { return putAll(attr, {}); }
  Hresult setInfo() override;

  DirResult<std::unique_ptr<DirObject>> create(std::string_view cls, std::string_view rdn) override;
  DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view sourcePath,
                                                 std::string_view newRdn) override;
  Hresult deleteChild(std::string_view cls, std::string_view rdn) override;
  DirResult<std::vector<std::string>> children(std::string_view cls) override;

  DirResult<bool> accountDisabled() override;
  Hresult setAccountDisabled(bool disabled) override;
  Hresult setPassword(std::string_view password) override;
  Hresult unlock() override { return put("lockoutTime", "0"); }

  Hresult addMember(std::string_view memberPath) override { return changeMember(memberPath, true); }
  Hresult removeMember(std::string_view memberPath) override {
    return changeMember(memberPath, false);
  }
  DirResult<std::vector<std::string>> members() override;

 private:
  // The attribute from the queue or the cache; loads the object once when
  // the cache lacks it. Null with *hr set when it has no value.
  const std::vector<std::string>* lookup(std::string_view attr, Hresult* hr);
  // One modify of the entry with these changes, the cache dropped after it.
  int modify(const std::vector<Change>& changes, ModOp op);
  Hresult changeMember(std::string_view memberPath, bool add);
  Hresult unsaved();

  LdapDirectory& dir_;
  std::string dn_;
  bool new_;
  bool rootDse_;
  bool loaded_ = false;
  std::string newClass_;
  std::vector<DirAttribute> cache_;
  std::vector<Change> queue_;
};

class LdapDirectory final : public Directory {
 public:
  explicit LdapDirectory(std::unique_ptr<LdapClient> client) : client_(std::move(client)) {}

  DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override;
  DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) override;
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override;
  DirResult<std::string> canonicalName(std::string_view dn) override;
  std::optional<DirectoryError> lastError() const override;

  // --- for the objects ---

  LdapClient& client() { return *client_; }
  // The HRESULT of a client library's result code; a success clears lastError().
  Hresult outcome(int rc);
  Hresult fail(Hresult hr, std::string text) { return client_->errors().fail(hr, std::move(text)); }
  void succeed() { client_->errors().succeed(); }
  // Every attribute of one entry (attrs empty: all), ranged values gathered.
  int readEntry(const std::string& dn, const std::vector<std::string>& attrs,
                std::vector<DirAttribute>* out);

 private:
  // Turns one entry into attributes; ranged attributes are completed by
  // further reads of the entry.
  int entryAttributes(const Entry& entry, std::vector<DirAttribute>* out);

  std::unique_ptr<LdapClient> client_;
};

}  // namespace tv::ldap

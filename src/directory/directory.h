// The directory port: the object model the product's directory work is
// written in. An object is bound by its LDAP path ("LDAP://<dn>" or
// "LDAP://RootDSE"), its attributes are read through a property cache that
// loads everything on the first read, changes are queued with put / putAll /
// clear and committed by setInfo() as one add (new object) or one modify,
// containers create, move and delete children, groups add and remove members,
// and searches run paged over a base with an RFC 4515 filter.
//
// Every call returns the HRESULT the product logs (constants in
// directory/hresult.h); a negative value is a failure. After a failure,
// Directory::lastError() gives the directory's extended error (code, text,
// provider) for the log's HRESULT block.
//
// Values are UTF-8 text, except for binary attributes (objectGUID, objectSid,
// userParameters …) whose values are the raw bytes in a std::string; the
// attribute's AdsType tells which. Attribute names are matched without regard
// to case; DNs are compared without regard to case (directory/escape.h).
//
// A Directory may be used from two threads at once (the poll thread and the
// password thread); a DirObject belongs to the thread that bound it.
//
// The failures the product tells apart, as a domain controller answers them
// (the conformance suite in tests/conformance checks each):
//   an object or member DN that names nothing     kNoSuchObject
//   a name or sAMAccountName already taken,
//   a member added twice                          kAlreadyExists
//   removing a non-member, enabling an account
//   that has no password                          kUnwillingToPerform
//   a weak password, a second value of a single-
//   valued attribute, a value over its length     kConstraintViolation
//   two descriptions on an account                kAttributeOrValueExists
//   deleting a container that is not empty        kCantOnNonLeaf
//   a filter that does not parse                  kEAdsInvalidFilter
//   a property the object lacks                   kEAdsPropertyNotFound
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "directory/hresult.h"

namespace tv {

// The value types a directory reports for a column or property, numbered as
// the Windows directory interfaces number them: the product takes a column as
// text only when it is kCaseIgnoreString.
enum class AdsType : int {
  kInvalid = 0,
  kDnString = 1,
  kCaseExactString = 2,
  kCaseIgnoreString = 3,
  kPrintableString = 4,
  kNumericString = 5,
  kBoolean = 6,
  kInteger = 7,
  kOctetString = 8,
  kUtcTime = 9,
  kLargeInteger = 10,
  kNtSecurityDescriptor = 25,
};

// A call's HRESULT with the value it produced (the value is meaningful only
// when ok()).
template <typename T>
struct DirResult {
  Hresult hr = kEFail;
  T value{};

  [[nodiscard]] bool ok() const { return hr >= 0; }
};

// One attribute of a search row or a property read.
struct DirAttribute {
  std::string name;  // as the directory spells it ("sAMAccountName", "ADsPath")
  AdsType type = AdsType::kCaseIgnoreString;
  std::vector<std::string> values;
};

// One row of a search: the entry's DN and the asked-for attributes that it
// has, in the order the directory returns them. "ADsPath", when asked for,
// is a kCaseIgnoreString column holding the entry's LDAP path.
struct SearchRow {
  std::string dn;
  std::vector<DirAttribute> attributes;

  // The attribute of that name (case-insensitive), or null.
  [[nodiscard]] const DirAttribute* find(std::string_view attr) const;
  // The first value of the attribute, or "" when it is absent.
  [[nodiscard]] std::string first(std::string_view attr) const;
};

enum class SearchScope { kBase, kOneLevel, kSubtree };

// Called once per row; returning false ends the search early (search() then
// returns kSOk).
using RowCallback = std::function<bool(const SearchRow&)>;

class DirObject {
 public:
  virtual ~DirObject() = default;

  // "LDAP://<dn>".
  [[nodiscard]] virtual std::string adsPath() const = 0;
  [[nodiscard]] virtual std::string dn() const = 0;
  // The relative name, "CN=x" or "OU=x".
  [[nodiscard]] virtual std::string name() const = 0;
  // The LDAP path of the parent container.
  [[nodiscard]] virtual std::string parent() const = 0;
  // The most specific structural class ("user", "group", "organizationalUnit").
  [[nodiscard]] virtual std::string className() const = 0;

  // Property-cache reads. The first read loads all attributes of the object
  // (one round trip); later reads are answered from the cache until setInfo()
  // or getInfo(). An attribute the object lacks gives kEAdsPropertyNotFound.
  // Queued but uncommitted changes are visible to reads, as in ADSI.
  [[nodiscard]] virtual DirResult<std::string> get(std::string_view attr) = 0;
  [[nodiscard]] virtual DirResult<std::vector<std::string>> getAll(std::string_view attr) = 0;
  [[nodiscard]] virtual DirResult<std::int64_t> getInt(std::string_view attr) = 0;
  // The type the directory gives the attribute (kInvalid when unknown).
  [[nodiscard]] virtual AdsType typeOf(std::string_view attr) = 0;
  // Drops the cache so the next read loads the object again.
  virtual Hresult getInfo() = 0;

  // Queued changes: replace with one value / several values, or remove all
  // values. Nothing reaches the directory until setInfo().
  virtual Hresult put(std::string_view attr, std::string_view value) = 0;
  virtual Hresult putAll(std::string_view attr, std::vector<std::string> values) = 0;
  virtual Hresult clear(std::string_view attr) = 0;
  // Commits the queue: one add for an object made by create(), else one
  // modify. In a modify, an attribute the schema lacks fails with
  // kNoAttributeOrValue while the other queued changes are still committed
  // (the way the Windows LDAP provider behaves); any other failure commits
  // nothing. An add is all or nothing. The queue is emptied either way and
  // the cache is dropped. An empty queue on an existing object is a no-op
  // returning kSOk.
  virtual Hresult setInfo() = 0;

  // Container operations. create() gives a new, not yet saved child whose
  // objectClass is set; put its attributes and setInfo() it. moveHere() moves
  // the object at sourcePath below this container, renamed to newRdn when it
  // is not empty ("CN=new"), and gives the moved object.
  [[nodiscard]] virtual DirResult<std::unique_ptr<DirObject>> create(std::string_view cls,
                                                                     std::string_view rdn) = 0;
  [[nodiscard]] virtual DirResult<std::unique_ptr<DirObject>> moveHere(std::string_view sourcePath,
                                                                       std::string_view newRdn) = 0;
  // Deletes a leaf child; a child that has children of its own fails.
  virtual Hresult deleteChild(std::string_view cls, std::string_view rdn) = 0;
  // The LDAP paths of the direct children, optionally of one class only
  // (empty: all), in the directory's order.
  [[nodiscard]] virtual DirResult<std::vector<std::string>> children(std::string_view cls) = 0;

  // User account operations. The disabled flag is bit 0x2 of
  // userAccountControl; setAccountDisabled() and unlock() (lockoutTime 0) are
  // queued like put(). setPassword() acts at once on a saved object; on a
  // user made by create() and not saved yet, the password goes with the add,
  // so a password the directory refuses leaves no account behind.
  [[nodiscard]] virtual DirResult<bool> accountDisabled() = 0;
  virtual Hresult setAccountDisabled(bool disabled) = 0;
  virtual Hresult setPassword(std::string_view password) = 0;
  virtual Hresult unlock() = 0;

  // Group membership, acting at once. Members are LDAP paths.
  virtual Hresult addMember(std::string_view memberPath) = 0;
  virtual Hresult removeMember(std::string_view memberPath) = 0;
  // Several members added or removed in one change, all or nothing: when one
  // value is refused (already a member, not a member, no such object) or the
  // change as a whole is (too large, not allowed), no member changes and the
  // directory's error is returned, so the caller can go through the members
  // one at a time to learn which one. An empty list changes nothing and
  // succeeds. A member must not be named twice in one list: directories
  // differ there (Samba stores the value twice, AD refuses the change). A
  // directory without such changes answers kENotImpl.
  virtual Hresult addMembers(const std::vector<std::string>& memberPaths) {
    return memberPaths.empty() ? kSOk : kENotImpl;
  }
  virtual Hresult removeMembers(const std::vector<std::string>& memberPaths) {
    return memberPaths.empty() ? kSOk : kENotImpl;
  }
  [[nodiscard]] virtual DirResult<std::vector<std::string>> members() = 0;
};

class Directory {
 public:
  virtual ~Directory() = default;

  // Binds an object by its path: "LDAP://<dn>" (a server part,
  // "LDAP://host/<dn>", is accepted and ignored where the adapter has its
  // own) or "LDAP://RootDSE" (defaultNamingContext, rootDomainNamingContext,
  // dnsHostName). A DN that names nothing gives kNoSuchObject.
  [[nodiscard]] virtual DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) = 0;

  // An object for a search row's entry whose property cache is seeded with
  // the row's attributes: reads of those attributes need no round trip; a
  // read of any other attribute loads the whole object once.
  [[nodiscard]] virtual DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) = 0;

  // Runs a paged search. base is a DN or an LDAP path; attrs names the
  // columns wanted ("ADsPath" gives the entry's path; empty: all attributes);
  // pages of pageSize rows are fetched until the directory has no more.
  // Returns kSOk when all rows were delivered or the callback stopped early,
  // kEAdsInvalidFilter for a filter that does not parse, or the directory's
  // error (a base that does not exist: kNoSuchObject).
  virtual Hresult search(std::string_view base, std::string_view filter,
                         const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                         const RowCallback& onRow) = 0;

  // The canonical name of a DN ("DC=skole,DC=test" -> "skole.test/",
  // "CN=x,OU=Elev,OU=ZEB,DC=skole,DC=test" -> "skole.test/ZEB/Elev/x").
  [[nodiscard]] virtual DirResult<std::string> canonicalName(std::string_view dn) = 0;

  // The extended error of the calling thread's last call when that call
  // failed; nullopt after a call that succeeded.
  [[nodiscard]] virtual std::optional<DirectoryError> lastError() const = 0;
};

}  // namespace tv

// Reading users from the directory: the list of a population's users, one
// user found by identification or by login, the sorted index arrays the
// synchronisation pass walks, and organizational units made on demand.
//
// Lists are never reordered; an index is a vector of positions sorted by one
// key. Keys are compared by code point (UTF-8 byte order) in the sort and in
// the search alike, so a non-ASCII login is always found again.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/directory.h"
#include "jobdata/exception_list.h"
#include "runtime/runtime.h"
#include "text/text.h"

namespace tv {

struct DirUser {
  std::string name;            // 24
  std::string identification;  // 64
  std::string personNumber;    // 29, pupils only
  std::string path;            // 259, "LDAP://…"
  std::string accountName;     // 25
  // The list search's row for the account; it carries what the update reads,
  // so the update can seed the object's property cache instead of loading it.
  std::shared_ptr<const SearchRow> row;
  // Why the domain protects the account from the registers ("" when it does
  // not); see accountProtection.
  std::string protection;
  // Made moments ago under a login that a search had just found free.
  bool loginChecked = false;
};

using Index = std::vector<std::uint32_t>;

struct UserListResult {
  std::vector<DirUser> users;
  bool fatal = false;  // a malformed identification; the process was told to end (25)
};

// The attribute a user's property is stored under: the field maps may name
// some by the Windows user interface's property names (FirstName …).
[[nodiscard]] std::string_view storedAttributeName(std::string_view attr);

// Every user below containerPath (an LDAP path), paged 20 at a time, with
// the accounts on the exception list left out. Without includeDisabled the
// disabled accounts are left out too. A container that cannot be searched
// gives an empty list after an error line.
UserListResult GetADBrugerListe(Runtime& rt, std::string_view containerPath, bool includeDisabled,
                                const ExceptionList& exceptions);

struct FoundUser {
  std::unique_ptr<DirObject> object;
  std::string firstName;
  std::string lastName;
  bool disabled = false;
  std::string protection;  // see accountProtection; "" for an ordinary account
};

// Accounts the domain itself stands on: the built-in administrator (RID 500),
// krbtgt (RID 502), and every account the directory marks as critical
// (isCriticalSystemObject) or as a member of a protected group (adminCount).
// A school's register must never be able to change them, however a job
// names them. The reason as the log gives it, or "" for an ordinary account.
// The row must carry the protection columns and sAMAccountName.
[[nodiscard]] std::string accountProtection(const SearchRow& row);
// The same for a bound account (its attributes are read once).
[[nodiscard]] std::string accountProtection(DirObject& object);
// The columns accountProtection reads.
[[nodiscard]] const std::vector<std::string>& protectionColumns();
// The error line for an attempt to change a protected account: the
// operation, the login the job gave, the account (its LDAP path) and why.
void refuseProtected(Runtime& rt, const char* operation, std::string_view login,
                     std::string_view accountPath, std::string_view reason);

// The user below containerDn whose identification attribute (or, for the
// login, cn or sAMAccountName) equals value; E_FAIL when there is none.
DirResult<FoundUser> findUserByIdentification(Runtime& rt, std::string_view containerDn,
                                              std::string_view identification);
DirResult<FoundUser> findUserByLogin(Runtime& rt, std::string_view containerDn,
                                     std::string_view login);
// The same user's LDAP path alone, without reading the account; protection,
// when given, receives the account's protection (see accountProtection).
DirResult<std::string> findUserPathByLogin(Runtime& rt, std::string_view containerDn,
                                           std::string_view login,
                                           std::string* protection = nullptr);

// Key widths of the index arrays, in characters.
inline constexpr std::size_t kIdentificationKeyChars = 64;
inline constexpr std::size_t kAccountKeyChars = 24;
inline constexpr std::size_t kLoginKeyChars = 24;
inline constexpr std::size_t kPersonNumberKeyChars = 10;

// The fixed-width key of a value: its first width characters. Keys compare
// by code point, which for UTF-8 is plain byte order.
[[nodiscard]] inline std::string_view indexKey(std::string_view value, std::size_t width) {
  return value.substr(0, charPrefixBytes(value, width));
}

// An index over list sorted by key(record), cut to width characters. key
// must return a reference into the record.
template <typename T, typename KeyFn>
[[nodiscard]] Index buildIndex(const std::vector<T>& list, KeyFn key, std::size_t width) {
  std::vector<std::string_view> keys;
  keys.reserve(list.size());
  for (const auto& r : list) keys.push_back(indexKey(key(r), width));
  Index index(list.size());
  for (std::uint32_t i = 0; i < index.size(); ++i) index[i] = i;
  std::stable_sort(index.begin(), index.end(),
                   [&keys](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
  return index;
}

// The position of a record whose key equals value, by binary search.
template <typename T, typename KeyFn>
[[nodiscard]] std::optional<std::uint32_t> findInIndex(const std::vector<T>& list,
                                                       const Index& index, KeyFn key,
                                                       std::size_t width, std::string_view value) {
  const std::string_view want = indexKey(value, width);
  auto it = std::lower_bound(
      index.begin(), index.end(), want,
      [&](std::uint32_t pos, std::string_view v) { return indexKey(key(list[pos]), width) < v; });
  if (it == index.end() || indexKey(key(list[*it]), width) != want) return std::nullopt;
  return *it;
}

// Creates rdn ("OU=X") below parentPath (an LDAP path); logs and returns the HRESULT.
Hresult createOrganizationalUnit(Runtime& rt, std::string_view rdn, std::string_view parentPath);

// Creates the organizational unit an LDAP path names, below its parent; a
// path without a comma creates nothing and gives S_FALSE.
Hresult ensureOrganizationalUnit(Runtime& rt, std::string_view ldapPath);

}  // namespace tv

// The in-process directory: the directory port over a tree held in memory,
// with the Active Directory rules the product relies on — objectCategory
// "person" for users, the bit-and / bit-or matching rules of
// userAccountControl and groupType, memberOf derived from the groups' member
// values (and following moves and renames), domain-wide unique
// sAMAccountName and userPrincipalName, new users disabled (546) until they
// have a password, single-valued attributes, generated objectGUID,
// objectSid and timestamps, and a schema with or without the mail server's
// attributes. Errors carry the HRESULTs a domain controller's answers map to.
//
// A school can rehearse a job against a snapshot of its directory: the tree
// loads from and saves to LDIF, in a fixed order (parents before children,
// siblings by name, objectClass first and the other attributes by name), so
// two saves of the same tree are byte for byte the same. Passwords are never
// saved; an account whose pwdLastSet is set counts as having one.
//
// A search whose filter names an account by an indexed attribute (login,
// name, identification, class, category, group membership) looks only at
// the entries the index lists and answers in tree order as a walk would, so
// a live pass over a large school costs the same per pupil as over a small
// one.
//
// Searches deliver their rows page by page and a search without a page size
// stops after 1000 rows with the size-limit error, as a Windows domain
// controller does, so a missing paging loop shows up in the tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "directory/directory.h"
#include "ports/clock.h"
#include "ports/log_sink.h"

namespace tv {

namespace memdir {
struct Store;
}  // namespace memdir

struct MemoryDirectoryOptions {
  std::string baseDn = "DC=skole,DC=test";  // the domain of a fresh directory
  bool mailAttributes = false;  // msExchHideFromAddressLists, homeMDB, extensionAttribute1-15
  std::string dnsHostName;      // "" : "dc1." + the DNS domain
  Clock* clock = nullptr;       // null: the system's time
  // Attributes that searches compare by equality, besides sAMAccountName,
  // cn, name, employeeID, objectClass, objectCategory and memberOf, which are
  // always indexed: the attribute that identifies a user with its record.
  // Only the speed of a search depends on them, never its answer.
  std::vector<std::string> indexedAttributes = {};
  // Where a snapshot load tells what it had to add (null: nowhere).
  LogSink* log = nullptr;
};

class MemoryDirectory : public Directory {
 public:
  // A fresh domain: the domain object, CN=Users and CN=Computers.
  explicit MemoryDirectory(MemoryDirectoryOptions options = {});
  ~MemoryDirectory() override;
  MemoryDirectory(const MemoryDirectory&) = delete;
  MemoryDirectory& operator=(const MemoryDirectory&) = delete;

  // Replaces the tree by an LDIF snapshot; "" on success, else why not
  // ("line 12: …"), with the tree left as it was. Attributes of the snapshot
  // that the schema lacks are added to it: the snapshot's directory had them.
  // What a domain controller always holds and a snapshot written by hand may
  // lack is filled in: every object's objectGUID, and each account's and
  // group's objectSid (in the domain's form) and objectCategory; the log is
  // told how many objects were filled.
  [[nodiscard]] std::string loadLdif(std::string_view text);
  [[nodiscard]] std::string saveLdif() const;

  [[nodiscard]] std::string baseDn() const;
  [[nodiscard]] std::size_t entryCount() const;

  [[nodiscard]] DirResult<std::unique_ptr<DirObject>> bind(std::string_view path) override;
  [[nodiscard]] DirResult<std::unique_ptr<DirObject>> bindRow(const SearchRow& row) override;
  Hresult search(std::string_view base, std::string_view filter,
                 const std::vector<std::string>& attrs, SearchScope scope, int pageSize,
                 const RowCallback& onRow) override;
  [[nodiscard]] DirResult<std::string> canonicalName(std::string_view dn) override;
  [[nodiscard]] std::optional<DirectoryError> lastError() const override;

 private:
  // The tree and its rules, shared with the objects bound from it.
  std::shared_ptr<memdir::Store> store_;
  LogSink* log_ = nullptr;
};

// Opens the snapshot at path; a file that does not exist gives a fresh
// domain (options.baseDn). Null with *error set when the file cannot be read
// or is not a snapshot.
[[nodiscard]] std::unique_ptr<MemoryDirectory> openMemoryDirectory(
    const std::string& path, const MemoryDirectoryOptions& options, std::string* error);

// Writes the snapshot to path through a temporary file renamed into place,
// so a crash never leaves half a snapshot; false with *error set on failure.
[[nodiscard]] bool saveMemoryDirectory(const MemoryDirectory& directory, const std::string& path,
                                       std::string* error);

}  // namespace tv

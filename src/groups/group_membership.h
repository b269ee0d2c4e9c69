// Adding a user to and removing a user from the system's groups, one
// membership at a time, as the membership merge asks. Only groups that carry
// the system's marking are ever changed: a group the school keeps by hand
// never gains or loses a member here.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "directory/directory.h"
#include "runtime/runtime.h"

namespace tv {

// What one membership merge has looked up. The merge adds a pupil to each of
// its groups in turn and fills each group member by member; neither users nor
// groups move meanwhile, so each login is searched for once and each group
// is bound (and its marking checked) once. A bind reads the whole group, and
// a standard group of every pupil in the school is a large read.
struct MembershipCache {
  std::unordered_map<std::string, std::string> userPaths;  // login -> LDAP path, "" for none
  std::unordered_map<std::string, std::unique_ptr<DirObject>> groups;  // marked groups, by name
};

// Adds the user found by login anywhere in the domain to each group of
// groupList (names separated by ":"), creating a missing group in the groups
// container first. 0 on success and when there is nothing to do, 1 when the
// last group could not be given the member.
int TilfoejGruppeMedlem(Runtime& rt, const std::string& login, const std::string& groupList,
                        bool staff, MembershipCache* cache = nullptr);

// Removes the user (the given object, or the login looked for in its user
// container, the inactive and the archive container) from each group of
// groupList. A name with a "," is a DN below the domain, others are groups
// of the groups container. The last HRESULT.
Hresult FjernGruppeMedlem(Runtime& rt, const std::string& login, DirObject* user,
                          const std::string& groupList);

// True when a group's marking names it as the system's own: the attribute
// named by `ZEBGruppeMarkering`, or "description" when that cannot be read,
// begins with "Autooprettet af ZEB".
[[nodiscard]] bool hasSystemMarking(Runtime& rt, DirObject& group);

}  // namespace tv

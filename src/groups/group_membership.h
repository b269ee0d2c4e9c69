// Adding a user to and removing a user from the system's groups, one
// membership at a time, as the membership merge asks. Only groups that carry
// the system's marking are ever changed: a group the school keeps by hand
// never gains or loses a member here.
#pragma once

#include <string>
#include <unordered_map>

#include "directory/directory.h"
#include "service/runtime.h"

namespace tv {

// The users one group sync has looked up: login -> LDAP path ("" when there
// was none). The merge adds a pupil to each of its groups in turn; the user
// does not move meanwhile, so one domain search per login is enough.
using UserPathCache = std::unordered_map<std::string, std::string>;

// Adds the user found by login anywhere in the domain to each group of
// groupList (names separated by ":"), creating a missing group in the groups
// container first. 0 on success and when there is nothing to do, 1 when the
// last group could not be given the member.
int TilfoejGruppeMedlem(Runtime& rt, const std::string& login, const std::string& groupList,
                        bool staff, UserPathCache* users = nullptr);

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

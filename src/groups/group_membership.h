// Adding a user to and removing a user from the system's groups, one
// membership at a time, as the membership merge asks. Only groups that carry
// the system's marking are ever changed: a group the school keeps by hand
// never gains or loses a member here.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

  // A merge that adds many members reads every account of the domain once
  // instead of searching for each login: set readPopulation, and the first
  // login looked for reads them all (see readPopulation()).
  bool readPopulation = false;
  struct Account {
    std::string path;
    std::string protection;  // see accountProtection
  };
  // By login and by name, lower-cased; the last account the search gives
  // for a key holds it, as the search for one login takes its last match.
  std::unordered_map<std::string, Account> population;
  bool populationRead = false;

  // A merge that removes many members lists each container a removed login
  // is looked for in (its user container, the inactive and the archive
  // container) once, instead of binding up to three names per login and the
  // group per pair: set listContainers (see knownRemovalPath()).
  bool listContainers = false;
  struct Listing {
    bool complete = false;  // every child is in it; an incomplete one answers nothing
    // The CN children by their name with A-Z lower-cased: their protection
    // (see accountProtection). Names two children share are left out.
    std::unordered_map<std::string, std::string> protection;
    std::unordered_set<std::string> ambiguous;
  };
  std::unordered_map<std::string, Listing> listings;  // by container DN
  // Groups a remove found unbound or without the marking: their removes go
  // through FjernGruppeMedlem, which reports each pair.
  std::unordered_set<std::string> unremovableGroups;
};

// The account a login names by the cache alone: its path when it was looked
// for before (or is in the population read) and the account is an ordinary
// one; nothing when it is not known yet, missing or protected, all of which
// only the full lookup of TilfoejGruppeMedlem reports.
[[nodiscard]] std::optional<std::string> knownMemberPath(const MembershipCache& cache,
                                                         const std::string& login);

// Adds the user at userPath to the group (bound, marked) named name, with the
// lines and the change report of TilfoejGruppeMedlem's own add; groupList as
// the caller gave it, for the log. 0 on success, 1 on failure.
int addOneMember(Runtime& rt, DirObject& group, const std::string& name, const std::string& login,
                 const std::string& groupList, const std::string& userPath);

// The account FjernGruppeMedlem would take out of a group for login, by the
// container listings alone (read on first use): its path when the first of
// the login's three containers that holds CN=<login> is known and the
// account there is an ordinary one. Nothing when a listing cannot answer, no
// container holds the login, or the account is protected; FjernGruppeMedlem
// reports those itself.
[[nodiscard]] std::optional<std::string> knownRemovalPath(Runtime& rt, MembershipCache& cache,
                                                          const std::string& login);

// Removes the user at userPath from the group (bound, marked) named name,
// with the line and the change report of FjernGruppeMedlem's own remove.
// The remove's HRESULT.
Hresult removeOneMember(Runtime& rt, DirObject& group, const std::string& name,
                        const std::string& login, const std::string& userPath);

// Adds members to and removes members from the group: each kMemberBatch
// changes in turn go as one change of the adds and one of the removes. A
// change the directory refuses for any reason is made again one member at a
// time (addOneMember, removeOneMember), so every member ends with the line
// and the result its own change gives it; the lines keep the given order.
struct MemberChange {
  bool remove = false;
  std::string login;
  std::string groupList;  // an add's group list as given, for the log
  std::string userPath;
};
inline constexpr std::size_t kMemberBatch = 250;
void changeMembersTogether(Runtime& rt, DirObject& group, const std::string& name,
                           const std::vector<MemberChange>& changes);

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

#include "groups/group_membership.h"

#include <algorithm>
#include <unordered_set>

#include "directory/escape.h"
#include "groups/group_operations.h"
#include "runtime/trim.h"
#include "text/text.h"
#include "users/user_queries.h"

namespace tv {
namespace {

std::optional<std::string> readMarking(Runtime& rt, DirObject& group) {
  auto marking = group.get(rt.settings.ZEBGruppeMarkering);
  if (marking.ok()) return marking.value;
  auto description = group.get("description");
  if (description.ok()) return description.value;
  return std::nullopt;
}

// Every account of the domain, once: what the search for one login (cn or
// sAMAccountName) would find, for every login at a time. Rows are taken as
// that search takes them, the last match holding each key.
void readPopulation(Runtime& rt, MembershipCache& cache) {
  cache.populationRead = true;
  constexpr int kPopulationPage = 500;
  std::vector<std::string> columns = {"ADsPath", "sAMAccountName", "cn"};
  for (const std::string& c : protectionColumns()) columns.push_back(c);
  std::unordered_map<std::string, MembershipCache::Account> population;
  const Hresult hr = rt.ports.directory->search(
      "LDAP://" + rt.trim.defaultNamingContext, "(&(objectCategory=person)(objectClass=user))",
      columns, SearchScope::kSubtree, kPopulationPage, [&](const SearchRow& row) {
        const DirAttribute* sam = row.find("sAMAccountName");
        const DirAttribute* ads = row.find("ADsPath");
        const auto text = [](const DirAttribute* a) {
          return a != nullptr && a->type == AdsType::kCaseIgnoreString;
        };
        if (!text(sam) || !text(ads)) return true;
        MembershipCache::Account account{row.first("ADsPath"), accountProtection(row)};
        if (const DirAttribute* cn = row.find("cn")) {
          for (const std::string& v : cn->values) population[toLower(v)] = account;
        }
        for (const std::string& v : sam->values) population[toLower(v)] = account;
        return true;
      });
  // A domain that cannot be read whole is searched login by login, which
  // reports its own errors.
  if (hr >= 0)
    cache.population = std::move(population);
  else
    cache.readPopulation = false;
}

// The direct children of a container, once: what binding CN=<name> below it
// finds, for every name at a time. Any object answers such a bind, so every
// class is listed.
const MembershipCache::Listing& listContainer(Runtime& rt, MembershipCache& cache,
                                              const std::string& containerDn) {
  auto [it, fresh] = cache.listings.try_emplace(containerDn);
  MembershipCache::Listing& listing = it->second;
  if (!fresh) return listing;
  constexpr int kListingPage = 500;
  std::vector<std::string> columns = {"sAMAccountName"};
  for (const std::string& c : protectionColumns()) columns.push_back(c);
  bool readable = true;
  const Hresult hr = rt.ports.directory->search(
      containerDn, "(objectClass=*)", columns, SearchScope::kOneLevel, kListingPage,
      [&](const SearchRow& row) {
        const auto rdns = parseDn(row.dn);
        if (!rdns || rdns->empty()) {
          readable = false;
          return false;
        }
        const Rdn& leaf = rdns->front();
        if (!asciiEqualsIgnoreCase(leaf.type, "CN")) return true;
        const std::string key = asciiToLower(leaf.value);
        if (listing.ambiguous.count(key) != 0) return true;
        if (!listing.protection.emplace(key, accountProtection(row)).second) {
          listing.protection.erase(key);
          listing.ambiguous.insert(key);
        }
        return true;
      });
  // A container that is not there holds nothing a bind could find; any
  // other failure leaves its logins to FjernGruppeMedlem.
  listing.complete = readable && (hr >= 0 || hr == kNoSuchObject);
  if (hr == kNoSuchObject) {
    listing.protection.clear();
    listing.ambiguous.clear();
  }
  return listing;
}

}  // namespace

std::optional<std::string> knownMemberPath(const MembershipCache& cache, const std::string& login) {
  if (auto it = cache.userPaths.find(login); it != cache.userPaths.end()) {
    if (it->second.empty()) return std::nullopt;
    return it->second;
  }
  if (cache.populationRead && cache.readPopulation) {
    auto it = cache.population.find(toLower(login));
    if (it != cache.population.end() && it->second.protection.empty()) return it->second.path;
  }
  return std::nullopt;
}

std::optional<std::string> knownRemovalPath(Runtime& rt, MembershipCache& cache,
                                            const std::string& login) {
  if (!cache.listContainers || login.empty() || rt.ports.directory == nullptr) return std::nullopt;
  // The listings are matched by A-Z alone: a login beyond ASCII may name a
  // child the directory's own comparison folds differently.
  if (std::any_of(login.begin(), login.end(),
                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    return std::nullopt;
  }
  const std::string key = asciiToLower(login);
  for (const std::string& container :
       {userContainer(rt, login), rt.trim.inactivePath, rt.trim.archivePath}) {
    if (container.empty()) return std::nullopt;
    const MembershipCache::Listing& listing = listContainer(rt, cache, container);
    if (!listing.complete || listing.ambiguous.count(key) != 0) return std::nullopt;
    const auto it = listing.protection.find(key);
    if (it == listing.protection.end()) continue;
    if (!it->second.empty()) return std::nullopt;
    // The path the bind of FjernGruppeMedlem takes, as it spells it.
    return pathFromDn("CN=" + escapeDnValue(login) + "," + container);
  }
  return std::nullopt;
}

int addOneMember(Runtime& rt, DirObject& group, const std::string& name, const std::string& login,
                 const std::string& groupList, const std::string& userPath) {
  const auto report = [&](const ChangeResult& result) {
    rt.recordChange(ChangeAction::kGroupAdd, login, {}, {}, name, result);
  };
  Hresult hr = group.addMember(userPath);
  if (hr < 0 && (hr != kAlreadyExists || rt.settings.LogLevel > 0)) {
    rt.log.reportHresult(hr, "\n** Fejl: Kunne ikke tilføje %s til gruppen %s.\n", login.c_str(),
                         name.c_str());
    report(ChangeResult::of(hr));
    return 1;
  }
  if (hr = group.setInfo(); hr < 0) {
    rt.log.message(1, "\n** Fejl: SetInfo() fejlede. Kunne ikke tilføje %s til gruppen %s.\n",
                   login.c_str(), name.c_str());
    report(ChangeResult::of(hr));
    return 1;
  }
  report(ChangeResult::done());
  rt.log.message(1, "   Bruger ind i gruppe %s -> %s \n", login.c_str(), groupList.c_str());
  return 0;
}

Hresult removeOneMember(Runtime& rt, DirObject& group, const std::string& name,
                        const std::string& login, const std::string& userPath) {
  const Hresult hr = group.removeMember(userPath);
  rt.recordChange(ChangeAction::kGroupRemove, login, {}, name, {}, ChangeResult::of(hr));
  if (hr < 0) {
    rt.log.message(1, "\n** Fejl: Bruger %s kunne ikke fjernes fra gruppen %s\n", login.c_str(),
                   name.c_str());
  } else {
    rt.log.message(1, "   Bruger ud af gruppe %s <- %s \n", login.c_str(), name.c_str());
  }
  (void)group.setInfo();
  return hr;
}

void changeMembersTogether(Runtime& rt, DirObject& group, const std::string& name,
                           const std::vector<MemberChange>& changes) {
  for (std::size_t start = 0; start < changes.size(); start += kMemberBatch) {
    const std::size_t end = std::min(changes.size(), start + kMemberBatch);
    std::vector<std::string> adds, removes;
    std::unordered_set<std::string> added, removed;
    for (std::size_t i = start; i < end; ++i) {
      const MemberChange& c = changes[i];
      (c.remove ? removes : adds).push_back(c.userPath);
      (c.remove ? removed : added).insert(normalizeDn(dnFromPath(c.userPath)));
    }
    // An account named twice (two logins for one account, a login removed
    // and added) must meet the result of each of its changes in turn, which
    // one change per kind would not give.
    bool clash = false;
    for (const std::string& dn : removed) clash = clash || added.count(dn) != 0;
    const auto together = [&](const std::vector<std::string>& paths, std::size_t distinct) {
      return !clash && paths.size() > 1 && distinct == paths.size();
    };
    const bool addedTogether = together(adds, added.size()) && group.addMembers(adds) >= 0;
    const bool removedTogether =
        together(removes, removed.size()) && group.removeMembers(removes) >= 0;
    // Refused together (or one alone): each member on its own, so the one
    // the directory refuses gets its error line and the others their line.
    for (std::size_t i = start; i < end; ++i) {
      const MemberChange& c = changes[i];
      if (c.remove && removedTogether) {
        rt.recordChange(ChangeAction::kGroupRemove, c.login, {}, name, {}, ChangeResult::of(kSOk));
        rt.log.message(1, "   Bruger ud af gruppe %s <- %s \n", c.login.c_str(), name.c_str());
      } else if (c.remove) {
        (void)removeOneMember(rt, group, name, c.login, c.userPath);
      } else if (addedTogether) {
        rt.recordChange(ChangeAction::kGroupAdd, c.login, {}, {}, name, ChangeResult::done());
        rt.log.message(1, "   Bruger ind i gruppe %s -> %s \n", c.login.c_str(),
                       c.groupList.c_str());
      } else {
        (void)addOneMember(rt, group, name, c.login, c.groupList, c.userPath);
      }
    }
  }
}

bool hasSystemMarking(Runtime& rt, DirObject& group) {
  auto marking = readMarking(rt, group);
  return marking && startsWith(*marking, kGroupMarkingText);
}

int TilfoejGruppeMedlem(Runtime& rt, const std::string& login, const std::string& groupList,
                        bool staff, MembershipCache* cache) {
  const Settings& s = rt.settings;
  const Trim& t = rt.trim;
  if (groupList.empty()) {
    rt.log.message(1, "   Bruger %s blev ikke fundet \n", login.c_str());
    return 0;
  }
  std::string userPath;
  if (cache != nullptr && cache->readPopulation && !cache->populationRead) {
    readPopulation(rt, *cache);
  }
  if (cache != nullptr && cache->userPaths.count(login) != 0) {
    userPath = cache->userPaths.at(login);
  } else if (cache != nullptr && cache->readPopulation) {
    // The population read stands for the search of this login.
    const auto it = cache->population.find(toLower(login));
    if (it != cache->population.end() && !it->second.protection.empty()) {
      refuseProtected(rt, "TilfoejGruppeMedlem", login, it->second.path, it->second.protection);
      return 1;
    }
    if (it != cache->population.end()) userPath = it->second.path;
    cache->userPaths.emplace(login, userPath);
  } else {
    // Only the path is wanted: reading the account as well would cost a
    // second round trip per pupil on a school's first sync.
    std::string protection;
    auto user = findUserPathByLogin(rt, t.defaultNamingContext, login, &protection);
    if (!protection.empty()) {
      // Not cached, so every group list that names the account says so.
      refuseProtected(rt, "TilfoejGruppeMedlem", login, user.value, protection);
      return 1;
    }
    if (user.ok()) userPath = user.value;
    if (cache != nullptr) cache->userPaths.emplace(login, userPath);
  }
  const auto report = [&](const std::string& group, const ChangeResult& result) {
    rt.recordChange(ChangeAction::kGroupAdd, login, {}, {}, group, result);
  };
  if (userPath.empty()) {
    report(groupList, ChangeResult::refused("brugeren findes ikke"));
    return 0;
  }

  int status = 0;
  const std::string description = kGroupMarkingText;
  for (const std::string& name : split(groupList, ':')) {
    DirObject* group = nullptr;
    std::unique_ptr<DirObject> bound;
    if (cache != nullptr) {
      if (auto it = cache->groups.find(name); it != cache->groups.end()) group = it->second.get();
    }
    if (group == nullptr) {
      const std::string path = groupPathIn(name, t.GruppePath);
      auto found = bindGroup(rt, path);
      if (!found.ok()) {
        if (auto archived = bindGroup(rt, groupPathIn(name, t.GruppeArkivPath)); archived.ok()) {
          if (s.LogLevel > 0) {
            rt.log.message(
                1, "** Fejl: %s kan ikke tilføjes til %s da gruppen ikke er vedligeholdt af ZEB.\n",
                login.c_str(), name.c_str());
          }
          archiveGroup(rt, archived.value.get(), name);
          report(name, ChangeResult::refused("gruppen er ikke vedligeholdt af ZEB"));
          return 1;
        }
        if (hasSpecialChar(name)) {
          rt.log.message(1, "\n** Fejl: Gruppe navnet må ikke indeholde specialtegn. (%s)\n",
                         name.c_str());
          report(name, ChangeResult::refused("gruppenavnet har specialtegn"));
          return 1;
        }
        (void)OpretGruppe(rt, name, &description, staff);
        found = bindGroup(rt, path);
        if (!found.ok()) {
          rt.log.reportHresult(found.hr, "\n** Fejl: TilfoejGruppeMedlem() - ADsGetObject(%s)\n",
                               path.c_str());
          report(name, ChangeResult::of(found.hr));
          return 1;
        }
      } else if (!hasSystemMarking(rt, *found.value)) {
        // A group the school made by hand sits where the system's groups live
        // (the scan could not archive it): its members are not ours to set.
        rt.log.message(
            1, "** Fejl: %s kan ikke tilføjes til %s da gruppen ikke er vedligeholdt af ZEB.\n",
            login.c_str(), name.c_str());
        report(name, ChangeResult::refused("gruppen er ikke vedligeholdt af ZEB"));
        status = 1;
        continue;
      }
      bound = std::move(found.value);
      group = bound.get();
      if (cache != nullptr) cache->groups.emplace(name, std::move(bound));
    }
    status = addOneMember(rt, *group, name, login, groupList, userPath);
  }
  return status;
}

Hresult FjernGruppeMedlem(Runtime& rt, const std::string& login, DirObject* user,
                          const std::string& groupList) {
  const Trim& t = rt.trim;
  if (groupList.empty()) return kSOk;
  if (rt.ports.directory == nullptr) return kEFail;
  std::string userPath;
  std::string protection;
  if (user != nullptr) {
    userPath = user->adsPath();
    protection = accountProtection(*user);
  } else {
    const std::string containers[] = {userContainer(rt, login), t.inactivePath, t.archivePath};
    for (const std::string& container : containers) {
      const std::string path = pathFromDn("CN=" + escapeDnValue(login) + "," + container);
      if (auto bound = rt.ports.directory->bind(path); bound.ok()) {
        userPath = path;
        protection = accountProtection(*bound.value);
        break;
      }
    }
    if (userPath.empty()) {
      rt.log.message(1, "\n** Fejl: Bruger %s kunne ikke findes i forventet placering.\n",
                     login.c_str());
      rt.recordChange(ChangeAction::kGroupRemove, login, {}, groupList, {},
                      ChangeResult::refused("brugeren findes ikke"));
      if (rt.settings.LogLevel >= 3) {
        rt.log.message(1, "1 LDAP://CN=%s,%s\n", login.c_str(), t.archivePath.c_str());
        rt.log.message(1, "2 LDAP://CN=%s,%s\n", login.c_str(), t.inactivePath.c_str());
        rt.log.message(1, "3 LDAP://CN=%s,%s\n", login.c_str(), userContainer(rt, login).c_str());
      }
      return kEFail;
    }
  }
  if (!protection.empty()) {
    refuseProtected(rt, "FjernGruppeMedlem", login, userPath, protection);
    return kEAccessDenied;
  }

  Hresult last = kSOk;
  for (const std::string& name : split(groupList, ':')) {
    // A name with a comma is a DN below the domain, as the callers that
    // pass several groups write them.
    const std::string path = name.find(',') != std::string::npos
                                 ? "LDAP://" + name + "," + t.defaultNamingContext
                                 : groupPathIn(name, t.GruppePath);
    auto group = bindGroup(rt, path);
    if (!group.ok()) {
      rt.log.reportHresult(group.hr, "\n** Fejl: FjernGruppeMedlem() - ADsGetObject(%s)\n",
                           path.c_str());
      rt.recordChange(ChangeAction::kGroupRemove, login, {}, name, {}, ChangeResult::of(group.hr));
      last = group.hr;
      continue;
    }
    if (!hasSystemMarking(rt, *group.value)) continue;
    last = removeOneMember(rt, *group.value, name, login, userPath);
  }
  return last;
}

}  // namespace tv

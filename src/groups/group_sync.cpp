#include "groups/group_sync.h"

#include <limits>

#include "directory/escape.h"
#include "groups/group_membership.h"
#include "groups/group_operations.h"
#include "runtime/trim.h"
#include "scripts/script_hook.h"
#include "text/text.h"

namespace tv {
namespace {

constexpr int kPageSize = 20;
// The login of a file pair is cut as the user record cuts it, so the pair
// names the account the user sections made.
constexpr std::size_t kLoginChars = 24;
constexpr const char* kAutoCreated = "Autooprettet af ";

struct ScannedGroup {
  std::string name;
  std::string marking;
  std::string path;
  std::string mail;
  bool hasMail = false;
};

// The scan's reading of a group's address stands for the group the address
// is kept on only when that is the same object: the one of that name in the
// groups container.
const std::string* knownMail(const Runtime& rt, const ScannedGroup& g) {
  const bool same =
      dnEquals(dnFromPath(g.path), "CN=" + escapeDnValue(g.name) + "," + rt.trim.GruppePath);
  return same ? &g.mail : nullptr;
}

void classifyGroup(Runtime& rt, const ScannedGroup& g, GroupMemberList& list,
                   const ExceptionList& exceptions, MemberIndex& index) {
  const Settings& s = rt.settings;
  const bool staff = rt.trim.staff;
  const bool autoCreated = g.marking.find(kAutoCreated) != std::string::npos;
  std::string kind;
  if (!autoCreated) {
    kind = "F";
    if (staff) {
      list.push_back({"-", g.name, kind, {}});
      const std::string* mail = knownMail(rt, g);
      if (!s.GruppeMail.empty() &&
          (mail == nullptr || *mail != groupMailName(g.name) + s.GruppeMail)) {
        SetGruppeEmail(rt, g.name);
      }
    }
  } else {
    if (g.marking == "Autooprettet af ZEB (M)") {
      kind = "M";
    } else if (g.marking == "Autooprettet af ZEB (E)") {
      kind = "E";
    }
    // The marking attribute may be "mail" itself: after a repair the address
    // read by the scan is no longer the group's.
    const std::string* mail = knownMail(rt, g);
    if (kind.empty() && g.marking != "Autooprettet af ZEB ()") {
      repairGroupKind(rt, g.name, g.path, kind);
      mail = nullptr;
    }
    if ((kind == "M" && staff) || (kind == "E" && !staff)) {
      FindMembersInGroup(rt, g.name, rt.trim.ZEBPath, list, kind, exceptions, {&index, mail});
    }
  }
  const bool inArchive = g.path.find("Arkiv") != std::string::npos;
  if (inArchive && autoCreated) {
    index.drop();
    (void)restoreGroup(rt, g.name, g.path, rt.trim.GruppeLdapPath);
  } else if (!inArchive && !autoCreated) {
    index.drop();
    archiveGroup(rt, nullptr, g.name);
  }
}

}  // namespace

std::vector<std::string> buildStandardGroupList(std::string_view value) {
  if (value.empty()) return {};
  return split(value, ':');
}

GroupMemberList buildFileGroupMembers(Runtime& rt, JobReader& reader,
                                      const std::vector<std::string>& standardGroups,
                                      const ExceptionList& exceptions) {
  const Settings& s = rt.settings;
  const std::string kind = rt.trim.staff ? "M" : "E";
  GroupMemberList list;
  JobLine line;
  // Whole lines: a field 7 of many groups may run past one 998-character
  // piece and must not turn into a second, bogus user line.
  while (reader.nextWhole(line)) {
    if (line.emptyLine() || startsWith(line.text, "@")) break;
    std::vector<std::string> fields = split(line.text, ';');
    std::string login = cutChars(fields[0], kLoginChars);
    if (login.empty()) continue;
    if (isExcepted(rt.log, s.LogLevel, login, exceptions)) {
      if (s.LogLevel > 0) rt.log.message(1, "Login undtaget fra gruppe %s\n", login.c_str());
      continue;
    }
    if (fields.size() > 7 && !fields[7].empty()) {
      for (std::string& name : split(fields[7], ':')) {
        list.push_back({login, std::move(name), kind, {}});
      }
    }
    for (const std::string& name : standardGroups) list.push_back({login, name, kind, {}});
  }
  return list;
}

const std::vector<std::string>* MemberIndex::membersOf(Runtime& rt, const std::string& systemDn,
                                                       const std::string& groupDn) {
  if (state_ == State::kUnread) {
    state_ = State::kDropped;
    Directory* dir = rt.ports.directory;
    if (dir == nullptr) return nullptr;
    // The same users the per-group search reads; memberOf holds the direct
    // memberships only, as the (memberOf=…) filter matches them.
    std::unordered_map<std::string, std::string> normalised;  // memberOf text -> key
    std::unordered_map<std::string, std::vector<std::string>> members;
    const Hresult hr = dir->search(
        pathFromDn(systemDn), "(&(objectCategory=person)(objectClass=user))", {"Name", "memberOf"},
        SearchScope::kSubtree, kPageSize, [&](const SearchRow& row) {
          const DirAttribute* name = row.find("name");
          const DirAttribute* memberOf = row.find("memberOf");
          if (name == nullptr || name->values.empty() || memberOf == nullptr) return true;
          for (const std::string& group : memberOf->values) {
            auto [it, fresh] = normalised.try_emplace(group);
            if (fresh) it->second = normalizeDn(group);
            members[it->second].push_back(name->values.front());
          }
          return true;
        });
    // A failed read leaves the work to the per-group searches, which report it.
    if (hr < 0) return nullptr;
    members_ = std::move(members);
    systemDn_ = systemDn;
    state_ = State::kRead;
  }
  if (state_ != State::kRead || !dnEquals(systemDn, systemDn_)) return nullptr;
  auto it = members_.find(normalizeDn(groupDn));
  return it == members_.end() ? nullptr : &it->second;
}

void FindMembersInGroup(Runtime& rt, const std::string& groupName, const std::string& systemDn,
                        GroupMemberList& list, const std::string& kind,
                        const ExceptionList& exceptions, const ScanKnowledge& known) {
  const Settings& s = rt.settings;
  Directory* dir = rt.ports.directory;
  if (dir == nullptr) return;
  const std::string groupDn = "cn=" + escapeDnValue(groupName) + "," + rt.trim.GruppePath;
  // An index that finds no member is not trusted with the deletion below:
  // the directory is asked directly whenever the answer would be "empty".
  const std::vector<std::string>* indexed =
      known.members != nullptr ? known.members->membersOf(rt, systemDn, groupDn) : nullptr;
  std::vector<std::string> searched;
  if (indexed == nullptr || indexed->empty()) {
    const std::string filter =
        "(&(objectCategory=person)(objectClass=user)(memberOf=" + escapeFilterValue(groupDn) + "))";
    Hresult hr = dir->search(pathFromDn(systemDn), filter, {"Name"}, SearchScope::kSubtree,
                             kPageSize, [&](const SearchRow& row) {
                               const DirAttribute* name = row.find("name");
                               if (name != nullptr && !name->values.empty()) {
                                 searched.push_back(name->values.front());
                               }
                               return true;
                             });
    if (hr < 0) {
      // The group is left as it is: a failed search says nothing about its members.
      rt.log.reportHresult(hr, "** Fejl: FindMembersInGroup() \n");
      return;
    }
    indexed = &searched;
  }
  for (const std::string& login : *indexed) {
    if (s.LogLevel > 2) {
      rt.log.message(1, "Group Name %s, Group Type %s, String: %s\n", groupName.c_str(),
                     kind.c_str(), login.c_str());
    }
    if (isExcepted(rt.log, s.LogLevel, login, exceptions)) continue;
    list.push_back({login, groupName, kind, {}});
  }
  if (!indexed->empty()) {
    if (!s.GruppeMail.empty() &&
        (known.mail == nullptr || *known.mail != groupMailName(groupName) + s.GruppeMail)) {
      SetGruppeEmail(rt, groupName);
    }
    return;
  }
  // No user below the system container is a member. A member from elsewhere
  // (an account outside the system container, a nested group) still makes
  // the group one the school uses, and deleting it would lose that.
  if (auto group = bindGroup(rt, groupPathIn(groupName, rt.trim.GruppePath)); group.ok()) {
    auto all = group.value->members();
    if (all.ok() && !all.value.empty()) {
      rt.log.message(1, "** Info: Gruppen %s har medlemmer uden for %s og slettes ikke.\n",
                     groupName.c_str(), systemDn.c_str());
      return;
    }
  }
  if (known.members != nullptr) known.members->drop();
  SletGruppe(rt, groupName);
}

GroupMemberList groupScan(Runtime& rt, const ExceptionList& exceptions) {
  const Settings& s = rt.settings;
  GroupMemberList list;
  Directory* dir = rt.ports.directory;
  if (dir == nullptr) return list;
  const std::string& marking = s.ZEBGruppeMarkering;
  // The groups are read first and worked on afterwards: a group moved into
  // the archive must not come round a second time in the same scan.
  std::vector<ScannedGroup> groups;
  Hresult hr =
      dir->search(rt.trim.ZEBLdapPath, "(objectClass=group)", {"ADsPath", "Name", "mail", marking},
                  SearchScope::kSubtree, kPageSize, [&](const SearchRow& row) {
                    ScannedGroup g;
                    g.name = row.first("name");
                    g.path = row.first("ADsPath");
                    if (const DirAttribute* mail = row.find("mail")) {
                      g.hasMail = !mail->values.empty();
                      g.mail = row.first("mail");
                    }
                    // The marking may be "name" or "mail" as well.
                    g.marking = row.first(marking);
                    groups.push_back(std::move(g));
                    return true;
                  });
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl:");
    return list;
  }
  MemberIndex index;
  for (const ScannedGroup& g : groups) {
    if (g.name.empty()) continue;
    classifyGroup(rt, g, list, exceptions, index);
    const bool autoCreated = g.marking.find(kAutoCreated) != std::string::npos;
    if (!g.hasMail && autoCreated && !s.MailenableGruppeScript.empty()) {
      rt.log.message(1, " Mail ikke sat for gruppe %s -> sætter mail.\n", g.name.c_str());
      // The school's script may do anything to the group.
      index.drop();
      runScript(rt, s.MailenableGruppeScript, g.name, "MailenableGruppeScript:");
    }
  }
  return list;
}

Index buildMembershipKeys(GroupMemberList& list) {
  for (GroupMember& m : list) {
    // A-Z only; other letters stay as written.
    m.group = asciiToLower(m.group);
    m.login = asciiToLower(m.login);
    m.key = toLower(m.group) + '\x01' + toLower(m.login);
  }
  return buildIndex(
      list, [](const GroupMember& m) -> const std::string& { return m.key; },
      std::numeric_limits<std::size_t>::max());
}

void membershipMerge(Runtime& rt, const GroupMemberList& directory, const Index& directoryIndex,
                     const GroupMemberList& file, const Index& fileIndex, bool staff) {
  const Settings& s = rt.settings;
  MembershipCache cache;
  // Changes for one group whose accounts and group are already known wait
  // here and go to the directory together (see changeMembersTogether). Their
  // lines are written then, so whatever else the merge logs first lets
  // them go.
  std::vector<MemberChange> waiting;
  std::string waitingGroup;
  const auto flush = [&]() {
    if (waiting.empty()) return;
    changeMembersTogether(rt, *cache.groups.at(waitingGroup), waitingGroup, waiting);
    waiting.clear();
  };
  const auto wait = [&](const std::string& group, MemberChange change) {
    if (waitingGroup != group) flush();
    waitingGroup = group;
    waiting.push_back(std::move(change));
    if (waiting.size() >= kMemberBatch) flush();
  };
  {
    // Many adds (a school's first group sync): every account is read at once
    // rather than one search per login. Many removes (the end of a school
    // year): the containers a removed login is looked for in are listed once
    // rather than binding up to three names per login.
    std::size_t adds = 0;
    std::size_t removes = 0;
    std::size_t f = 0, d = 0;
    while (f < fileIndex.size() || d < directoryIndex.size()) {
      const int order = f >= fileIndex.size() ? 1
                        : d >= directoryIndex.size()
                            ? -1
                            : file[fileIndex[f]].key.compare(directory[directoryIndex[d]].key);
      if (order < 0) ++adds;
      if (order > 0 && directory[directoryIndex[d]].login != "-") ++removes;
      if (order <= 0) ++f;
      if (order >= 0) ++d;
    }
    constexpr std::size_t kAddsForPopulationRead = 100;
    constexpr std::size_t kRemovesForContainerListing = 100;
    cache.readPopulation = adds >= kAddsForPopulationRead;
    cache.listContainers = removes >= kRemovesForContainerListing;
  }
  // The group a remove of FjernGruppeMedlem would bind, when it is bound
  // and marked; null when the remove must go through FjernGruppeMedlem.
  const auto removableGroup = [&](const std::string& name) -> DirObject* {
    // A name with a comma is a DN to FjernGruppeMedlem, another group than
    // the one of that name the adds fill.
    if (!cache.listContainers || name.find(',') != std::string::npos) return nullptr;
    if (auto it = cache.groups.find(name); it != cache.groups.end()) return it->second.get();
    if (cache.unremovableGroups.count(name) != 0) return nullptr;
    auto group = bindGroup(rt, groupPathIn(name, rt.trim.GruppePath));
    if (!group.ok() || !hasSystemMarking(rt, *group.value)) {
      cache.unremovableGroups.insert(name);
      return nullptr;
    }
    DirObject* bound = group.value.get();
    cache.groups.emplace(name, std::move(group.value));
    return bound;
  };
  auto add = [&](const GroupMember& m) {
    if (s.IDrift) {
      const auto group = cache.groups.find(m.group);
      const auto path =
          group != cache.groups.end() ? knownMemberPath(cache, m.login) : std::nullopt;
      if (path) {
        wait(m.group, {false, m.login, m.group, *path});
        return;
      }
      flush();
      (void)TilfoejGruppeMedlem(rt, m.login, m.group, staff, &cache);
    } else {
      rt.log.message(1, "   IDrift = 0: Test af TilfoejGruppeMedlem %s -> %s \n", m.login.c_str(),
                     m.group.c_str());
      rt.recordChange(ChangeAction::kGroupAdd, m.login, {}, {}, m.group, ChangeResult::test());
    }
  };
  auto remove = [&](const GroupMember& m) {
    if (m.login == "-") return;
    if (s.IDrift) {
      if (const auto path = knownRemovalPath(rt, cache, m.login)) {
        if (removableGroup(m.group) != nullptr) {
          wait(m.group, {true, m.login, m.group, *path});
          return;
        }
      }
      flush();
      (void)FjernGruppeMedlem(rt, m.login, nullptr, m.group);
    } else {
      flush();
      rt.log.message(1, "   IDrift = 0: Test af FjernGruppeMedlem %s <- %s \n", m.login.c_str(),
                     m.group.c_str());
      rt.recordChange(ChangeAction::kGroupRemove, m.login, {}, m.group, {}, ChangeResult::test());
    }
  };
  std::size_t f = 0;
  std::size_t d = 0;
  while (f < fileIndex.size() && d < directoryIndex.size()) {
    const GroupMember& fr = file[fileIndex[f]];
    const GroupMember& dr = directory[directoryIndex[d]];
    const int order = fr.key.compare(dr.key);
    if (order < 0) {
      add(fr);
      ++f;
    } else if (order > 0) {
      remove(dr);
      ++d;
    } else {
      if (s.LogLevel >= 1) {
        flush();
        rt.log.message(1, "   Bruger i gruppe OK %s - %s \n", dr.login.c_str(), dr.group.c_str());
      }
      ++f;
      ++d;
    }
  }
  for (; d < directoryIndex.size(); ++d) remove(directory[directoryIndex[d]]);
  for (; f < fileIndex.size(); ++f) add(file[fileIndex[f]]);
  flush();
}

void groupSync(Runtime& rt, JobReader& reader, bool staff) {
  const Settings& s = rt.settings;
  if (staff) {
    selectStaff(rt);
  } else {
    selectPupils(rt);
  }
  const ExceptionList exceptions = exceptionListFor(s, staff);
  const std::vector<std::string> standardGroups =
      buildStandardGroupList(staff ? s.GroupListMeda : s.GroupListElev);
  GroupMemberList file = buildFileGroupMembers(rt, reader, standardGroups, exceptions);
  GroupMemberList directory = groupScan(rt, exceptions);
  rt.log.message(1, "  StandardGruppeListeAntal: %d, FilGrpMedlemAntal: %d, AdGrpMedlemAntal: %d\n",
                 static_cast<int>(standardGroups.size()), static_cast<int>(file.size()),
                 static_cast<int>(directory.size()));
  const Index fileIndex = buildMembershipKeys(file);
  const Index directoryIndex = buildMembershipKeys(directory);
  if (s.LogLevel > 2) {
    rt.log.message(1, "START NY LOG FIL\n");
    for (std::uint32_t i : fileIndex) {
      rt.log.message(1, "%s, %s, %s\n", file[i].login.c_str(), file[i].group.c_str(),
                     file[i].key.c_str());
    }
    rt.log.message(1, "START NY LOG AD\n");
    for (std::uint32_t i : directoryIndex) {
      rt.log.message(1, "%s, %s, %s\n", directory[i].login.c_str(), directory[i].group.c_str(),
                     directory[i].key.c_str());
    }
  }
  membershipMerge(rt, directory, directoryIndex, file, fileIndex, staff);
}

}  // namespace tv

// The group sync of a job: after the user sections, the system's own groups
// are brought in line with the groups of a full-list section.
//
// Two lists of (login, group) pairs are built: the pairs the job file wants
// (each user line's field 7 and the population's standard groups) and the
// pairs the directory has (the members of the population's auto-created
// groups, found by the group scan). Both are sorted by one membership key
// and merged in one pass: a pair only in the file is added, a pair only in
// the directory is removed. The scan also archives groups without the
// system's marking, brings auto-created groups back from the archive,
// repairs the kind in a marking, deletes auto-created groups that have no
// members and keeps group addresses.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "jobdata/exception_list.h"
#include "jobdata/job_reader.h"
#include "runtime/runtime.h"
#include "users/user_queries.h"

namespace tv {

// One (login, group) pair. login is "-" in the placeholder of a group
// without the marking.
struct GroupMember {
  std::string login;
  std::string group;  // the group's name, without "CN="
  std::string kind;   // "M", "E", "F" or ""
  std::string key;    // the membership key, see buildMembershipKeys
};

using GroupMemberList = std::vector<GroupMember>;

// Runs the group sync for one population from the reader, positioned just
// after that population's "@*" header. staff: 1 staff, 0 pupils.
void groupSync(Runtime& rt, JobReader& reader, bool staff);

// The names of a standard group list ("Alle:Lærere"); empty names between
// separators are kept, an empty value gives no names.
[[nodiscard]] std::vector<std::string> buildStandardGroupList(std::string_view value);

// The pairs the section's lines want, read up to the end of the section.
// Logins on the exception list give none.
GroupMemberList buildFileGroupMembers(Runtime& rt, JobReader& reader,
                                      const std::vector<std::string>& standardGroups,
                                      const ExceptionList& exceptions);

// Reads every group below the system container, classifies it and collects
// the members of the current population's auto-created groups.
GroupMemberList groupScan(Runtime& rt, const ExceptionList& exceptions);

// The users below a container with the groups each is a direct member of,
// read in one paged search. During the scan it stands in for a memberOf
// search per group, which costs a round trip per group and reads the big
// standard groups whole, once per group. It answers only while nothing has
// been moved or deleted since it was read; the scan drops it at every such
// change and FindMembersInGroup then searches the directory again.
class MemberIndex {
 public:
  // The logins that are members of groupDn, read below systemDn; null when
  // the index cannot answer (a failed read, another container, dropped).
  const std::vector<std::string>* membersOf(Runtime& rt, const std::string& systemDn,
                                            const std::string& groupDn);
  void drop() { state_ = State::kDropped; }

 private:
  enum class State { kUnread, kRead, kDropped };
  State state_ = State::kUnread;
  std::string systemDn_;
  std::unordered_map<std::string, std::vector<std::string>> members_;  // by normalised group DN
};

// What the scan already read about a group, so that FindMembersInGroup need
// not ask the directory again.
struct ScanKnowledge {
  MemberIndex* members = nullptr;
  const std::string* mail = nullptr;  // the group's address as read, null when unknown
};

// Appends the users below systemDn that are members of the group (found in
// the groups container) to list; excepted logins are left out of the list
// but still count as members. A group with members gets its address (with
// `GruppeMail`); a group with none is deleted.
void FindMembersInGroup(Runtime& rt, const std::string& groupName, const std::string& systemDn,
                        GroupMemberList& list, const std::string& kind,
                        const ExceptionList& exceptions, const ScanKnowledge& known = {});

// Lower-cases group and login (A to Z) in every record and sets its key:
// group, U+0001, login, each folded to lower case including the Danish
// letters, so the merge never tells "Ærø" from "ærø" apart. The index of the
// list sorted by key in code-point order.
Index buildMembershipKeys(GroupMemberList& list);

// The one linear merge of the two sorted lists: adds, removes and the "OK"
// lines, or in test mode their test lines.
void membershipMerge(Runtime& rt, const GroupMemberList& directory, const Index& directoryIndex,
                     const GroupMemberList& file, const Index& fileIndex, bool staff);

}  // namespace tv

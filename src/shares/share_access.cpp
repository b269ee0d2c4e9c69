#include "shares/share_access.h"

#include <algorithm>

namespace tv {

std::vector<AccessEntry> folderAccess(const std::string& accountSid, std::uint32_t mask) {
  const std::uint8_t inherit = kObjectInherit | kContainerInherit;
  return {
      {accountSid, mask == 0 ? kAllAccess : mask, inherit, AccessEntry::kAllow},
      {kAdministratorsSid, kAllAccess, inherit, AccessEntry::kAllow},
      {kSystemSid, kAllAccess, inherit, AccessEntry::kAllow},
  };
}

std::vector<AccessEntry> mergeAccess(const std::vector<AccessEntry>& current,
                                     const std::vector<AccessEntry>& entries) {
  auto replaced = [&](const AccessEntry& e) {
    return (e.flags & kInheritedEntry) == 0 &&
           std::any_of(entries.begin(), entries.end(),
                       [&](const AccessEntry& n) { return n.sid == e.sid; });
  };
  std::vector<AccessEntry> out;
  for (const AccessEntry& e : current) {
    if ((e.flags & kInheritedEntry) == 0 && e.type == AccessEntry::kDeny && !replaced(e)) {
      out.push_back(e);
    }
  }
  out.insert(out.end(), entries.begin(), entries.end());
  for (const AccessEntry& e : current) {
    if ((e.flags & kInheritedEntry) == 0 && e.type != AccessEntry::kDeny && !replaced(e)) {
      out.push_back(e);
    }
  }
  for (const AccessEntry& e : current) {
    if ((e.flags & kInheritedEntry) != 0) out.push_back(e);
  }
  return out;
}

}  // namespace tv

// The access list every folder made here gets: the account with its mask,
// BUILTIN Administrators and SYSTEM with all access, each handed down to
// sub-folders and files; and how those entries merge into a list a folder
// already has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/file_server.h"

namespace tv {

inline constexpr const char* kAdministratorsSid = "S-1-5-32-544";
inline constexpr const char* kSystemSid = "S-1-5-18";

// The three entries in their order; a mask of 0 means all access.
[[nodiscard]] std::vector<AccessEntry> folderAccess(const std::string& accountSid,
                                                    std::uint32_t mask);

// The entries set into current the way an entry "set" replaces a trustee's
// explicit entries: explicit entries of those trustees are dropped, every
// other entry is kept, inherited ones included. Order: explicit denials,
// the new entries, other explicit entries, inherited entries.
[[nodiscard]] std::vector<AccessEntry> mergeAccess(const std::vector<AccessEntry>& current,
                                                   const std::vector<AccessEntry>& entries);

}  // namespace tv

// Home, profile and group folders with their access lists, and the file
// shares over them. The user operations and the group operations call these
// by name.
#pragma once

#include <optional>
#include <string>

#include "directory/directory.h"
#include "jobdata/file_user.h"
#include "service/runtime.h"

namespace tv {

// 0, or 1 when the user's security identifier was not found.
int CreateSecureFolder(Runtime& rt, FileUser& user, bool merge);
void CreateSecureGroupFolder(Runtime& rt, const std::string& groupName);
// "S-1-5-…", or none once the waits are spent.
std::optional<std::string> GetSidForAccount(Runtime& rt, const std::string& system,
                                            const std::string& account);

void OpretFileshare(Runtime& rt, FileUser& user, DirObject& object);
void ShareFolder(Runtime& rt, FileUser& user, bool hidden);
Hresult UnShareFolder(Runtime& rt, const std::string& shareRoot, const std::string& name,
                      bool hidden);
void RenameFileShares(Runtime& rt, FileUser& user);
int CheckFileShares(Runtime& rt, FileUser& user, DirObject& object);
void GroupShare(Runtime& rt, const std::string& groupName, bool hidden);

}  // namespace tv

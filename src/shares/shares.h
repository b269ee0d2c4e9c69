// Home, profile and group folders with their access lists, and the file
// shares over them. The user operations and the group operations call these
// by name; they reach the file server through Runtime::ports.files and the
// accounts' identifiers through the directory.
#pragma once

#include <optional>
#include <string>

#include "directory/directory.h"
#include "jobdata/file_user.h"
#include "runtime/runtime.h"

namespace tv {

// 0, or 1 when the user's security identifier was not found (or there is no
// file server to make the folder on).
int CreateSecureFolder(Runtime& rt, FileUser& user, bool merge);
void CreateSecureGroupFolder(Runtime& rt, const std::string& groupName);
// "S-1-5-…", or none once the waits are spent. The system name is not used:
// identifiers come from the domain's directory.
std::optional<std::string> GetSidForAccount(Runtime& rt, const std::string& system,
                                            const std::string& account);

void OpretFileshare(Runtime& rt, FileUser& user, DirObject& object);
void ShareFolder(Runtime& rt, FileUser& user, bool hidden);
Hresult UnShareFolder(Runtime& rt, const std::string& shareRoot, const std::string& name,
                      bool hidden);
void RenameFileShares(Runtime& rt, FileUser& user);
int CheckFileShares(Runtime& rt, FileUser& user, DirObject& object);
void GroupShare(Runtime& rt, const std::string& groupName, bool hidden);

// 1 when the login's share is missing or points elsewhere than the login's
// folder below the server-local root, else 0.
int ShareCheck(Runtime& rt, const std::string& server, const std::string& login, bool hidden);

}  // namespace tv

// Folders and shares on the file server are not part of this build yet. Each
// operation refuses with an error line that names it, so no account is told
// it has a home folder that was never made.
#include "shares/shares.h"

namespace tv {
namespace {

void refuse(Runtime& rt, const char* operation, const std::string& name) {
  rt.log.message(1, "** Fejl: %s er ikke tilgængelig i denne version - %s.\n", operation,
                 name.c_str());
}

}  // namespace

int CreateSecureFolder(Runtime& rt, FileUser& user, bool) {
  refuse(rt, "CreateSecureFolder", user.login);
  return 1;
}

void CreateSecureGroupFolder(Runtime& rt, const std::string& groupName) {
  refuse(rt, "CreateSecureGroupFolder", groupName);
}

std::optional<std::string> GetSidForAccount(Runtime& rt, const std::string&,
                                            const std::string& account) {
  refuse(rt, "GetSidForAccount", account);
  return std::nullopt;
}

void OpretFileshare(Runtime& rt, FileUser& user, DirObject&) {
  refuse(rt, "OpretFileshare", user.login);
}

void ShareFolder(Runtime& rt, FileUser& user, bool) {
  refuse(rt, "ShareFolder", user.login);
}

Hresult UnShareFolder(Runtime& rt, const std::string&, const std::string& name, bool) {
  refuse(rt, "UnShareFolder", name);
  return kENotImpl;
}

void RenameFileShares(Runtime& rt, FileUser& user) {
  refuse(rt, "RenameFileShares", user.login);
}

int CheckFileShares(Runtime& rt, FileUser& user, DirObject&) {
  refuse(rt, "CheckFileShares", user.login);
  return 0;
}

void GroupShare(Runtime& rt, const std::string& groupName, bool) {
  refuse(rt, "GroupShare", groupName);
}

}  // namespace tv

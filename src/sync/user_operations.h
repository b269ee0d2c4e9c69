// The per-user operations the synchronisation pass hands its decisions to:
// create or re-enable, update, deactivate, and the single-attribute write.
#pragma once

#include <string_view>

#include "directory/directory.h"
#include "directory/user_queries.h"
#include "jobdata/file_user.h"
#include "service/runtime.h"

namespace tv {

// 0 when the directory holds no user with the record's identification or
// login; otherwise the existing user has been dealt with.
int TjekEksisterendeBruger(Runtime& rt, FileUser& user);
void OpretBruger(Runtime& rt, FileUser& user);
void OpdaterBruger(Runtime& rt, DirUser& dirUser, FileUser& fileUser);
void NedlaegBruger(Runtime& rt, const DirUser& dirUser);

// Writes value to attr of object when it differs (an empty value clears it),
// logs the change and commits. Leading "*" of the value are dropped.
void SaetAttribut(Runtime& rt, std::string_view login, DirObject& object, std::string_view attr,
                  std::string_view value);

}  // namespace tv

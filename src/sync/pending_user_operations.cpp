// The live user operations are not part of this build yet. Each refuses with
// an error line that names it and changes nothing, so a live run can never
// look as if it had created, updated or deactivated anyone.
#include "sync/user_operations.h"

namespace tv {
namespace {

void refuse(Runtime& rt, const char* operation, const std::string& login) {
  rt.log.message(1, "** Fejl: %s er ikke tilgængelig i denne version - %s ændres ikke.\n",
                 operation, login.c_str());
}

}  // namespace

int TjekEksisterendeBruger(Runtime& rt, FileUser& user) {
  refuse(rt, "TjekEksisterendeBruger", user.login);
  return 1;  // handled: OpretBruger must not run on an unchecked user
}

void OpretBruger(Runtime& rt, FileUser& user) {
  refuse(rt, "OpretBruger", user.login);
}

void OpdaterBruger(Runtime& rt, DirUser& dirUser, FileUser&) {
  refuse(rt, "OpdaterBruger", dirUser.accountName);
}

void NedlaegBruger(Runtime& rt, const DirUser& dirUser) {
  refuse(rt, "NedlaegBruger", dirUser.accountName);
}

}  // namespace tv

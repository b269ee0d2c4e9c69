// The group sync is not part of this build yet. It says so in the log rather
// than leaving a run that looks as if the groups were in order.
#include "groups/group_sync.h"

namespace tv {

void groupSync(Runtime& rt, JobReader&, bool staff) {
  rt.log.message(1,
                 "** Fejl: Gruppesynkronisering er ikke tilgængelig i denne version - %s "
                 "grupper ændres ikke.\n",
                 staff ? "Medarbejder" : "Elev");
}

}  // namespace tv

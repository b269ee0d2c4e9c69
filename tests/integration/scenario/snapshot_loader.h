// Puts a directory snapshot (the LDIF a scenario starts from) into the test
// domain controller, so a scenario can run against the real thing: the
// school's subtree is cleared, and the snapshot's entries below the domain
// root are added parents first. Attributes the server computes or refuses
// (objectGUID, objectSid, name, objectCategory, timestamps, memberOf …) are
// left out. An account the snapshot shows enabled or disabled without
// "password not required" gets a password first, because a domain controller
// keeps an account without one at 546; then its flags. Group members are
// added after all entries exist, since the snapshot may name a member before
// it.
#pragma once

#include <string>
#include <string_view>

#include "integration/samba/samba_env.h"

namespace tv::test {

// "" when the snapshot is in the domain, else what went wrong ("add CN=x,…:
// 19 Constraint violation …").
[[nodiscard]] std::string loadSnapshot(const SambaDc& dc, std::string_view ldif);

}  // namespace tv::test

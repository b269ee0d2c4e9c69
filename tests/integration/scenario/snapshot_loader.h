// Puts a directory snapshot (the LDIF a scenario starts from) into a domain
// controller through the directory port, so a scenario can run against the
// real thing over whichever adapter the platform has: the school's subtree
// is cleared, and the snapshot's entries below the domain root are added
// parents first. Attributes the server computes or refuses (objectGUID,
// objectSid, name, objectCategory, timestamps, memberOf …) are left out. An
// account the snapshot shows enabled or disabled without "password not
// required" gets a password first, because a domain controller keeps an
// account without one at 546; then its flags. Group members are added after
// all entries exist, since the snapshot may name a member before it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "directory/directory.h"

namespace tv::test {

// "" when the snapshot is in the domain below baseDn, else what went wrong
// ("add CN=x,…: hresult 0x80071392").
[[nodiscard]] std::string loadSnapshot(Directory& directory, const std::string& baseDn,
                                       std::string_view ldif);

// Named normalisation "order of accounts sharing an identification": the
// memory directory returns siblings by name, a domain controller in the
// order of their objectGUIDs, which are random and cannot be given on an
// add. Where two accounts share an identification the job's log depends on
// which comes first, so a caller loads the snapshot again until this holds
// (half the time per pair).
[[nodiscard]] bool sharedIdentificationsInNameOrder(Directory& directory,
                                                    const std::string& baseDn);

// The scenario folders below the given roots, sorted, and a test name for
// one of them ("data_damaged_job" for …/scenario/data/damaged-job).
[[nodiscard]] std::vector<std::string> scenarioFolders(const std::vector<std::string>& roots);
[[nodiscard]] std::string scenarioTestName(const std::string& folder);

}  // namespace tv::test

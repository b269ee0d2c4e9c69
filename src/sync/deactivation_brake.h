// The mass-deactivation brake. A register export that arrives empty or
// half-empty is still a full list, and the full-list rule would deactivate
// every account it lacks: a whole school overnight. With `NedlaegGraense` set,
// one full-list pass may deactivate at most that share (in percent) of the
// population's enabled accounts, and never fewer than `NedlaegGraenseMin`
// accounts; a pass that would deactivate more deactivates nobody, says so
// in one error line (log file and event log), and still creates and updates.
// A later job under the limit proceeds as usual. Only enabled accounts
// count: a disabled account on the pass's list is only tidied into the
// inactive container, which takes nobody's access away. Explicit leavers
// ("@-" sections) are never braked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/settings.h"
#include "runtime/runtime.h"
#include "users/user_queries.h"

namespace tv {

struct DeactivationBrake {
  std::size_t wouldDeactivate = 0;  // enabled accounts the pass would disable
  std::size_t enabled = 0;          // enabled accounts of the population
  std::size_t limit = 0;            // the most one pass may disable
  bool braked = false;
};

// The brake's verdict for a pass; never braked with NedlaegGraense at 0.
[[nodiscard]] DeactivationBrake deactivationBrake(const Settings& s, std::size_t wouldDeactivate,
                                                  std::size_t enabled);

// Whether a listed account is disabled, by the userAccountControl of its list row.
[[nodiscard]] bool listedDisabled(const DirUser& user);

// Weighs the pass's deactivate list (positions in dir) against the brake;
// when braked, logs the error line, records each account it keeps in the
// change report, and gives true: the pass must then deactivate nobody.
bool brakeDeactivations(Runtime& rt, const std::vector<DirUser>& dir,
                        const std::vector<std::uint32_t>& toDeactivate);

}  // namespace tv

#include "sync/deactivation_brake.h"

#include <algorithm>
#include <cstdlib>

#include "text/text.h"

namespace tv {
namespace {

constexpr std::int64_t kAccountDisabled = 0x2;

}  // namespace

DeactivationBrake deactivationBrake(const Settings& s, std::size_t wouldDeactivate,
                                    std::size_t enabled) {
  DeactivationBrake b;
  b.wouldDeactivate = wouldDeactivate;
  b.enabled = enabled;
  if (s.NedlaegGraense <= 0) {
    b.limit = enabled;
    return b;
  }
  const std::size_t share = enabled * static_cast<std::size_t>(s.NedlaegGraense) / 100;
  b.limit = std::max(share, static_cast<std::size_t>(std::max(0, s.NedlaegGraenseMin)));
  b.braked = wouldDeactivate > b.limit;
  return b;
}

bool listedDisabled(const DirUser& user) {
  if (!user.row) return false;
  const std::string flags = user.row->first("userAccountControl");
  return (std::atoll(flags.c_str()) & kAccountDisabled) != 0;
}

bool brakeDeactivations(Runtime& rt, const std::vector<DirUser>& dir,
                        const std::vector<std::uint32_t>& toDeactivate) {
  const Settings& s = rt.settings;
  if (s.NedlaegGraense <= 0) return false;
  const auto enabled = static_cast<std::size_t>(
      std::count_if(dir.begin(), dir.end(), [](const DirUser& u) { return !listedDisabled(u); }));
  const auto wouldDeactivate = static_cast<std::size_t>(
      std::count_if(toDeactivate.begin(), toDeactivate.end(),
                    [&dir](std::uint32_t d) { return !listedDisabled(dir[d]); }));
  const DeactivationBrake b = deactivationBrake(s, wouldDeactivate, enabled);
  if (!b.braked) return false;
  rt.log.message(lvl::kFile | lvl::kEvent | lvl::kError,
                 "** Fejl: Nedlæggelsesbremse for '%s': %zu af %zu aktive brugere skulle gøres "
                 "inaktive, grænsen er %zu (NedlaegGraense=%d%%, NedlaegGraenseMin=%d). Ingen "
                 "brugere gøres inaktive i denne kørsel.\n",
                 rt.trim.label.c_str(), b.wouldDeactivate, b.enabled, b.limit, s.NedlaegGraense,
                 s.NedlaegGraenseMin);
  const ChangeResult kept = ChangeResult::refused(
      format("nedlæggelsesbremse (%zu af %zu, grænse %zu)", b.wouldDeactivate, b.enabled, b.limit));
  for (std::uint32_t d : toDeactivate) {
    if (!listedDisabled(dir[d]))
      rt.recordChange(ChangeAction::kDeactivate, dir[d].accountName, {}, {}, {}, kept);
  }
  return true;
}

}  // namespace tv

// SaetAttribut: the one way a single attribute of a user is written. A field
// map may name an attribute by the Windows user interface's property name
// (FirstName …); the directory knows only the stored name, and a write under
// the other name would never arrive.
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {

void SaetAttribut(Runtime& rt, std::string_view login, DirObject& object, std::string_view attr,
                  std::string_view value) {
  while (!value.empty() && value.front() == '*') value.remove_prefix(1);
  const std::string a(attr), v(value), l(login);
  const std::string_view stored = storedAttributeName(attr);
  auto current = object.get(stored);
  if (current.ok() && current.value == v) return;
  Hresult cleared = kSOk;
  if (!v.empty()) {
    (void)object.put(stored, v);
    if (current.ok()) {
      rt.log.message(1, "      %s: '%s' rettes til '%s' for bruger: '%s'\n", a.c_str(),
                     current.value.c_str(), v.c_str(), l.c_str());
    } else {
      rt.log.message(1, "      %s sættes til '%s' for bruger: '%s'\n", a.c_str(), v.c_str(),
                     l.c_str());
    }
  } else if (current.ok() && object.typeOf(stored) != AdsType::kOctetString) {
    if (cleared = object.clear(stored); cleared >= 0) {
      rt.log.message(1, "      %s '%s' nulstilles for bruger: %s\n", a.c_str(),
                     current.value.c_str(), l.c_str());
    } else {
      rt.log.message(1, "**Fejl: %s kunne ikke blive nulstillet for bruger: %s\n", a.c_str(),
                     l.c_str());
    }
  } else {
    return;
  }
  // The line above told the change as made; a directory that refuses it
  // (a value too long, an attribute its schema lacks) must be told as well.
  Hresult hr = object.setInfo();
  if (hr < 0) {
    rt.log.reportHresult(hr, "** Fejl: SaetAttribut(%s) - SetInfo('%s')\n", l.c_str(), a.c_str());
  }
  rt.recordChange(ChangeAction::kUpdate, l, a, current.ok() ? current.value : "", v,
                  ChangeResult::of(cleared < 0 ? cleared : hr));
}

}  // namespace tv

#include "sync/user_operations.h"

namespace tv {

void SaetAttribut(Runtime& rt, std::string_view login, DirObject& object, std::string_view attr,
                  std::string_view value) {
  while (!value.empty() && value.front() == '*') value.remove_prefix(1);
  const std::string a(attr), v(value), l(login);
  auto current = object.get(attr);
  if (current.ok() && current.value == v) return;
  if (!v.empty()) {
    (void)object.put(attr, v);
    if (current.ok()) {
      rt.log.message(1, "      %s: '%s' rettes til '%s' for bruger: '%s'\n", a.c_str(),
                     current.value.c_str(), v.c_str(), l.c_str());
    } else {
      rt.log.message(1, "      %s sættes til '%s' for bruger: '%s'\n", a.c_str(), v.c_str(),
                     l.c_str());
    }
  } else if (current.ok() && object.typeOf(attr) != AdsType::kOctetString) {
    if (object.clear(attr) >= 0) {
      rt.log.message(1, "      %s '%s' nulstilles for bruger: %s\n", a.c_str(),
                     current.value.c_str(), l.c_str());
    } else {
      rt.log.message(1, "**Fejl: %s kunne ikke blive nulstillet for bruger: %s\n", a.c_str(),
                     l.c_str());
    }
  } else {
    return;
  }
  (void)object.setInfo();
}

}  // namespace tv

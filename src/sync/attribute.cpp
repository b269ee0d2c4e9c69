// SaetAttribut: the one way a single attribute of a user is written. A field
// map may name an attribute by the Windows user interface's property name
// (FirstName …); the directory knows only the stored name, and a write under
// the other name would never arrive.
#include "sync/user_operations.h"
#include "text/text.h"

namespace tv {

void SaetAttribut(Runtime& rt, std::string_view login, DirObject& object, std::string_view attr,
                  std::string_view value) {
  AttributeWriter writer(rt, login, object);
  writer.set(attr, value);
  writer.flush();
}

void AttributeWriter::set(std::string_view attr, std::string_view value) {
  while (!value.empty() && value.front() == '*') value.remove_prefix(1);
  const std::string a(attr), v(value);
  const char* l = login_.c_str();
  const std::string_view stored = storedAttributeName(attr);
  // A second write of a waiting attribute must read what the first one
  // committed, as it would one after the other.
  for (const Pending& p : pending_) {
    if (asciiEqualsIgnoreCase(p.stored, stored)) {
      flush();
      break;
    }
  }
  auto current = object_.get(stored);
  if (current.ok() && current.value == v) return;
  if (!v.empty()) {
    (void)object_.put(stored, v);
    pending_.push_back({a, std::string(stored), v,
                        current.ok() ? std::optional<std::string>(current.value) : std::nullopt});
    return;
  }
  if (!current.ok() || object_.typeOf(stored) == AdsType::kOctetString) return;
  // A clear is committed on its own, after what waits.
  flush();
  Hresult cleared = object_.clear(stored);
  if (cleared >= 0) {
    rt_.log.message(1, "      %s '%s' nulstilles for bruger: %s\n", a.c_str(),
                    current.value.c_str(), l);
  } else {
    rt_.log.message(1, "**Fejl: %s kunne ikke blive nulstillet for bruger: %s\n", a.c_str(), l);
  }
  // The line above told the change as made; a directory that refuses it
  // (a value too long, an attribute its schema lacks) must be told as well.
  Hresult hr = object_.setInfo();
  if (hr < 0) {
    rt_.log.reportHresult(hr, "** Fejl: SaetAttribut(%s) - SetInfo('%s')\n", l, a.c_str());
  }
  rt_.recordChange(ChangeAction::kUpdate, login_, a, current.value, v,
                   ChangeResult::of(cleared < 0 ? cleared : hr));
}

void AttributeWriter::logSet(const Pending& p) {
  if (p.before) {
    rt_.log.message(1, "      %s: '%s' rettes til '%s' for bruger: '%s'\n", p.attr.c_str(),
                    p.before->c_str(), p.value.c_str(), login_.c_str());
  } else {
    rt_.log.message(1, "      %s sættes til '%s' for bruger: '%s'\n", p.attr.c_str(),
                    p.value.c_str(), login_.c_str());
  }
}

void AttributeWriter::report(const Pending& p, Hresult hr) {
  if (hr < 0) {
    rt_.log.reportHresult(hr, "** Fejl: SaetAttribut(%s) - SetInfo('%s')\n", login_.c_str(),
                          p.attr.c_str());
  }
  rt_.recordChange(ChangeAction::kUpdate, login_, p.attr, p.before.value_or(""), p.value,
                   ChangeResult::of(hr));
}

void AttributeWriter::flush() {
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
  if (pending.empty()) return;
  if (pending.size() == 1) {
    logSet(pending.front());
    report(pending.front(), object_.setInfo());
    return;
  }
  const Hresult joint = object_.setInfo();
  if (joint >= 0) {
    for (const Pending& p : pending) {
      logSet(p);
      report(p, joint);
    }
    return;
  }
  // Refused together (the queue is gone, and a modify that failed on an
  // attribute the schema lacks may have written the others): each value
  // again on its own, so every attribute gets the line and the result it
  // would have had alone. Writing a value that is already there succeeds.
  for (const Pending& p : pending) {
    logSet(p);
    (void)object_.put(p.stored, p.value);
    report(p, object_.setInfo());
  }
}

}  // namespace tv

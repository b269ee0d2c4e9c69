// Ownership of what libldap hands out: each result, BER element, value
// array, string and control is freed by its own libldap call when its owner
// goes out of scope, on every path out of a function. And the berval and
// LDAPMod arrays libldap reads the values of a change from.
#pragma once

#include <ldap.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ldap/ldap_client.h"

namespace tv::ldap {

struct MessageFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
struct BerFree {
  void operator()(BerElement* b) const { ber_free(b, 0); }
};
struct ValuesFree {
  void operator()(berval** v) const { ldap_value_free_len(v); }
};
struct TextFree {
  void operator()(char* p) const { ldap_memfree(p); }
};
struct ControlFree {
  void operator()(LDAPControl* c) const { ldap_control_free(c); }
};
struct ControlsFree {
  void operator()(LDAPControl** c) const { ldap_controls_free(c); }
};

using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;
using BerPtr = std::unique_ptr<BerElement, BerFree>;
using ValuesPtr = std::unique_ptr<berval*, ValuesFree>;
using TextPtr = std::unique_ptr<char, TextFree>;
using ControlPtr = std::unique_ptr<LDAPControl, ControlFree>;
using ControlsPtr = std::unique_ptr<LDAPControl*, ControlsFree>;

// The values of one attribute of an entry (none when it has none).
[[nodiscard]] std::vector<std::string> valuesOf(LDAP* ld, LDAPMessage* entry, const char* attr);
// The entry with its DN and every attribute it came with.
[[nodiscard]] Entry entryOf(LDAP* ld, LDAPMessage* entry);

// The NULL-terminated attribute list of a search over strings that stay
// alive for the call.
[[nodiscard]] std::vector<char*> attrArray(const std::vector<std::string>& attrs);

// A berval array over strings that stay alive for the call.
class BervalList {
 public:
  explicit BervalList(const std::vector<std::string>& values);
  berval** get() { return ptrs_.data(); }

 private:
  std::vector<berval> vals_;
  std::vector<berval*> ptrs_;
};

// An LDAPMod list over a change queue, every change with the same operation.
class ModList {
 public:
  ModList(const std::vector<Change>& changes, ModOp op);
  LDAPMod** get() { return ptrs_.data(); }

 private:
  std::vector<LDAPMod> mods_;
  std::vector<std::unique_ptr<BervalList>> lists_;
  std::vector<LDAPMod*> ptrs_;
};

}  // namespace tv::ldap

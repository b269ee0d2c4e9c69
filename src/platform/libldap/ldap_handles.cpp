#include "platform/libldap/ldap_handles.h"

namespace tv::ldap {

std::vector<std::string> valuesOf(LDAP* ld, LDAPMessage* entry, const char* attr) {
  std::vector<std::string> out;
  const ValuesPtr vals(ldap_get_values_len(ld, entry, attr));
  if (vals) {
    for (berval** v = vals.get(); *v != nullptr; ++v) out.emplace_back((*v)->bv_val, (*v)->bv_len);
  }
  return out;
}

Entry entryOf(LDAP* ld, LDAPMessage* entry) {
  Entry out;
  const TextPtr dn(ldap_get_dn(ld, entry));
  if (dn) out.dn = dn.get();
  BerElement* rawBer = nullptr;
  TextPtr a(ldap_first_attribute(ld, entry, &rawBer));
  const BerPtr ber(rawBer);
  for (; a; a.reset(ldap_next_attribute(ld, entry, ber.get()))) {
    out.attributes.emplace_back(a.get(), valuesOf(ld, entry, a.get()));
  }
  return out;
}

std::vector<char*> attrArray(const std::vector<std::string>& attrs) {
  std::vector<char*> out;
  for (const std::string& a : attrs) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

BervalList::BervalList(const std::vector<std::string>& values) {
  vals_.reserve(values.size());
  for (const std::string& v : values) {
    vals_.push_back({static_cast<ber_len_t>(v.size()), const_cast<char*>(v.data())});
  }
  for (berval& b : vals_) ptrs_.push_back(&b);
  ptrs_.push_back(nullptr);
}

ModList::ModList(const std::vector<Change>& changes, ModOp op) {
  const int code = op == ModOp::kAdd      ? LDAP_MOD_ADD
                   : op == ModOp::kDelete ? LDAP_MOD_DELETE
                                          : LDAP_MOD_REPLACE;
  mods_.resize(changes.size());
  for (std::size_t i = 0; i < changes.size(); ++i) {
    lists_.emplace_back(std::make_unique<BervalList>(changes[i].values));
    mods_[i].mod_op = code | LDAP_MOD_BVALUES;
    mods_[i].mod_type = const_cast<char*>(changes[i].attr.c_str());
    mods_[i].mod_bvalues = lists_.back()->get();
    ptrs_.push_back(&mods_[i]);
  }
  ptrs_.push_back(nullptr);
}

}  // namespace tv::ldap

#include "integration/ldap/ldap_test_support.h"

namespace tv::test {

int freshOu(const SambaDc& dc, const std::string& dn) {
  AdminLdap admin(dc);
  if (admin.status() != 0) return admin.status();
  const int del = admin.deleteTree(dn);
  if (del != 0 && del != 32) return del;
  return admin.addOu(dn);
}

}  // namespace tv::test

// Shared by the LDAP adapter's tests: settings that reach the test domain
// controller as its administrator, and a clean container for each test.
#pragma once

#include <memory>
#include <string>

#include "config/settings.h"
#include "directory/directory.h"
#include "integration/samba/samba_env.h"
#include "log/log.h"

namespace tv::test {

// ldaps to the test domain controller, simple bind as Administrator.
Settings adminSettings(const SambaDc& dc, const std::string& passwordFile);

// Deletes the container with everything in it and creates it anew; 0 or the
// LDAP result of the failure.
int freshOu(const SambaDc& dc, const std::string& dn);

}  // namespace tv::test

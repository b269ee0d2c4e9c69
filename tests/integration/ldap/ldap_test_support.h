// Shared by the LDAP adapter's tests: a clean container for each test.
#pragma once

#include <memory>
#include <string>

#include "config/settings.h"
#include "directory/directory.h"
#include "integration/samba/samba_env.h"
#include "log/log.h"

namespace tv::test {

// Deletes the container with everything in it and creates it anew; 0 or the
// LDAP result of the failure.
int freshOu(const SambaDc& dc, const std::string& dn);

}  // namespace tv::test

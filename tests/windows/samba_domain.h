// What the Windows tests need of the throw-away Samba AD domain controller
// the harness (tests/integration/samba/samba-dc.sh) runs: its facts from the
// env file named by TAVLEVAGT_SAMBA_ENV, the settings that reach it through
// the wldap32 adapter, and a clean container, made through that adapter too
// (there is no other LDAP client inside Wine).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "directory/directory.h"
#include "platform/ldap/ldap_directory.h"

namespace tv::wintest {

struct SambaDomain {
  std::string host;    // 127.0.0.1
  std::string domain;  // SKOLE
  std::string baseDn;
  std::string adminPasswordFile;  // a Windows path
  std::string caFile;             // the test CA, a Windows path; server.pem beside it
};

// The running domain controller, or nullopt (with the reason in *why).
[[nodiscard]] std::optional<SambaDomain> loadSambaDomain(std::string* why);

// Negotiate (NTLM here) on 389 with signing and sealing, as DOMAIN\Administrator.
[[nodiscard]] LdapSettings negotiateSettings(const SambaDomain& dc);

// Deletes dn with everything below it (0 when it was not there) and makes it
// again as an organizational unit; 0 or the HRESULT of the failure.
[[nodiscard]] Hresult freshContainer(Directory& dir, const std::string& dn);

}  // namespace tv::wintest

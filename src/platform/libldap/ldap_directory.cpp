#include "platform/ldap/ldap_directory.h"

#include <signal.h>

#include "platform/ldap/ldap_objects.h"
#include "platform/ldap/ldap_settings.h"
#include "platform/libldap/ldap_connection.h"

namespace tv {

std::unique_ptr<Directory> openLdapDirectory(const LdapSettings& settings, LogSink& log) {
  std::optional<ldap::ConnectOptions> options = ldap::connectOptionsOf(settings, log);
  if (!options) return nullptr;
  // libldap writes to its socket without MSG_NOSIGNAL: a server that went
  // away would end the whole service with SIGPIPE instead of a failed call
  // that reconnects.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
  }
  return std::make_unique<ldap::LdapDirectory>(
      std::make_unique<ldap::LdapConnection>(std::move(*options), log));
}

}  // namespace tv

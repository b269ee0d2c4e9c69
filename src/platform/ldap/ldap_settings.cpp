#include "platform/ldap/ldap_settings.h"

#include <fstream>

#include "text/paths.h"
#include "text/text.h"

namespace tv::ldap {

std::optional<std::string> readPasswordFile(const std::string& path, LogSink& log) {
  std::ifstream in(pathFromUtf8(path), std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) {
    log.write(lvl::kFile | lvl::kError,
              format("** Fejl: LdapPasswordFile %s kan ikke læses.\n", path.c_str()));
    return std::nullopt;
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

std::optional<ConnectOptions> connectOptionsOf(const LdapSettings& settings, LogSink& log) {
  ConnectOptions opt;
  for (const std::string& part : split(settings.LdapServer, ' ')) {
    const std::string uri(trim(part));
    if (!uri.empty()) opt.uris += (opt.uris.empty() ? "" : " ") + uri;
  }
  if (opt.uris.empty()) {
    log.write(lvl::kFile | lvl::kError, "** Fejl: LdapServer er ikke angivet.\n");
    return std::nullopt;
  }
  const std::string method = toLower(trim(settings.LdapBind));
  if (method == "simple") {
    opt.simple = true;
    opt.bindName = settings.LdapBindName;
    if (opt.bindName.empty() || settings.LdapPasswordFile.empty()) {
      log.write(lvl::kFile | lvl::kError,
                "** Fejl: LdapBind = simple kræver LdapBindName og LdapPasswordFile.\n");
      return std::nullopt;
    }
    std::optional<std::string> password = readPasswordFile(settings.LdapPasswordFile, log);
    if (!password) return std::nullopt;
    opt.password = std::move(*password);
  } else if (method != "gssapi" && !method.empty()) {
    log.write(lvl::kFile | lvl::kError,
              format("** Fejl: Ukendt LdapBind '%s' (gssapi eller simple).\n",
                     settings.LdapBind.c_str()));
    return std::nullopt;
  }
  opt.caFile = settings.LdapCaFile;
  opt.startTls = settings.LdapStartTls;
  return opt;
}

}  // namespace tv::ldap

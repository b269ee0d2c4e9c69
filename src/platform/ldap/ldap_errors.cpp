#include "platform/ldap/ldap_errors.h"

#include "text/text.h"

namespace tv::ldap {

Hresult CallErrors::fail(Hresult hr, std::string text) {
  std::lock_guard lock(mutex_);
  const long code = extendedErrorCode(hr, text);
  errors_[std::this_thread::get_id()] = DirectoryError{code, std::move(text), kProvider};
  return hr;
}

void CallErrors::succeed() {
  std::lock_guard lock(mutex_);
  errors_.erase(std::this_thread::get_id());
}

std::optional<DirectoryError> CallErrors::last() const {
  std::lock_guard lock(mutex_);
  auto it = errors_.find(std::this_thread::get_id());
  if (it == errors_.end()) return std::nullopt;
  return it->second;
}

std::string failureText(std::string_view resultText, std::string_view diagnostic,
                        std::string_view context) {
  std::string text(diagnostic);
  if (text.empty()) {
    text = resultText;
  } else if (!startsWith(text, "0000") && text != resultText) {
    // A domain controller's diagnostic starts with its own error number
    // ("0000052D: …") and says enough; anything else needs the result's name.
    text = std::string(resultText) + ": " + text;
  }
  if (!context.empty()) text = std::string(context) + ": " + text;
  return text;
}

void reportInvalidServer(LogSink& log, const std::string& servers, std::string_view reason) {
  log.write(lvl::kFile | lvl::kError, format("** Fejl: Ugyldig LdapServer '%s': %s\n",
                                             servers.c_str(), std::string(reason).c_str()));
}

void reportConnectFailed(LogSink& log, const std::string& servers, std::string_view reason) {
  log.write(lvl::kFile | lvl::kError, format("** Fejl: LDAP-forbindelse til %s mislykkedes: %s\n",
                                             servers.c_str(), std::string(reason).c_str()));
}

void reportReconnecting(LogSink& log, const std::string& servers) {
  log.write(
      lvl::kFile | lvl::kWarning,
      format("** Info: LDAP-forbindelsen til %s blev afbrudt; forbinder igen.\n", servers.c_str()));
}

void reportRestored(LogSink& log, const std::string& servers) {
  log.write(lvl::kFile, format("** Info: LDAP-forbindelse til %s genoprettet.\n", servers.c_str()));
}

void reportClearTextBindRefused(LogSink& log, const std::string& servers) {
  log.write(lvl::kFile | lvl::kError,
            format("** Fejl: LDAP-login med adgangskode afvist: forbindelsen til %s er ikke "
                   "krypteret (brug ldaps:// eller LdapStartTls).\n",
                   servers.c_str()));
}

}  // namespace tv::ldap

// The file server port on Windows: folders by their UNC paths with
// CreateDirectoryW, NT access lists built with SetEntriesInAclW and set with
// SetNamedSecurityInfoW, shares through the server's server service with
// NetShareAdd / NetShareGetInfo / NetShareDel. It acts as the service's own
// account (the machine's account in the domain), so that account needs the
// rights on the file server; no password is stored.
//
// SIDs come in as text ("S-1-5-21-…"), read by the product from the
// directory's objectSid.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ports/file_server.h"

namespace tv {

class WinFileServer : public FileServer {
 public:
  bool exists(std::string_view path) override;
  int makeFolder(std::string_view path) override;
  int makeSecureFolder(std::string_view path, const std::vector<AccessEntry>& entries) override;
  int readAccess(std::string_view path, std::vector<AccessEntry>& entries) override;
  int writeAccess(std::string_view path, const std::vector<AccessEntry>& entries) override;
  int move(std::string_view from, std::string_view to) override;
  int removeTree(std::string_view path) override;

  Hresult openServer(const std::string& server) override;
  Hresult addShare(const std::string& server, const std::string& name, const std::string& localPath,
                   std::uint32_t maxUsers) override;
  Hresult deleteShare(const std::string& server, const std::string& name) override;
  ShareInfo shareInfo(const std::string& server, const std::string& name) override;
};

// The file-server setting of the settings file's [FileShare] section, as on
// Linux; the member carries its key.
struct WinFileServerSettings {
  // Must stay empty on Windows: the service's own account reaches the file
  // server, and no password is kept.
  std::string FileServerCredentials;
};

// The adapter as the service runs it; nullptr (with the reason in *why) when
// the settings ask for a credentials file, which Windows does not use.
[[nodiscard]] std::unique_ptr<WinFileServer> openWinFileServer(
    const WinFileServerSettings& settings, std::string* why = nullptr);

namespace win {

// The access list the entries make, as a descriptor in SDDL with only its
// DACL ("D:P(A;OICI;FA;;;SY)…"): protected (nothing inherited from above)
// when isProtected. The text the folder calls set, so it can be checked
// without a file server. Empty with *error set when an entry's SID does not
// parse.
[[nodiscard]] std::wstring accessListSddl(const std::vector<AccessEntry>& entries, bool isProtected,
                                          unsigned long* error);

// The entries of an access list given as SDDL ("D:…"), inherited ones
// marked kInheritedEntry; false when the text does not parse.
[[nodiscard]] bool entriesOfSddl(const std::wstring& sddl, std::vector<AccessEntry>& entries);

}  // namespace win
}  // namespace tv

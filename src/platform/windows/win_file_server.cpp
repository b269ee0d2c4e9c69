#include "platform/windows/win_file_server.h"

// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <memory>

#include "platform/windows/wide.h"

namespace tv {
namespace {

using win::toUtf8;
using win::toWide;

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};
template <typename T>
using LocalPtr = std::unique_ptr<T, LocalFreer>;

// The inheritance bits an access entry may carry into an ACE of its own.
constexpr std::uint8_t kOwnInheritance =
    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE;

// "\\server\share/a" -> L"\\server\share\a": both separators count.
std::wstring windowsPath(std::string_view path) {
  std::wstring w = toWide(path);
  for (wchar_t& c : w) {
    if (c == L'/') c = L'\\';
  }
  return w;
}

DWORD lastErrorOr(DWORD fallback) {
  const DWORD e = GetLastError();
  return e != ERROR_SUCCESS ? e : fallback;
}

// The access list of the entries that are the folder's own; an inherited
// entry is the parent's to hand down, not the folder's to set.
DWORD buildAcl(const std::vector<AccessEntry>& entries, LocalPtr<ACL>& acl) {
  std::vector<LocalPtr<void>> sids;
  std::vector<EXPLICIT_ACCESS_W> access;
  for (const AccessEntry& e : entries) {
    if ((e.flags & kInheritedEntry) != 0) continue;
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(toWide(e.sid).c_str(), &sid)) return lastErrorOr(ERROR_INVALID_SID);
    sids.emplace_back(sid);
    EXPLICIT_ACCESS_W ea{};
    ea.grfAccessPermissions = e.mask;
    ea.grfAccessMode = e.type == AccessEntry::kDeny ? DENY_ACCESS : GRANT_ACCESS;
    ea.grfInheritance = e.flags & kOwnInheritance;
    ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    ea.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    ea.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    access.push_back(ea);
  }
  // Denials first, as Windows checks them (canonical order): Windows'
  // SetEntriesInAclW sorts so itself, not every implementation does.
  std::stable_partition(access.begin(), access.end(), [](const EXPLICIT_ACCESS_W& ea) {
    return ea.grfAccessMode == DENY_ACCESS;
  });
  PACL raw = nullptr;
  const DWORD rc =
      SetEntriesInAclW(static_cast<ULONG>(access.size()), access.data(), nullptr, &raw);
  acl.reset(raw);
  return rc;
}

bool anyInherited(const std::vector<AccessEntry>& entries) {
  for (const AccessEntry& e : entries) {
    if ((e.flags & kInheritedEntry) != 0) return true;
  }
  return false;
}

std::vector<AccessEntry> entriesOfAcl(const ACL* acl) {
  std::vector<AccessEntry> out;
  if (acl == nullptr) return out;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(const_cast<PACL>(acl), i, &raw)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
      continue;  // object and audit entries are not the product's
    }
    // Allowed and denied entries share one layout.
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(&ace->SidStart, &text)) continue;
    const LocalPtr<wchar_t> owned(text);
    AccessEntry e;
    e.sid = toUtf8(text);
    e.mask = ace->Mask;
    e.flags = header->AceFlags;
    e.type = header->AceType == ACCESS_DENIED_ACE_TYPE ? AccessEntry::kDeny : AccessEntry::kAllow;
    out.push_back(std::move(e));
  }
  return out;
}

// Sets the folder's own entries: exactly these (protected) when the list
// holds nothing inherited, else beside what the parent hands down.
DWORD setAccess(const std::wstring& path, const std::vector<AccessEntry>& entries) {
  LocalPtr<ACL> acl;
  if (const DWORD rc = buildAcl(entries, acl); rc != ERROR_SUCCESS) return rc;
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION | (anyInherited(entries) ? UNPROTECTED_DACL_SECURITY_INFORMATION
                                                         : PROTECTED_DACL_SECURITY_INFORMATION);
  return SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, what, nullptr,
                               nullptr, acl.get(), nullptr);
}

DWORD removeTreeAt(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = path + L"\\*";
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  std::vector<std::pair<std::wstring, bool>> children;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // A link to a folder is removed as the link, never followed.
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    children.emplace_back(path + L"\\" + name, folder);
  } while (FindNextFileW(h, &found));
  const DWORD ended = GetLastError();
  FindClose(h);
  if (ended != ERROR_NO_MORE_FILES) return ended;
  for (const auto& [child, folder] : children) {
    if (folder) {
      if (const DWORD rc = removeTreeAt(child); rc != ERROR_SUCCESS) return rc;
      continue;
    }
    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only files go too
    const DWORD attrs = GetFileAttributesW(child.c_str());
    const BOOL ok = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0
                        ? RemoveDirectoryW(child.c_str())
                        : DeleteFileW(child.c_str());
    if (!ok) return GetLastError();
  }
  return RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

// Samba answers a share lookup or delete for a share added a moment ago as
// if it did not exist until its share list has been read once; Windows
// servers do not mind the read.
Hresult enumerate(const std::wstring& server) {
  LPBYTE buffer = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  const NET_API_STATUS status = NetShareEnum(const_cast<LPWSTR>(server.c_str()), 0, &buffer,
                                             MAX_PREFERRED_LENGTH, &read, &total, &resume);
  if (buffer != nullptr) NetApiBufferFree(buffer);
  return shareStatusToHresult(status, false);
}

}  // namespace

bool WinFileServer::exists(std::string_view path) {
  return GetFileAttributesW(windowsPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int WinFileServer::makeFolder(std::string_view path) {
  return CreateDirectoryW(windowsPath(path).c_str(), nullptr) ? 0
                                                              : static_cast<int>(GetLastError());
}

int WinFileServer::makeSecureFolder(std::string_view path,
                                    const std::vector<AccessEntry>& entries) {
  const std::wstring w = windowsPath(path);
  // The list is built first: a SID that does not parse leaves no folder.
  LocalPtr<ACL> acl;
  if (const DWORD rc = buildAcl(entries, acl); rc != ERROR_SUCCESS) return static_cast<int>(rc);
  if (!CreateDirectoryW(w.c_str(), nullptr)) return static_cast<int>(GetLastError());
  const DWORD rc = setAccess(w, entries);
  if (rc != ERROR_SUCCESS) {
    // A folder left with only what it inherits would give the wrong people
    // access; it goes, and the caller reports the failure.
    RemoveDirectoryW(w.c_str());
  }
  return static_cast<int>(rc);
}

int WinFileServer::readAccess(std::string_view path, std::vector<AccessEntry>& entries) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD rc =
      GetNamedSecurityInfoW(windowsPath(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &sd);
  const LocalPtr<void> owned(sd);
  if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
  entries = entriesOfAcl(dacl);
  return 0;
}

int WinFileServer::writeAccess(std::string_view path, const std::vector<AccessEntry>& entries) {
  return static_cast<int>(setAccess(windowsPath(path), entries));
}

int WinFileServer::move(std::string_view from, std::string_view to) {
  const std::wstring target = windowsPath(to);
  // A folder in the way must never be replaced.
  if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) return ERROR_ALREADY_EXISTS;
  return MoveFileExW(windowsPath(from).c_str(), target.c_str(), 0)
             ? 0
             : static_cast<int>(GetLastError());
}

int WinFileServer::removeTree(std::string_view path) {
  return static_cast<int>(removeTreeAt(windowsPath(path)));
}

Hresult WinFileServer::openServer(const std::string& server) {
  // An empty name would act on this machine's own shares.
  if (server.empty()) return kEAdsBadPathname;
  return enumerate(toWide(server));
}

Hresult WinFileServer::addShare(const std::string& server, const std::string& name,
                                const std::string& localPath, std::uint32_t maxUsers) {
  if (server.empty()) return kEAdsBadPathname;
  std::wstring wServer = toWide(server), wName = toWide(name), wPath = toWide(localPath);
  wchar_t remark[] = L"";
  SHARE_INFO_2 info{};
  info.shi2_netname = wName.data();
  info.shi2_type = STYPE_DISKTREE;
  info.shi2_remark = remark;
  info.shi2_max_uses = maxUsers;
  info.shi2_path = wPath.data();
  DWORD parmErr = 0;
  const NET_API_STATUS status =
      NetShareAdd(wServer.data(), 2, reinterpret_cast<LPBYTE>(&info), &parmErr);
  const Hresult hr = shareStatusToHresult(status, false);
  if (hr >= 0) (void)enumerate(wServer);
  return hr;
}

Hresult WinFileServer::deleteShare(const std::string& server, const std::string& name) {
  if (server.empty()) return kEAdsBadPathname;
  std::wstring wServer = toWide(server), wName = toWide(name);
  (void)enumerate(wServer);
  return shareStatusToHresult(NetShareDel(wServer.data(), wName.data(), 0), true);
}

ShareInfo WinFileServer::shareInfo(const std::string& server, const std::string& name) {
  ShareInfo out;
  if (server.empty()) {
    out.hr = kEAdsBadPathname;
    return out;
  }
  std::wstring wServer = toWide(server), wName = toWide(name);
  (void)enumerate(wServer);
  LPBYTE buffer = nullptr;
  const NET_API_STATUS status = NetShareGetInfo(wServer.data(), wName.data(), 2, &buffer);
  out.hr = shareStatusToHresult(status, true);
  if (status == NERR_Success && buffer != nullptr) {
    const auto* info = reinterpret_cast<const SHARE_INFO_2*>(buffer);
    out.path = info->shi2_path != nullptr ? toUtf8(info->shi2_path) : "";
    out.maxUsers = info->shi2_max_uses;
  }
  if (buffer != nullptr) NetApiBufferFree(buffer);
  return out;
}

std::unique_ptr<WinFileServer> openWinFileServer(const WinFileServerSettings& settings,
                                                 std::string* why) {
  if (!settings.FileServerCredentials.empty()) {
    // The admin asked for another account; acting as the service's own
    // instead would change folders with rights nobody meant to use.
    if (why != nullptr) {
      *why = "FileServerCredentials (" + settings.FileServerCredentials +
             ") bruges ikke på Windows: tjenestens egen konto arbejder på filserveren";
    }
    return nullptr;
  }
  return std::make_unique<WinFileServer>();
}

namespace win {

std::wstring accessListSddl(const std::vector<AccessEntry>& entries, bool isProtected,
                            unsigned long* error) {
  *error = ERROR_SUCCESS;
  LocalPtr<ACL> acl;
  if (const DWORD rc = buildAcl(entries, acl); rc != ERROR_SUCCESS) {
    *error = rc;
    return {};
  }
  SECURITY_DESCRIPTOR sd{};
  LPWSTR text = nullptr;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&sd, TRUE, acl.get(), FALSE) ||
      (isProtected && !SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(
          &sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    *error = lastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    return {};
  }
  const LocalPtr<wchar_t> owned(text);
  return text;
}

bool entriesOfSddl(const std::wstring& sddl, std::vector<AccessEntry>& entries) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                            nullptr)) {
    return false;
  }
  const LocalPtr<void> owned(sd);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return false;
  entries = entriesOfAcl(present ? dacl : nullptr);
  return true;
}

}  // namespace win
}  // namespace tv

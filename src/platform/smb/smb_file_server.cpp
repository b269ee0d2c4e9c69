#include "platform/smb/smb_file_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

// libsmbclient.h leaves some of its later declarations outside its own
// extern "C" block.
extern "C" {
#include <libsmbclient.h>
}
#include <netapi.h>

#include "text/text.h"

namespace tv {
namespace {

// Server-service statuses (Windows error numbers) met here.
constexpr std::uint32_t kStypeDisktree = 0;

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '$';
}

}  // namespace

std::optional<SmbCredentials> parseSmbCredentials(std::string_view text) {
  SmbCredentials c;
  c.kerberos = false;
  for (const std::string& raw : split(text, '\n')) {
    std::string_view line = trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = toLower(trim(line.substr(0, eq)));
    std::string value(trim(line.substr(eq + 1)));
    if (key == "username" || key == "user") {
      c.user = value;
    } else if (key == "password") {
      c.password = value;
    } else if (key == "domain" || key == "workgroup") {
      c.domain = value;
    }
  }
  if (c.user.empty()) return std::nullopt;
  return c;
}

std::optional<SmbCredentials> loadSmbCredentials(const std::string& path, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (why != nullptr) *why = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  auto c = parseSmbCredentials(text.str());
  if (!c && why != nullptr) *why = path + " names no username";
  return c;
}

std::string smbUrl(std::string_view uncPath) {
  std::size_t start = 0;
  while (start < uncPath.size() && (uncPath[start] == '\\' || uncPath[start] == '/')) ++start;
  std::string url = "smb://";
  bool lastSlash = true;
  for (std::size_t i = start; i < uncPath.size(); ++i) {
    auto c = static_cast<unsigned char>(uncPath[i]);
    if (c == '\\' || c == '/') {
      if (!lastSlash) url += '/';
      lastSlash = true;
      continue;
    }
    lastSlash = false;
    if (unreserved(c)) {
      url += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      url += buf;
    }
  }
  if (url.size() > 6 && url.back() == '/') url.pop_back();
  return url;
}

std::vector<AccessEntry> parseSecurityDescriptor(std::string_view text) {
  std::vector<AccessEntry> out;
  std::string flat(text);
  for (char& c : flat) {
    if (c == '\t' || c == '\n') c = ',';
  }
  for (const std::string& part : split(flat, ',')) {
    std::string_view p = trim(part);
    if (!startsWith(p, "ACL:")) continue;
    p.remove_prefix(4);
    auto colon = p.rfind(':');
    if (colon == std::string_view::npos) continue;
    std::string sid(p.substr(0, colon));
    std::string rest(p.substr(colon + 1));
    // Type and flags come decimal or hexadecimal ("0/0x3/0x001f01ff").
    unsigned long values[3] = {0, 0, 0};
    const char* at = rest.c_str();
    bool good = true;
    for (int i = 0; i < 3 && good; ++i) {
      char* end = nullptr;
      errno = 0;
      values[i] = std::strtoul(at, &end, 0);
      good = end != at && errno == 0 && (i == 2 ? *end == '\0' : *end == '/');
      at = end + (i < 2 ? 1 : 0);
    }
    if (!good || values[0] > 0xFF || values[1] > 0xFF || values[2] > 0xFFFFFFFFul) continue;
    out.push_back({sid, static_cast<std::uint32_t>(values[2]), static_cast<std::uint8_t>(values[1]),
                   static_cast<std::uint8_t>(values[0])});
  }
  return out;
}

std::string formatAccessList(const std::vector<AccessEntry>& entries) {
  std::string out = "REVISION:1";
  for (const AccessEntry& e : entries) {
    // Decimal throughout: libsmbclient reads the three numbers with "%u", so
    // a hexadecimal mask would arrive as 0.
    out += ",ACL:" + e.sid + ":" + std::to_string(e.type) + "/" + std::to_string(e.flags) + "/" +
           std::to_string(e.mask);
  }
  return out;
}

std::unique_ptr<SmbFileServer> openSmbFileServer(const SmbSettings& settings, std::string* why) {
  SmbCredentials credentials;
  if (!settings.FileServerCredentials.empty()) {
    auto loaded = loadSmbCredentials(settings.FileServerCredentials, why);
    if (!loaded) return nullptr;
    credentials = *loaded;
  }
  return SmbFileServer::open(credentials, why);
}

namespace {

// A path must name a share on a server; "smb://" alone or a bare server
// would make libsmbclient browse the network instead.
bool namesShare(const std::string& url) {
  const std::string rest = url.substr(6);
  const auto slash = rest.find('/');
  return !rest.empty() && slash != std::string::npos && slash != 0 && slash + 1 < rest.size();
}

}  // namespace

struct SmbFileServer::Impl {
  SMBCCTX* ctx = nullptr;
  libnetapi_ctx* net = nullptr;
  SmbCredentials credentials;
};

namespace {

// libsmbclient asks for the credentials of each server it connects to; the
// ones set with smbc_set_credentials_with_fallback are refused by a Samba DC.
void supplyCredentials(SMBCCTX* ctx, const char*, const char*, char* workgroup, int workgroupLen,
                       char* user, int userLen, char* password, int passwordLen) {
  const auto* impl = static_cast<const SmbFileServer::Impl*>(smbc_getOptionUserData(ctx));
  if (impl == nullptr || impl->credentials.kerberos) return;
  std::snprintf(workgroup, static_cast<std::size_t>(workgroupLen), "%s",
                impl->credentials.domain.c_str());
  std::snprintf(user, static_cast<std::size_t>(userLen), "%s", impl->credentials.user.c_str());
  std::snprintf(password, static_cast<std::size_t>(passwordLen), "%s",
                impl->credentials.password.c_str());
}

}  // namespace

std::unique_ptr<SmbFileServer> SmbFileServer::open(const SmbCredentials& credentials,
                                                   std::string* why) {
  auto impl = std::make_unique<Impl>();
  impl->credentials = credentials;
  impl->ctx = smbc_new_context();
  if (impl->ctx == nullptr) {
    if (why != nullptr) *why = "smbc_new_context failed";
    return nullptr;
  }
  smbc_setDebug(impl->ctx, 0);
  smbc_setOptionNoAutoAnonymousLogin(impl->ctx, 1);
  smbc_setOptionUserData(impl->ctx, impl.get());
  smbc_setFunctionAuthDataWithContext(impl->ctx, supplyCredentials);
  if (credentials.kerberos) {
    smbc_setOptionUseKerberos(impl->ctx, 1);
    smbc_setOptionFallbackAfterKerberos(impl->ctx, 0);
    smbc_setOptionUseCCache(impl->ctx, 1);
  }
  if (smbc_init_context(impl->ctx) == nullptr) {
    if (why != nullptr) *why = std::string("smbc_init_context: ") + std::strerror(errno);
    smbc_free_context(impl->ctx, 1);
    return nullptr;
  }
  if (libnetapi_init(&impl->net) != 0 || impl->net == nullptr) {
    if (why != nullptr) *why = "libnetapi_init failed";
    smbc_free_context(impl->ctx, 1);
    return nullptr;
  }
  if (credentials.kerberos) {
    libnetapi_set_use_kerberos(impl->net);
    libnetapi_set_use_ccache(impl->net);
    // Without a password libnetapi asks for one on the terminal before it
    // takes the ticket from the cache; a service must never wait for input.
    libnetapi_set_password(impl->net, "");
  } else {
    libnetapi_set_username(impl->net, credentials.user.c_str());
    libnetapi_set_password(impl->net, credentials.password.c_str());
    if (!credentials.domain.empty()) libnetapi_set_workgroup(impl->net, credentials.domain.c_str());
  }
  return std::unique_ptr<SmbFileServer>(new SmbFileServer(std::move(impl)));
}

SmbFileServer::SmbFileServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SmbFileServer::~SmbFileServer() {
  if (impl_->net != nullptr) libnetapi_free(impl_->net);
  if (impl_->ctx != nullptr) smbc_free_context(impl_->ctx, 1);
}

bool SmbFileServer::exists(std::string_view path) {
  std::lock_guard lock(mutex_);
  struct stat st {};
  std::string url = smbUrl(path);
  if (!namesShare(url)) return false;
  return smbc_getFunctionStat(impl_->ctx)(impl_->ctx, url.c_str(), &st) == 0;
}

int SmbFileServer::makeFolder(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::string url = smbUrl(path);
  if (!namesShare(url)) return EINVAL;
  if (smbc_getFunctionMkdir(impl_->ctx)(impl_->ctx, url.c_str(), 0755) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

int SmbFileServer::makeSecureFolder(std::string_view path,
                                    const std::vector<AccessEntry>& entries) {
  std::lock_guard lock(mutex_);
  std::string url = smbUrl(path);
  if (!namesShare(url)) return EINVAL;
  if (smbc_getFunctionMkdir(impl_->ctx)(impl_->ctx, url.c_str(), 0755) != 0) {
    return errno != 0 ? errno : EIO;
  }
  int rc = writeAccessLocked(url, entries);
  if (rc != 0) {
    // A folder left with only what it inherits would give the wrong people
    // access; it goes, and the caller reports the failure.
    (void)smbc_getFunctionRmdir(impl_->ctx)(impl_->ctx, url.c_str());
  }
  return rc;
}

int SmbFileServer::readAccess(std::string_view path, std::vector<AccessEntry>& entries) {
  std::lock_guard lock(mutex_);
  std::string url = smbUrl(path);
  if (!namesShare(url)) return EINVAL;
  std::string buf(64 * 1024, '\0');
  int n = smbc_getFunctionGetxattr(impl_->ctx)(impl_->ctx, url.c_str(), "system.nt_sec_desc.*",
                                               buf.data(), buf.size());
  if (n < 0) return errno != 0 ? errno : EIO;
  buf.resize(std::strlen(buf.c_str()));
  entries = parseSecurityDescriptor(buf);
  return 0;
}

int SmbFileServer::writeAccess(std::string_view path, const std::vector<AccessEntry>& entries) {
  std::lock_guard lock(mutex_);
  return writeAccessLocked(smbUrl(path), entries);
}

int SmbFileServer::writeAccessLocked(const std::string& url,
                                     const std::vector<AccessEntry>& entries) {
  if (!namesShare(url)) return EINVAL;
  std::string text = formatAccessList(entries);
  // "*": the whole descriptor, with numeric SIDs ("+" would mean names), replaces the access
  // list; owner and group are left as they are.
  if (smbc_getFunctionSetxattr(impl_->ctx)(impl_->ctx, url.c_str(), "system.nt_sec_desc.*",
                                           text.c_str(), text.size(), 0) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

int SmbFileServer::move(std::string_view from, std::string_view to) {
  std::lock_guard lock(mutex_);
  std::string src = smbUrl(from);
  std::string dst = smbUrl(to);
  if (!namesShare(src) || !namesShare(dst)) return EINVAL;
  struct stat st {};
  // SMB renames may replace a file; a folder in the way must never be lost.
  if (smbc_getFunctionStat(impl_->ctx)(impl_->ctx, dst.c_str(), &st) == 0) return EEXIST;
  if (smbc_getFunctionRename(impl_->ctx)(impl_->ctx, src.c_str(), impl_->ctx, dst.c_str()) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

int SmbFileServer::removeTree(std::string_view path) {
  std::lock_guard lock(mutex_);
  return removeTreeLocked(smbUrl(path));
}

int SmbFileServer::removeTreeLocked(const std::string& url) {
  if (!namesShare(url)) return EINVAL;
  SMBCFILE* dir = smbc_getFunctionOpendir(impl_->ctx)(impl_->ctx, url.c_str());
  if (dir == nullptr) return errno != 0 ? errno : EIO;
  std::vector<std::pair<std::string, bool>> children;
  while (smbc_dirent* e = smbc_getFunctionReaddir(impl_->ctx)(impl_->ctx, dir)) {
    std::string name(e->name);
    if (name == "." || name == "..") continue;
    children.emplace_back(name, e->smbc_type == SMBC_DIR);
  }
  smbc_getFunctionClosedir(impl_->ctx)(impl_->ctx, dir);
  for (const auto& [name, isDir] : children) {
    std::string child = url + "/" + smbUrl("x\\" + name).substr(8);
    if (isDir) {
      if (int rc = removeTreeLocked(child); rc != 0) return rc;
    } else if (smbc_getFunctionUnlink(impl_->ctx)(impl_->ctx, child.c_str()) != 0) {
      return errno != 0 ? errno : EIO;
    }
  }
  if (smbc_getFunctionRmdir(impl_->ctx)(impl_->ctx, url.c_str()) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

// Samba answers a share lookup or delete for a share added a moment ago as if
// it did not exist until its share list has been read once.
Hresult SmbFileServer::enumerateLocked(const std::string& server) {
  // An empty name would make libnetapi act on this machine's own shares.
  if (server.empty()) return kEAdsBadPathname;
  std::uint8_t* buffer = nullptr;
  std::uint32_t read = 0;
  std::uint32_t total = 0;
  std::uint32_t resume = 0;
  NET_API_STATUS status = NetShareEnum(server.c_str(), 0, &buffer, static_cast<std::uint32_t>(-1),
                                       &read, &total, &resume);
  if (buffer != nullptr) NetApiBufferFree(buffer);
  return shareStatusToHresult(status, false);
}

Hresult SmbFileServer::openServer(const std::string& server) {
  std::lock_guard lock(mutex_);
  return enumerateLocked(server);
}

Hresult SmbFileServer::addShare(const std::string& server, const std::string& name,
                                const std::string& localPath, std::uint32_t maxUsers) {
  std::lock_guard lock(mutex_);
  if (server.empty()) return kEAdsBadPathname;
  SHARE_INFO_2 info{};
  info.shi2_netname = name.c_str();
  info.shi2_type = kStypeDisktree;
  info.shi2_remark = "";
  info.shi2_permissions = 0;
  info.shi2_max_uses = maxUsers;
  info.shi2_current_uses = 0;
  info.shi2_path = localPath.c_str();
  info.shi2_passwd = nullptr;
  std::uint32_t parmErr = 0;
  NET_API_STATUS status =
      NetShareAdd(server.c_str(), 2, reinterpret_cast<std::uint8_t*>(&info), &parmErr);
  Hresult hr = shareStatusToHresult(status, false);
  if (hr >= 0) (void)enumerateLocked(server);
  return hr;
}

Hresult SmbFileServer::deleteShare(const std::string& server, const std::string& name) {
  std::lock_guard lock(mutex_);
  if (Hresult hr = enumerateLocked(server); hr == kEAdsBadPathname) return hr;
  return shareStatusToHresult(NetShareDel(server.c_str(), name.c_str(), 0), true);
}

ShareInfo SmbFileServer::shareInfo(const std::string& server, const std::string& name) {
  std::lock_guard lock(mutex_);
  ShareInfo out;
  if (Hresult hr = enumerateLocked(server); hr == kEAdsBadPathname) {
    out.hr = hr;
    return out;
  }
  std::uint8_t* buffer = nullptr;
  NET_API_STATUS status = NetShareGetInfo(server.c_str(), name.c_str(), 2, &buffer);
  out.hr = shareStatusToHresult(status, true);
  if (status == 0 && buffer != nullptr) {
    auto* info = reinterpret_cast<SHARE_INFO_2*>(buffer);
    out.path = info->shi2_path != nullptr ? info->shi2_path : "";
    out.maxUsers = info->shi2_max_uses;
  }
  if (buffer != nullptr) NetApiBufferFree(buffer);
  return out;
}

}  // namespace tv

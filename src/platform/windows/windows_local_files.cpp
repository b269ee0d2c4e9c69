#include "platform/windows/windows_local_files.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <random>

#include "platform/windows/wide.h"

namespace tv::win {
namespace {

// Owner, SYSTEM and Administrators; protected from the folder's inherited entries.
constexpr wchar_t kOwnerOnly[] = L"D:P(A;;FA;;;OW)(A;;FA;;;SY)(A;;FA;;;BA)";

SystemError lastError() {
  return platformError(static_cast<int>(GetLastError()));
}

class OwnerOnlyDescriptor {
 public:
  OwnerOnlyDescriptor() {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kOwnerOnly, SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
      descriptor_ = nullptr;
    }
    attributes_.lpSecurityDescriptor = descriptor_;
  }
  ~OwnerOnlyDescriptor() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  OwnerOnlyDescriptor(const OwnerOnlyDescriptor&) = delete;
  OwnerOnlyDescriptor& operator=(const OwnerOnlyDescriptor&) = delete;
  // Null when the descriptor could not be made: the file then gets the
  // folder's inherited access list, as any file there.
  [[nodiscard]] SECURITY_ATTRIBUTES* attributes() {
    return descriptor_ != nullptr ? &attributes_ : nullptr;
  }
  [[nodiscard]] PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

// Opens name without following a link at it; only a disk file is kept open.
HANDLE openRegular(const std::string& path, DWORD access, DWORD disposition, SystemError& error) {
  OwnerOnlyDescriptor owner;
  HANDLE h =
      CreateFileW(toWide(path).c_str(), access,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, owner.attributes(),
                  disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = lastError();
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) {
    error = lastError();
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = systemError(std::errc::too_many_symbolic_link_levels);
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
             GetFileType(h) != FILE_TYPE_DISK) {
    error = platformError(ERROR_INVALID_PARAMETER);
  }
  if (error) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// A C stream over the handle, which it then owns.
std::FILE* streamOf(HANDLE h, int flags, const char* mode, SystemError& error) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd < 0) {
    error = lastCLibraryError();
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, mode);
  if (f == nullptr) {
    error = lastCLibraryError();
    _close(fd);
  }
  return f;
}

class MutexLock : public FolderLock {
 public:
  explicit MutexLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexLock() override { CloseHandle(mutex_); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

LocalFiles::Opened WindowsLocalFiles::openAppend(const std::string& path) {
  Opened o;
  HANDLE h = openRegular(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, o.error);
  if (h == INVALID_HANDLE_VALUE) return o;
  o.file = streamOf(h, _O_APPEND | _O_BINARY, "a+b", o.error);
  return o;
}

LocalFiles::Opened WindowsLocalFiles::createUnique(const std::string& stem, std::string& path) {
  Opened o;
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem;
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    OwnerOnlyDescriptor owner;
    // CREATE_NEW: a name planted beforehand, link or not, is never opened.
    HANDLE h = CreateFileW(toWide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           owner.attributes(), CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
      o.error = platformError(static_cast<int>(code));
      return o;
    }
    path = name;
    o.file = streamOf(h, _O_BINARY, "wb", o.error);
    if (o.file == nullptr) DeleteFileW(toWide(name).c_str());
    return o;
  }
  o.error = platformError(ERROR_FILE_EXISTS);
  return o;
}

SystemError WindowsLocalFiles::finish(std::FILE* file) {
  SystemError error;
  if (std::fflush(file) != 0) error = lastCLibraryError();
  if (!error) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (!FlushFileBuffers(h)) error = lastError();
  }
  if (std::fclose(file) != 0 && !error) error = lastCLibraryError();
  return error;
}

SystemError WindowsLocalFiles::readWhole(const std::string& path, std::string& content) {
  content.clear();
  SystemError error;
  HANDLE h = openRegular(path, GENERIC_READ, OPEN_EXISTING, error);
  if (h == INVALID_HANDLE_VALUE) return error;
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) content.append(buf, n);
  if (n != 0 || GetLastError() != NO_ERROR) {
    // ReadFile ended with an error rather than at the end of the file.
    const DWORD code = GetLastError();
    if (code != NO_ERROR && code != ERROR_HANDLE_EOF) error = platformError(static_cast<int>(code));
  }
  CloseHandle(h);
  return error;
}

SystemError WindowsLocalFiles::restrictToOwner(const std::string& path) {
  SystemError error;
  HANDLE h = openRegular(path, READ_CONTROL | WRITE_DAC, OPEN_EXISTING, error);
  if (h == INVALID_HANDLE_VALUE) return error;
  OwnerOnlyDescriptor owner;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (owner.get() == nullptr ||
      !GetSecurityDescriptorDacl(owner.get(), &present, &dacl, &defaulted)) {
    error = lastError();
  } else {
    const DWORD code = SetSecurityInfo(
        h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
        nullptr, dacl, nullptr);
    if (code != ERROR_SUCCESS) error = platformError(static_cast<int>(code));
  }
  CloseHandle(h);
  return error;
}

std::wstring folderLockName(const std::wstring& fullPath) {
  // Windows names are caseless; the mutex name may hold no backslash.
  std::wstring folded = fullPath;
  while (folded.size() > 3 && (folded.back() == L'\\' || folded.back() == L'/')) folded.pop_back();
  if (!folded.empty()) CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : folded) {
    hash ^= static_cast<std::uint16_t>(c == L'/' ? L'\\' : c);
    hash *= 1099511628211ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Global\\Tavlevagt-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

LocalFiles::Locked WindowsLocalFiles::lockFolder(const std::string& folder) {
  Locked l;
  const std::wstring wide = toWide(folder);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    l.error = lastError();
    return l;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    l.error = platformError(ERROR_DIRECTORY);
    return l;
  }
  wchar_t full[32768];
  const DWORD n = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
  if (n == 0 || n >= 32768) {
    l.error = lastError();
    return l;
  }
  HANDLE mutex = CreateMutexW(nullptr, FALSE, folderLockName(std::wstring(full, n)).c_str());
  if (mutex == nullptr) {
    // A mutex of that name made by another account is refused to us.
    const DWORD code = GetLastError();
    l.heldElsewhere = code == ERROR_ACCESS_DENIED;
    l.error = platformError(static_cast<int>(code));
    return l;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    l.heldElsewhere = true;
    l.error = platformError(ERROR_ALREADY_EXISTS);
    return l;
  }
  l.lock = std::make_unique<MutexLock>(mutex);
  return l;
}

}  // namespace tv::win

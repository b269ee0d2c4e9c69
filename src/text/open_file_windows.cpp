#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <exception>
#include <string>

#include "text/paths.h"

namespace tv {

// _wfopen knows neither "x" nor a way to keep the handle from child
// programs, so the file is opened with _wopen and then given its stream.
std::FILE* openFile(std::string_view utf8Path, const char* mode) {
  const std::string m(mode);
  const bool plus = m.find('+') != std::string::npos;
  int flags = _O_BINARY | _O_NOINHERIT;
  std::string streamMode;
  switch (m.empty() ? '\0' : m[0]) {
    case 'r':
      flags |= plus ? _O_RDWR : _O_RDONLY;
      streamMode = plus ? "r+b" : "rb";
      break;
    case 'w':
      flags |= (plus ? _O_RDWR : _O_WRONLY) | _O_CREAT | _O_TRUNC;
      if (m.find('x') != std::string::npos) flags |= _O_EXCL;
      streamMode = plus ? "w+b" : "wb";
      break;
    case 'a':
      flags |= (plus ? _O_RDWR : _O_WRONLY) | _O_CREAT | _O_APPEND;
      streamMode = plus ? "a+b" : "ab";
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  std::wstring wide;
  try {
    wide = pathFromUtf8(utf8Path).native();
  } catch (const std::exception&) {  // no UTF-8: no name Windows could have
    errno = EILSEQ;
    return nullptr;
  }
  const int fd = _wopen(wide.c_str(), flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* f = _fdopen(fd, streamMode.c_str());
  if (f == nullptr) {
    const int error = errno;
    _close(fd);
    errno = error;
  }
  return f;
}

}  // namespace tv

#include "platform/posix/posix_local_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tv {
namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

SystemError posixError(int code) {
  return platformError(code);
}

// Opens path without following a link at its last part; only a regular file
// is kept open.
int openRegular(const std::string& path, int flags, SystemError& error) {
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kOwnerOnly);
  if (fd < 0) {
    error = posixError(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = posixError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    ::close(fd);
    return -1;
  }
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl != -1) (void)::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

class FlockLock : public FolderLock {
 public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override { ::close(fd_); }
  FlockLock(const FlockLock&) = delete;
  FlockLock& operator=(const FlockLock&) = delete;

 private:
  int fd_;
};

}  // namespace

LocalFiles::Opened PosixLocalFiles::openAppend(const std::string& path) {
  Opened o;
  const int fd = openRegular(path, O_RDWR | O_APPEND | O_CREAT, o.error);
  if (fd < 0) return o;
  o.file = ::fdopen(fd, "a+");
  if (o.file == nullptr) {
    o.error = posixError(errno);
    ::close(fd);
  }
  return o;
}

LocalFiles::Opened PosixLocalFiles::createUnique(const std::string& stem, std::string& path) {
  Opened o;
  std::vector<char> name(stem.begin(), stem.end());
  for (char c : std::string("XXXXXX")) name.push_back(c);
  name.push_back('\0');
  // mkostemp creates with O_EXCL and mode 0600: a name planted beforehand,
  // link or not, is never opened.
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    o.error = posixError(errno);
    return o;
  }
  path.assign(name.data());
  o.file = ::fdopen(fd, "w");
  if (o.file == nullptr) {
    o.error = posixError(errno);
    ::close(fd);
    ::unlink(path.c_str());
  }
  return o;
}

SystemError PosixLocalFiles::finish(std::FILE* file) {
  SystemError error;
  if (std::fflush(file) != 0) error = posixError(errno);
  if (!error && ::fsync(::fileno(file)) != 0) error = posixError(errno);
  if (std::fclose(file) != 0 && !error) error = posixError(errno);
  return error;
}

SystemError PosixLocalFiles::readWhole(const std::string& path, std::string& content) {
  content.clear();
  SystemError error;
  const int fd = openRegular(path, O_RDONLY, error);
  if (fd < 0) return error;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = posixError(errno);
      break;
    }
    if (n == 0) break;
    content.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return error;
}

SystemError PosixLocalFiles::restrictToOwner(const std::string& path) {
  SystemError error;
  const int fd = openRegular(path, O_RDONLY, error);
  if (fd < 0) return error;
  if (::fchmod(fd, kOwnerOnly) != 0) error = posixError(errno);
  ::close(fd);
  return error;
}

LocalFiles::Locked PosixLocalFiles::lockFolder(const std::string& folder) {
  Locked l;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    l.error = posixError(errno);
    return l;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    l.heldElsewhere = err == EWOULDBLOCK;
    l.error = posixError(err);
    return l;
  }
  l.lock = std::make_unique<FlockLock>(fd);
  return l;
}

}  // namespace tv

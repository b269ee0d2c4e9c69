#include "platform/posix/key_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tv {
namespace {

std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

int writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Writes a file through a temporary beside it and a rename.
int replaceFile(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int err = writeAll(fd, text);
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(tmp.c_str());
  return err;
}

}  // namespace

std::string KeyFiles::keyPath(const std::string& key) const {
  std::string name = key;
  for (char& c : name) {
    if (c == '\\' || c == '/') c = '.';
  }
  return root_ + "/" + name + ".key";
}

int KeyFiles::readValues(const std::string& key, std::map<std::string, std::string>& values) const {
  std::ifstream in(keyPath(key));
  if (!in) {
    struct stat st {};
    return ::stat(keyPath(key).c_str(), &st) != 0 ? errno : EACCES;
  }
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return 0;
}

InstallKeys::Opened KeyFiles::createKey(const std::string& key) {
  Opened result;
  std::error_code ec;
  std::filesystem::create_directories(root_, ec);
  if (ec) {
    result.error = ec.value();
    return result;
  }
  std::string path = keyPath(key);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(fd);
    return result;
  }
  if (errno != EEXIST) {
    result.error = errno;
    return result;
  }
  // An existing key must still be writable to be replaced.
  if (::access(path.c_str(), W_OK) != 0) {
    result.error = errno;
    return result;
  }
  result.existed = true;
  return result;
}

int KeyFiles::setValue(const std::string& key, const KeyValue& value) {
  std::map<std::string, std::string> values;
  if (int err = readValues(key, values); err != 0) return err;
  std::string data = value.type == KeyValue::kDword ? "REG_DWORD:" + std::to_string(value.dword)
                                                    : "REG_EXPAND_SZ:" + escape(value.text);
  values[value.name] = data;
  std::string text;
  for (const auto& [name, line] : values) text += name + "=" + line + "\n";
  return replaceFile(keyPath(key), text);
}

InstallKeys::Query KeyFiles::queryText(const std::string& key, const std::string& name) {
  Query q;
  std::map<std::string, std::string> values;
  q.keyError = readValues(key, values);
  if (q.keyError != 0) return q;
  auto it = values.find(name);
  const std::string prefix = "REG_EXPAND_SZ:";
  if (it == values.end() || it->second.rfind(prefix, 0) != 0) {
    q.valueError = ENOENT;
    return q;
  }
  q.text = unescape(it->second.substr(prefix.size()));
  return q;
}

int KeyFiles::deleteKey(const std::string& key) {
  if (::unlink(keyPath(key).c_str()) != 0) return errno;
  return 0;
}

}  // namespace tv

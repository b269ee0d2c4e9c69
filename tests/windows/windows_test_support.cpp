#include "windows/windows_test_support.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/windows/wide.h"

namespace tv::wintest {

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, base);
  static int counter = 0;
  for (;;) {
    std::wstring p = std::wstring(base) + L"tv-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(++counter);
    if (CreateDirectoryW(p.c_str(), nullptr)) {
      path_ = win::toUtf8(p);
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(win::toWide(path_)), ec);
}

bool readFile(const std::string& path, std::string& out) {
  std::ifstream in(win::toWide(path).c_str(), std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::string readFile(const std::string& path) {
  std::string out;
  (void)readFile(path, out);
  return out;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(win::toWide(path).c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path) {
  return GetFileAttributesW(win::toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string windowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string env(const std::string& name) {
  const std::wstring w = win::toWide(name);
  const DWORD n = GetEnvironmentVariableW(w.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring v(n, L'\0');
  const DWORD m = GetEnvironmentVariableW(w.c_str(), v.data(), n);
  v.resize(m);
  return win::toUtf8(v);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

}  // namespace tv::wintest

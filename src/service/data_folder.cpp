#include "service/data_folder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "text/text.h"

namespace tv {
namespace fs = std::filesystem;
namespace {

bool asciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> findFiles(const std::string& folder, std::string_view prefix,
                                   std::string_view suffix, int* error) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    if (error != nullptr) *error = ec.value();
    return names;
  }
  for (const fs::directory_entry& e : it) {
    std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    if (name.size() < prefix.size() + suffix.size()) continue;
    if (!asciiEqualNoCase(std::string_view(name).substr(0, prefix.size()), prefix)) continue;
    if (!asciiEqualNoCase(std::string_view(name).substr(name.size() - suffix.size()), suffix)) {
      continue;
    }
    std::error_code fec;
    if (!e.is_regular_file(fec)) continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  if (error != nullptr) *error = 0;
  return names;
}

std::time_t lastWriteTime(const std::string& path) {
  std::error_code ec;
  fs::file_time_type t = fs::last_write_time(path, ec);
  if (ec) return -1;
  return std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(
          std::chrono::file_clock::to_sys(t)));
}

}  // namespace tv

// Helpers of the Windows adapter tests: temp folders, whole-file reads and
// writes by UTF-8 name, and the Windows form of a path CTest hands over.
#pragma once

#include <string>
#include <vector>

namespace tv::wintest {

// A fresh folder below the temp folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

[[nodiscard]] bool readFile(const std::string& path, std::string& out);
[[nodiscard]] std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
[[nodiscard]] bool exists(const std::string& path);

// "/a/b" as Wine names it ("Z:\a\b"); a Windows path is returned unchanged.
[[nodiscard]] std::string windowsPath(const std::string& path);

// An environment variable of the test process, empty when unset.
[[nodiscard]] std::string env(const std::string& name);

[[nodiscard]] std::vector<std::string> lines(const std::string& text);

// Polls until condition() holds or the seconds pass.
template <typename F>
bool waitFor(F condition, int seconds);

}  // namespace tv::wintest

#include <windows.h>

template <typename F>
bool tv::wintest::waitFor(F condition, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (condition()) return true;
    Sleep(50);
  }
  return condition();
}

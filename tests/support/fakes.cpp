#include "support/fakes.h"

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "text/text.h"

namespace tv::test {

std::string errnoText(int code) {
  return std::string(std::strerror(code)) + "\n";
}

TempFolder::TempFolder() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto p = base / ("tavlevagt-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(p)) {
      path_ = p.string();
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempFolder::write(const std::string& name, const std::string& bytes) const {
  std::filesystem::create_directories(std::filesystem::path(file(name)).parent_path());
  std::ofstream out(file(name), std::ios::binary);
  out << bytes;
}

std::string TempFolder::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string LogFixture::text() const {
  return cp1252ToUtf8(folder.read("Tavlevagt.log"));
}

}  // namespace tv::test

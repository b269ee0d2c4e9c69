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

std::string CapturedStream::text() const {
  std::string text;
  if (stream_ == nullptr) return text;
  std::fflush(stream_);
  const long end = std::ftell(stream_);
  std::rewind(stream_);
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, stream_)) > 0) text.append(buf, n);
  std::fseek(stream_, end, SEEK_SET);
  return text;
}

std::string LogFixture::text() const {
  return cp1252ToUtf8(folder.read("Tavlevagt.log"));
}

}  // namespace tv::test

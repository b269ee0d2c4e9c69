#include "service_test_support.h"

#include <filesystem>

#include "text/text.h"

namespace tv::test {

std::string ServiceFixture::logText() const {
  return cp1252ToUtf8(folder.read("Tavlevagt.log"));
}

bool ServiceFixture::exists(const std::string& name) const {
  return std::filesystem::exists(folder.file(name));
}

}  // namespace tv::test

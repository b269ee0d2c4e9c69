// Runs the command-line fuzz target over a few nasty inputs in the normal test run.
#include "fuzz/command_line_fuzz.cpp"

#include <gtest/gtest.h>

#include <string>

namespace {

int feed(const std::string& bytes) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(CommandLineFuzz, NastyInputs) {
  EXPECT_EQ(feed(""), 0);
  EXPECT_EQ(feed(std::string(1, '\0')), 0);
  EXPECT_EQ(feed(std::string("--config-root\0\0-i\0", 18)), 0);
  EXPECT_EQ(feed(std::string("--unit-folder\0--unit-folder\0x\0-d", 32)), 0);
  EXPECT_EQ(feed("-i\0" + std::string(100000, 'x')), 0);
  EXPECT_EQ(feed(std::string("\xff\xfe-\x80\0-u", 7)), 0);
}

}  // namespace

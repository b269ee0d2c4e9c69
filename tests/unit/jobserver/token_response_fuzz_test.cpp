// Runs the fuzz target's checks over inputs that once broke readers like it,
// so the normal test run keeps them honest without a fuzzing build.
#include "fuzz/token_response_fuzz.cpp"

#include <gtest/gtest.h>

namespace tv::fuzz {
namespace {

int run(std::string_view s) {
  return tokenResponseOne(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

TEST(TokenResponseFuzzInputs, NastyInputsKeepEveryInvariant) {
  const std::string inputs[] = {
      "",
      "\"",
      "\"token_type\":\"",
      "\"token_type\":\"\"access_token\":\"\"",
      "{\"token_type\":\"Bearer\",\"access_token\":\"a\r\nb\"}",
      "{\"access_token\":\"x\",\"token_type\":\"y",
      std::string("\"token_type\":\"a\0b\",\"access_token\":\"c\"", 36),
      ",,,,pwd,pwdpwd,../x,..,a\\b,\x01pwd",
      std::string(5000, ','),
      "brovalt-kodevalt-",
      "\xC3\xF0\x9F\xFF\xFE\x80",
      std::string(3, '\0'),
  };
  for (const auto& in : inputs) EXPECT_EQ(run(in), 0);
}

TEST(TokenResponseFuzzInputs, EmptyMembersAreStillMembers) {
  auto token = jobserver::readToken("\"token_type\":\"\"access_token\":\"\"");
  ASSERT_TRUE(token);
  EXPECT_EQ(token->type, "");
  EXPECT_EQ(token->access, "");
}

}  // namespace
}  // namespace tv::fuzz

#include "password/password_line.h"

#include <gtest/gtest.h>

#include <string>

#include "fuzz/password_line_fuzz.cpp"
#include "text/cipher.h"

namespace tv {
namespace {

using namespace std::string_literals;

// Enciphered lines made with Python's cryptography package (see
// cipher_test.cpp for the command).
TEST(PasswordLine, SplitsLoginAndPasswordOfAWindows1252Line) {
  PasswordLine line = decodePasswordLine("X4Ag3v9I4sO29S5uS2V/");  // "jens;Sol\xe6g2024"
  EXPECT_EQ(line.clear, "jens;Solæg2024");
  EXPECT_FALSE(line.header);
  EXPECT_TRUE(line.separator);
  EXPECT_EQ(line.login, "jens");
  EXPECT_EQ(line.password, "Solæg2024");

  line = decodePasswordLine("zYkrlrT+/sQ1kg==");  // "\xf8le;p\xe5ske"
  EXPECT_EQ(line.login, "øle");
  EXPECT_EQ(line.password, "påske");
}

TEST(PasswordLine, PasswordKeepsEverythingAfterTheFirstSeparator) {
  PasswordLine line = decodePasswordLine("VIctlqB+65Q3+nVe");  // "abc;def;ghi"
  EXPECT_EQ(line.login, "abc");
  EXPECT_EQ(line.password, "def;ghi");
}

TEST(PasswordLine, AHeaderInEncipheredFormEndsTheSection) {
  PasswordLine line = decodePasswordLine("  dc4P6ZtLzPwDkg==\r\n");  // "@+AD_PASS"
  EXPECT_TRUE(line.header);
  EXPECT_EQ(line.clear, "@+AD_PASS");
  EXPECT_EQ(line.login, "");
  EXPECT_EQ(line.password, "");
}

TEST(PasswordLine, ClearTextIsTrimmedAndFieldsAreCut) {
  PasswordLine line = decodePasswordLine("FcUswv9r+o9Zkg==");  // "  bo;pw \t"
  EXPECT_EQ(line.clear, "bo;pw");
  EXPECT_EQ(line.login, "bo");
  EXPECT_EQ(line.password, "pw");

  line = decodePasswordLine("VN4+3bRr/d8g4mwuCSEPKBMm6JgRWyZcRNOecZw4ccEZ");  // "a;" + 30 p
  EXPECT_EQ(line.login, "a");
  EXPECT_EQ(line.password, std::string(20, 'p'));

  line = decodePasswordLine("TZ021bxj9dco6mQmASkHIBsu4JAZUy5UTNuWeZQweclhrdqUN6SylXs=");  // 40 x
  EXPECT_FALSE(line.separator);
  EXPECT_EQ(line.login, std::string(24, 'x'));
  EXPECT_EQ(line.password, "");
}

TEST(PasswordLine, EmptyAndUndecipherableLines) {
  EXPECT_EQ(decodePasswordLine("").clear, "");
  EXPECT_EQ(decodePasswordLine(" \t ").clear, "");
  EXPECT_EQ(decodePasswordLine("NQ==").clear, "");  // an enciphered empty text
  // A clear-text line is not refused: it deciphers to bytes that end at the
  // first zero byte, never beyond the line.
  PasswordLine garbage = decodePasswordLine("@+AD_PASS");
  EXPECT_LE(garbage.clear.size(), 2 * 9u);
}

TEST(PasswordLine, LongClearTextIsCutAt998Characters) {
  std::string longClear = "@" + std::string(1500, 'z');
  PasswordLine line = decodePasswordLine(cipher::encipher(longClear));
  EXPECT_TRUE(line.header);
  EXPECT_EQ(line.clear, longClear.substr(0, 998));
}

TEST(PasswordLineFuzzTarget, SurvivesNastyInputs) {
  const std::string inputs[] = {
      ""s,
      "="s,
      "===="s,
      "\0\0\0"s,
      "QQ==\0QQ=="s,
      std::string(5000, '/'),
      "\xff\xfe\x00@"s,
      "Zm9v;;;;"s,
      cipher::encipher(";;;"),
      cipher::encipher("@"),
      cipher::encipher(std::string(3000, ';')),
      cipher::encipher("\x81\x8d\x8f\x90\x9d"),
  };
  for (const auto& in : inputs) fuzz::checkPasswordLine(in);
  EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>("abc"), 3), 0);
}

}  // namespace
}  // namespace tv

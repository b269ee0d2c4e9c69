#include "text/text.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(Text, Cp1252RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
  EXPECT_EQ(cp1252ToUtf8("\xE6\xF8\xE5\x80"), "æøå€");
  EXPECT_EQ(utf8ToCp1252("Ω"), "?");
}

TEST(Text, CutsOnCharacterBoundaries) {
  EXPECT_EQ(cutChars("æøåabc", 4), "æøåa");
  EXPECT_EQ(charCount("æøå"), 3u);
  EXPECT_EQ(cutChars("ab", 10), "ab");
}

TEST(Text, CaseMappingCoversDanishLetters) {
  EXPECT_EQ(toLower("ÆRØ Å"), "ærø å");
  EXPECT_EQ(toUpper("kæmpe"), "KÆMPE");
  EXPECT_TRUE(equalsIgnoreCase("Mappe", "MAPPE"));
  EXPECT_TRUE(equalsIgnoreCase("Ærø-Mappe", "æRØ-mappe"));
  EXPECT_FALSE(equalsIgnoreCase("Mappe", "Mappen"));
  EXPECT_FALSE(equalsIgnoreCase("ærø", "æro"));
  // The ASCII folding leaves every other letter as written.
  EXPECT_EQ(asciiToLower("ÆbLE-Øst"), "Æble-Øst");
}

TEST(Text, Utf16LittleEndian) {
  EXPECT_EQ(toUtf16le("\"a\""), std::string("\"\0a\0\"\0", 6));
  EXPECT_EQ(toUtf16le("€"), std::string("\xAC\x20", 2));
}

TEST(Text, SplitKeepsEmptyPieces) {
  EXPECT_EQ(split("a::b", ':'), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(trim("  x \r\n"), "x");
}

}  // namespace
}  // namespace tv

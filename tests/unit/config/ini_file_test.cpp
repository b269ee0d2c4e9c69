#include "config/ini_file.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace tv {
namespace {

std::string get(const IniFile& ini, const char* section, const char* key) {
  return ini.get(section, key, "<default>", 499);
}

TEST(IniFile, SectionsAndKeysIgnoreCase) {
  IniFile ini = IniFile::fromBytes("[TAVLEVAGT]\r\nidrift=Ja\r\n[æble]\r\nKey=1\r\n");
  EXPECT_EQ(get(ini, "Tavlevagt", "IDrift"), "Ja");
  EXPECT_EQ(get(ini, "tavlevagt", "IDRIFT"), "Ja");
  // Windows-1252 names are compared after conversion, Danish letters included.
  IniFile danish = IniFile::fromBytes(
      "[\xC6"
      "ble]\nKey=1\n");
  EXPECT_EQ(get(danish, "æble", "key"), "1");
}

TEST(IniFile, BlanksAroundKeyAndValueAreDropped) {
  IniFile ini = IniFile::fromBytes("[S]\n  \tA  =   v\xE6rdi med blanke  \t\r\nB=\nC =  \x1a\n");
  EXPECT_EQ(get(ini, "S", "A"), "værdi med blanke");
  EXPECT_EQ(get(ini, "S", "B"), "");  // present but empty: not the default
  EXPECT_EQ(get(ini, "S", "C"), "");
}

TEST(IniFile, MatchingQuotesAroundAValueAreRemoved) {
  IniFile ini = IniFile::fromBytes(
      "[S]\nA=\"  inde  \"\nB='x'\nC=\"x'\nD=\"\nE=\"\"\nF=a\"b\"\nG=\"a\"b\"\nH='\n");
  EXPECT_EQ(get(ini, "S", "A"), "  inde  ");
  EXPECT_EQ(get(ini, "S", "B"), "x");
  EXPECT_EQ(get(ini, "S", "C"), "\"x'");
  EXPECT_EQ(get(ini, "S", "D"), "\"");  // one mark alone is kept
  EXPECT_EQ(get(ini, "S", "E"), "");
  EXPECT_EQ(get(ini, "S", "F"), "a\"b\"");
  EXPECT_EQ(get(ini, "S", "G"), "a\"b");
  EXPECT_EQ(get(ini, "S", "H"), "'");
  EXPECT_EQ(ini.raw("S", "A"), "\"  inde  \"");
}

TEST(IniFile, FirstKeyAndFirstSectionWin) {
  IniFile ini = IniFile::fromBytes("[S]\nA=1\nA=2\n[T]\nX=1\n[s]\nA=3\nB=4\n");
  EXPECT_EQ(get(ini, "S", "A"), "1");
  // The Windows reader searches only the first section of a name.
  EXPECT_EQ(get(ini, "S", "B"), "<default>");
  EXPECT_EQ(get(ini, "T", "X"), "1");
}

TEST(IniFile, CommentsAndGarbageLinesAreIgnored) {
  IniFile ini = IniFile::fromBytes(
      "IDrift=Ja\n"           // before any section
      "[Tavlevagt] ; main\n"  // text after the header's "]"
      ";IDrift=Ja\n"
      "   ; LogLevel=5\n"
      "IDrift\n"  // no "=": not a value, and no shadow of the next line
      "=Ja\n"
      "[Mail\n"  // no "]": not a header
      "IDrift=Nej\n"
      "LogLevel=2\n");
  EXPECT_EQ(get(ini, "Tavlevagt", "IDrift"), "Nej");
  EXPECT_EQ(get(ini, "Tavlevagt", "LogLevel"), "2");
  EXPECT_EQ(get(ini, "Tavlevagt", ";IDrift"), "<default>");
  EXPECT_EQ(get(ini, "Mail", "IDrift"), "<default>");
  EXPECT_EQ(ini.sectionCount(), 1u);
}

TEST(IniFile, TextIsWindows1252UnlessAByteOrderMarkSaysOtherwise) {
  EXPECT_EQ(get(IniFile::fromBytes("[S]\nA=\xE6\xF8\xE5 \x80\n"), "S", "A"), "æøå €");
  EXPECT_EQ(get(IniFile::fromBytes("\xEF\xBB\xBF[S]\nA=\xC3\xB8\n"), "S", "A"), "ø");
  // UTF-16 as Notepad writes "Unicode": "[S]\r\nA=ø\r\n".
  std::string le = "\xFF\xFE";
  for (char16_t c : std::u16string(u"[S]\r\nA=ø😀\r\n")) {
    le += static_cast<char>(c & 0xFF);
    le += static_cast<char>(c >> 8);
  }
  EXPECT_EQ(get(IniFile::fromBytes(le), "S", "A"), "ø😀");
  std::string be = "\xFE\xFF";
  for (char16_t c : std::u16string(u"[S]\nA=ø\n")) {
    be += static_cast<char>(c >> 8);
    be += static_cast<char>(c & 0xFF);
  }
  EXPECT_EQ(get(IniFile::fromBytes(be), "S", "A"), "ø");
}

TEST(IniFile, ANulEndsAValue) {
  IniFile ini = IniFile::fromBytes(std::string("[S]\nA=ab\0cd\n", 12));
  EXPECT_EQ(get(ini, "S", "A"), "ab");
}

TEST(IniFile, ValuesAreCutInCharacters) {
  IniFile ini = IniFile::fromBytes("[S]\nA=\xE6\xF8\xE5xyz\nB=\"abcdef\"\n");
  EXPECT_EQ(ini.get("S", "A", "", 4), "æøåx");
  EXPECT_EQ(ini.get("S", "B", "", 3), "abc");
  EXPECT_EQ(ini.get("S", "missing", "standard", 4), "stan");
}

TEST(IniFile, MissingFileGivesDefaultsAndSaysSo) {
  test::TempFolder folder;
  IniFile::Status status = IniFile::Status::kRead;
  IniFile ini = IniFile::fromFile(folder.file("Tavlevagt.ini"), &status);
  EXPECT_EQ(status, IniFile::Status::kMissing);
  EXPECT_EQ(get(ini, "Tavlevagt", "IDrift"), "<default>");

  folder.write("Tavlevagt.ini", "[Tavlevagt]\nIDrift=Ja\n");
  ini = IniFile::fromFile(folder.file("Tavlevagt.ini"), &status);
  EXPECT_EQ(status, IniFile::Status::kRead);
  EXPECT_EQ(get(ini, "Tavlevagt", "IDrift"), "Ja");
}

}  // namespace
}  // namespace tv

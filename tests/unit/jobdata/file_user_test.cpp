#include "jobdata/file_user.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobdata_fixture.h"

namespace tv::test {
namespace {

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class FileUserTest : public JobdataTest {
 protected:
  FileUser parse(const std::string& line, ParseResult expected = ParseResult::kOk) {
    FileUser user;
    EXPECT_EQ(parseRecordLine(rt, line, user), expected) << line;
    return user;
  }
  // The records of the section after the first line of bytes.
  std::vector<FileUser> section(const std::string& bytes, SectionEnd expected,
                                const ExceptionList& exceptions = {}) {
    JobReader reader(fixture.log, bytes, "brovalt-3.dat");
    JobLine line;
    EXPECT_TRUE(reader.nextWhole(line));
    std::vector<FileUser> list;
    EXPECT_EQ(buildFileUserList(rt, reader, line, list, exceptions), expected);
    lastLine = line;
    return list;
  }
  JobLine lastLine;
};

TEST_F(FileUserTest, StaffFieldsComeFromTheirPositions) {
  staff();
  FileUser u = parse(staffLine("ANNE", kId1));
  EXPECT_EQ(u.login, "anne");
  EXPECT_EQ(u.identification, kId1);
  EXPECT_EQ(u.password, "Kode1");
  EXPECT_EQ(u.firstName, "f3");
  EXPECT_EQ(u.lastName, "f4");
  EXPECT_EQ(u.personNumber, "f5");
  EXPECT_EQ(u.birthDate, "070315");
  EXPECT_EQ(u.responsibilityArea, "f8");
  EXPECT_EQ(u.jobTitle, "f9");
  EXPECT_EQ(u.departmentCode, "f10");
  EXPECT_EQ(u.departmentName, "f11");
  EXPECT_EQ(u.street, "f12");
  EXPECT_EQ(u.placeName, "f13");
  EXPECT_EQ(u.postalDistrict, "f14");
  EXPECT_EQ(u.postalNumber, "f15");
  EXPECT_EQ(u.staffDescription, "f16");
  EXPECT_EQ(u.telephone, "f17");
  EXPECT_EQ(u.klovAt, "f18");
  EXPECT_EQ(u.klovMa, "f19");
  EXPECT_EQ(u.klovMt, "f20");
  EXPECT_EQ(u.pupilDepartmentShortName, "");
  EXPECT_EQ(u.educationShortName, "");
  EXPECT_EQ(u.birthdayText, "7. marts");
  EXPECT_EQ(u.splitLetter, "A");
  EXPECT_EQ(u.description, "Autooprettet af ZEB (f5)");
  EXPECT_EQ(u.email, "anne@skole.test");
  EXPECT_EQ(u.previousLogin, "");
  EXPECT_EQ(u.fieldCount, 21);
}

TEST_F(FileUserTest, PupilFieldsComeFromTheirPositions) {
  pupils();
  FileUser u = parse(pupilLine("ABC", kId1, {{5, "4711"}}));
  EXPECT_EQ(u.login, "ABC");
  EXPECT_EQ(u.splitLetter, "A");
  EXPECT_EQ(u.personNumber, "4711");
  EXPECT_EQ(u.street, "f8");
  EXPECT_EQ(u.placeName, "f9");
  EXPECT_EQ(u.postalDistrict, "f10");
  EXPECT_EQ(u.postalNumber, "f11");
  EXPECT_EQ(u.telephone, "f12");
  EXPECT_EQ(u.klovAt, "f13");
  EXPECT_EQ(u.klovMa, "f14");
  EXPECT_EQ(u.pupilDepartmentShortName, "f15");
  EXPECT_EQ(u.educationShortName, "f16");
  EXPECT_EQ(u.responsibilityArea, "");
  EXPECT_EQ(u.jobTitle, "");
  EXPECT_EQ(u.klovMt, "");
  EXPECT_EQ(u.description, "Autooprettet af ZEB (4711)");
  EXPECT_EQ(u.email, "ABC@skole.test");
}

TEST_F(FileUserTest, StaffLoginsLoseOnlyAsciiCapitals) {
  staff();
  FileUser u = parse(staffLine("ÆBLE", kId1));
  EXPECT_EQ(u.login, "Æble");
  EXPECT_EQ(u.splitLetter, "Æ");
  pupils();
  EXPECT_EQ(parse(pupilLine("ølaf", kId1)).splitLetter, "Ø");
}

TEST_F(FileUserTest, MinimumFieldCounts) {
  staff();
  FileUser u = parse(recordLine(20, {{0, "bo"}, {1, kId1}, {6, "010101"}}));
  EXPECT_EQ(u.klovMa, "f19");
  EXPECT_EQ(u.klovMt, "");
  u = parse(recordLine(19, {{0, "bo"}, {1, kId1}, {5, "77"}}), ParseResult::kTooFewFields);
  EXPECT_EQ(u.login, "");
  EXPECT_EQ(u.identification, "");
  EXPECT_EQ(u.personNumber, "");
  EXPECT_EQ(u.description, "Autooprettet af ZEB ()");
  EXPECT_EQ(u.email, "@skole.test");
  EXPECT_EQ(u.fieldCount, 19);
  pupils();
  EXPECT_EQ(parse(recordLine(17, {{0, "p"}, {1, kId1}, {6, "010101"}})).login, "p");
  parse(recordLine(16, {{0, "p"}, {1, kId1}}), ParseResult::kTooFewFields);
  EXPECT_EQ(logText(), "");  // too few fields is the list's business
  EXPECT_TRUE(exits.empty());
}

TEST_F(FileUserTest, FieldsAreCutToTheirCapacity) {
  pupils();
  FileUser u =
      parse(pupilLine(std::string(30, 'l'), kId1,
                      {{3, repeat("ø", 80)}, {5, "123456789012"}, {15, std::string(60, 'k')}}));
  EXPECT_EQ(u.login, std::string(24, 'l'));
  EXPECT_EQ(u.email, std::string(24, 'l') + "@skole.test");
  EXPECT_EQ(u.firstName, repeat("ø", 70));
  EXPECT_EQ(u.personNumber, "1234567890");
  EXPECT_EQ(u.pupilDepartmentShortName, std::string(50, 'k'));
}

TEST_F(FileUserTest, IdentificationOfWrongLengthEndsTheProcessWith25) {
  for (const std::string& id : {kId1.substr(1), kId1 + "x"}) {
    pupils();
    parse(pupilLine("kim", id), ParseResult::kFatal);
  }
  EXPECT_EQ(exits, (std::vector<int>{25, 25}));
  EXPECT_EQ(logText(),
            " FEJL I BRUGERIDENTIFIKATIONSFELTET I FIL 'kim', '" + kId1.substr(1) +
                "', 31 :\n Synkroniseringsfilen er sansynligvis forkert - kontakt ZEB.\n"
                " FEJL I BRUGERIDENTIFIKATIONSFELTET I FIL 'kim', '" +
                kId1 + "x', 33 :\n Synkroniseringsfilen er sansynligvis forkert - kontakt ZEB.\n");
}

TEST_F(FileUserTest, IdentificationsAreCountedInCharacters) {
  pupils();
  std::string danish = std::string(29, 'a') + "æøå";  // 32 characters, 35 bytes
  EXPECT_EQ(parse(pupilLine("kim", danish)).identification, danish);
  EXPECT_TRUE(exits.empty());
}

TEST_F(FileUserTest, AStraySeparatorShiftsTheFieldsAfterIt) {
  pupils();
  // No quoting: "Anne;Marie" is two fields, so everything after moves one on.
  FileUser u = parse(pupilLine("am", kId1, {{3, "Anne;Marie"}, {4, "Holm"}, {5, "77"}}));
  EXPECT_EQ(u.firstName, "Anne");
  EXPECT_EQ(u.lastName, "Marie");
  EXPECT_EQ(u.personNumber, "Holm");
  EXPECT_EQ(u.birthDate, "77");
  EXPECT_EQ(u.birthdayText, "");
  EXPECT_EQ(u.fieldCount, 18);
  EXPECT_TRUE(exits.empty());
  // One before the identification moves a wrong value into its place.
  parse("an;na;" + kId1 + ";Kode1;a;b;1;070315;;;;;;;;;;", ParseResult::kFatal);
  EXPECT_EQ(exits, std::vector<int>{25});
}

TEST_F(FileUserTest, PasswordFieldIsKeptOrDeciphered) {
  pupils();
  EXPECT_EQ(parse(pupilLine("a", kId1, {{2, "Kode4711"}})).password, "Kode4711");
  EXPECT_EQ(parse(pupilLine("a", kId1, {{2, "xKodex"}})).password, "xKodex");
  // Enciphered "Hemmelig1" (Python's cryptography package, see cipher_test.cpp).
  EXPECT_EQ(parse(pupilLine("a", kId1, {{2, "fYAjwKF35Mhhkg=="}})).password, "Hemmelig1");
  // Enciphered Windows-1252 "\xf8le;p\xe5ske" arrives as UTF-8.
  EXPECT_EQ(parse(pupilLine("a", kId1, {{2, "zYkrlrT+/sQ1kg=="}})).password, "øle;påske");
  EXPECT_EQ(parse(pupilLine("a", kId1, {{2, ""}})).password, "");
  EXPECT_EQ(parse(pupilLine("a", kId1, {{2, "NQ=="}})).password, "");
}

TEST_F(FileUserTest, BirthdayText) {
  EXPECT_EQ(birthdayText(fixture.log, "070315"), "7. marts");
  EXPECT_EQ(birthdayText(fixture.log, "311299"), "31. december");
  EXPECT_EQ(birthdayText(fixture.log, "010100"), "1. januar");
  EXPECT_EQ(logText(), "");
  EXPECT_EQ(birthdayText(fixture.log, "07031"), "");
  EXPECT_EQ(birthdayText(fixture.log, "0703155"), "");
  EXPECT_EQ(birthdayText(fixture.log, "07a315"), "");
  EXPECT_EQ(birthdayText(fixture.log, "071315"), "7. ");
  EXPECT_EQ(logText(),
            "   **FEJL: Fødselsdatoens format er ikke gyldig.\n"
            "   **FEJL: Fødselsdatoens format er ikke gyldig.\n"
            "   **FEJL: Fødselsdatoens format er ikke gyldig.\n"
            "   **FEJL: Fødselsdatoens måned er ikke gyldig.");
}

TEST_F(FileUserTest, BadBirthDateKeepsTheRecord) {
  pupils();
  FileUser u = parse(pupilLine("a", kId1, {{6, "0013xx"}}));
  EXPECT_EQ(u.login, "a");
  EXPECT_EQ(u.birthdayText, "");
}

TEST_F(FileUserTest, SectionEndsAtAnEmptyLine) {
  staff();
  auto list = section("@*MEDA\n" + staffLine("a1", kId1) + "\r\n" + staffLine("a2", kId2) +
                          "\r\n\r\n" + staffLine("a3", kId1) + "\r\n",
                      SectionEnd::kEmptyLine);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].login, "a1");
  EXPECT_EQ(list[1].login, "a2");
}

TEST_F(FileUserTest, SectionEndsAtAHeaderWhichStaysInHand) {
  pupils();
  auto list = section("@*PERS\n" + pupilLine("p1", kId1) + "\n  \n" + pupilLine("p2", kId2) +
                          "\n@*meda\n" + pupilLine("p3", kId1),
                      SectionEnd::kHeader);
  ASSERT_EQ(list.size(), 2u);  // a line of blanks neither ends nor adds
  EXPECT_EQ(list[1].login, "p2");
  EXPECT_EQ(lastLine.text, "@*meda");
}

TEST_F(FileUserTest, SectionEndsAtTheEndOfTheFile) {
  pupils();
  EXPECT_EQ(section("@*PERS\n" + pupilLine("p1", kId1), SectionEnd::kEndOfFile).size(), 1u);
  EXPECT_EQ(section("@*PERS", SectionEnd::kEndOfFile).size(), 0u);
}

TEST_F(FileUserTest, ExceptedUsersAreDroppedCaseSensitively) {
  pupils();
  rt.settings.LogLevel = 1;
  auto list = section(
      "@*PERS\n" + pupilLine("kim", kId1, {{3, "whatever"}}) + "\n" + pupilLine("Kim", kId2) + "\n",
      SectionEnd::kEndOfFile, {"kim"});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].login, "Kim");
  EXPECT_EQ(logText(), "NavnUndtaget-> kim - Undtaget\nBruger kim undtaget\n");
}

TEST_F(FileUserTest, ExceptedUsersAreDroppedSilentlyAtLogLevelZero) {
  pupils();
  auto list = section("@*PERS\n" + pupilLine("kim", kId1) + "\n", SectionEnd::kEndOfFile, {"kim"});
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(logText(), "");
}

TEST_F(FileUserTest, LinesThatNameNoAccountAreLeftOutOfTheListWithALine) {
  struct Case {
    std::string line;
    std::string log;
  };
  const Case cases[] = {
      {"bo;" + kId1 + ";x",
       "** Fejl: Linje 2 i brovalt-3.dat har 3 felter, mindst 20 kræves; linjen springes over.\n"},
      {staffLine("", kId2),
       "** Fejl: Linje 2 i brovalt-3.dat har intet login; linjen springes over.\n"},
      {staffLine("  ", kId2),
       "** Fejl: Linje 2 i brovalt-3.dat har intet login; linjen springes over.\n"},
  };
  staff();
  for (const Case& c : cases) {
    const std::size_t before = logText().size();
    auto list =
        section("@*MEDA\n" + c.line + "\n" + staffLine("a1", kId1) + "\n", SectionEnd::kEndOfFile);
    ASSERT_EQ(list.size(), 1u) << c.line;
    EXPECT_EQ(list[0].login, "a1");
    EXPECT_EQ(logText().substr(before), c.log);
  }
}

TEST_F(FileUserTest, AFatalIdentificationStopsTheList) {
  staff();
  auto list = section("@*MEDA\n" + staffLine("a1", kId1) + "\n" + staffLine("a2", "short") + "\n" +
                          staffLine("a3", kId2) + "\n",
                      SectionEnd::kFatal);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(exits, std::vector<int>{25});
}

TEST_F(FileUserTest, ALineLongerThanTheReadBufferIsOneRecord) {
  pupils();
  std::string groups;
  for (int i = 0; i < 120; ++i) groups += "Gruppe" + std::to_string(i) + ":";
  auto list = section("@*PERS\n" + pupilLine("lang", kId1, {{7, groups}, {16, "UDD"}}) + "\n" +
                          pupilLine("kort", kId2) + "\n",
                      SectionEnd::kEndOfFile);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].login, "lang");
  EXPECT_EQ(list[0].educationShortName, "UDD");
  EXPECT_EQ(list[1].login, "kort");
}

TEST_F(FileUserTest, ReadNextRecordLeavesTheHeaderForTheDispatch) {
  pupils();
  JobReader reader(fixture.log, pupilLine("p1", kId1) + "\n@+MEDA\n", "j");
  JobLine line;
  FileUser user;
  EXPECT_EQ(readNextRecord(rt, reader, line, user), SectionEnd::kRecord);
  EXPECT_EQ(user.login, "p1");
  EXPECT_EQ(readNextRecord(rt, reader, line, user), SectionEnd::kHeader);
  EXPECT_EQ(line.text, "@+MEDA");
  EXPECT_EQ(readNextRecord(rt, reader, line, user), SectionEnd::kEndOfFile);
}

TEST_F(FileUserTest, UserContainerFollowsTheAlphabeticSplit) {
  pupils();
  FileUser user = parse(pupilLine("kim", kId1));
  EXPECT_EQ(userContainerOf(rt, user), "OU=Elev,OU=ZEB,DC=skole,DC=test");
  rt.settings.AlphaopdelADElev = true;
  EXPECT_EQ(userContainerOf(rt, user), "OU=K,OU=Elev,OU=ZEB,DC=skole,DC=test");
}

}  // namespace
}  // namespace tv::test

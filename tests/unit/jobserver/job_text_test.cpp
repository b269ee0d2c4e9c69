#include "jobserver/job_text.h"

#include <gtest/gtest.h>

namespace tv::jobserver {
namespace {

TEST(TokenMember, FoundByPlainSearchInTheEndpointsOwnForm) {
  const std::string answer =
      R"({"access_token":"eyJ.abc-_=","expires_in":3600,"token_type":"Bearer","scope":"ad"})";
  EXPECT_EQ(tokenMember(answer, "access_token"), "eyJ.abc-_=");
  EXPECT_EQ(tokenMember(answer, "token_type"), "Bearer");
  auto token = readToken(answer);
  ASSERT_TRUE(token);
  EXPECT_EQ(token->type, "Bearer");
  EXPECT_EQ(token->access, "eyJ.abc-_=");
}

TEST(TokenMember, OnlyTheExactFormCounts) {
  // A blank after the colon is not the form the search looks for.
  EXPECT_EQ(tokenMember(R"({"token_type": "Bearer"})", "token_type"), std::nullopt);
  EXPECT_EQ(tokenMember(R"({"token_type":"Bearer)", "token_type"), std::nullopt);
  EXPECT_EQ(tokenMember(R"({token_type:"Bearer"})", "token_type"), std::nullopt);
  EXPECT_EQ(tokenMember(R"({"token_type":""})", "token_type"), "");
  // The first occurrence wins.
  EXPECT_EQ(tokenMember(R"({"token_type":"A","token_type":"B"})", "token_type"), "A");
  // A member whose name merely ends the same way is not taken for it.
  EXPECT_EQ(tokenMember(R"({"xaccess_token":"no"})", "access_token"), std::nullopt);
}

TEST(TokenMember, ControlCharactersCannotReachTheHeaderBlock) {
  EXPECT_EQ(tokenMember("{\"access_token\":\"abc\r\nX-Evil: 1\"}", "access_token"), std::nullopt);
  EXPECT_EQ(tokenMember("{\"access_token\":\"a\tb\"}", "access_token"), std::nullopt);
}

TEST(ReadToken, EitherMemberMissingGivesNoToken) {
  EXPECT_FALSE(readToken(R"({"access_token":"abc"})"));
  EXPECT_FALSE(readToken(R"({"token_type":"Bearer"})"));
  EXPECT_FALSE(readToken(""));
  EXPECT_FALSE(readToken("<html>502 Bad Gateway</html>"));
}

TEST(ReadJobList, SyncAndPasswordJobsInOrder) {
  auto items = readJobList("17,18pwd");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].id, "17");
  EXPECT_FALSE(items[0].password);
  EXPECT_EQ(items[0].fileName(), "brovalt-17.dat");
  EXPECT_EQ(items[1].id, "18");
  EXPECT_TRUE(items[1].password);
  EXPECT_EQ(items[1].fileName(), "kodevalt-18.dat");
}

TEST(ReadJobList, TextAfterPwdIsCutOffAndBlanksAndEmptyItemsDropped) {
  auto items = readJobList(" 5 ,\r\n7pwdx,,9,\n");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].fileName(), "brovalt-5.dat");
  EXPECT_EQ(items[1].fileName(), "kodevalt-7.dat");
  EXPECT_EQ(items[2].fileName(), "brovalt-9.dat");
  EXPECT_TRUE(readJobList("").empty());
  EXPECT_TRUE(readJobList(",,pwd,").empty());
}

TEST(ReadJobList, AListOfAnyLength) {
  std::string list;
  for (int i = 1000; i < 3000; ++i) list += std::to_string(i) + (i % 2 ? "pwd," : ",");
  auto items = readJobList(list);
  ASSERT_EQ(items.size(), 2000u);
  EXPECT_EQ(items.front().fileName(), "brovalt-1000.dat");
  EXPECT_EQ(items.back().fileName(), "kodevalt-2999.dat");
}

TEST(SafeJobId, RefusesWhatWouldLeaveTheDataFolder) {
  EXPECT_TRUE(safeJobId("17"));
  EXPECT_TRUE(safeJobId("a-b_c.1"));
  EXPECT_FALSE(safeJobId("../17"));
  EXPECT_FALSE(safeJobId("x/y"));
  EXPECT_FALSE(safeJobId("x\\y"));
  EXPECT_FALSE(
      safeJobId(std::string("1\0"
                            "2",
                            3)));
  EXPECT_FALSE(safeJobId("1\n"));
  EXPECT_FALSE(safeJobId(""));
  EXPECT_FALSE(safeJobId(".."));
}

TEST(QueryValue, DigitsUnchangedOthersEscaped) {
  EXPECT_EQ(queryValue("17"), "17");
  EXPECT_EQ(queryValue("a b&c=d"), "a%20b%26c%3Dd");
  EXPECT_EQ(queryValue("æ"), "%C3%A6");
}

TEST(JobFileBytes, DanishLettersBecomeSingleBytesOthersQuestionMarks) {
  EXPECT_EQ(jobFileBytes("Bl\xC3\xA6r \xC3\xB8 \xC3\xA5 \xC3\x85"), "Bl\xE6r \xF8 \xE5 \xC5");
  // U+0142 (l with stroke) has no Windows-1252 byte.
  EXPECT_EQ(jobFileBytes("Micha\xC5\x82"), "Micha?");
  // The euro sign is the one Windows-1252 byte 0x80.
  EXPECT_EQ(jobFileBytes("\xE2\x82\xAC"), "\x80");
  EXPECT_EQ(jobFileBytes("\xF0\x9F\x98\x80|"), "?|");
  EXPECT_EQ(jobFileBytes("MEDA\r\nx;y\n"), "MEDA\r\nx;y\n");
}

TEST(JobFileBytes, BrokenSequencesNeverSwallowTheTextAfterThem) {
  // A lead byte without its continuation, at the end and before plain text.
  EXPECT_EQ(jobFileBytes("ab\xC3"), "ab\xC3");
  EXPECT_EQ(jobFileBytes("\xE6r\xF8"), "\xE6r\xF8");
  EXPECT_EQ(jobFileBytes("\xF0\x9F"), "\xF0\x9F");
}

TEST(UploadJobId, TakenFromTheBaseName) {
  EXPECT_EQ(uploadJobId("brovalt-17"), "17");
  EXPECT_EQ(uploadJobId("kodevalt-18"), "18");
  EXPECT_EQ(uploadJobId("brovalt-kodevalt-3"), "3");
  EXPECT_EQ(uploadJobId("brovalt-"), "");
  EXPECT_EQ(uploadJobId("brovalt17"), std::nullopt);
  EXPECT_EQ(uploadJobId("minjob"), std::nullopt);
}

TEST(UploadBody, LogTextTravelsUnchanged) {
  EXPECT_EQ(uploadBody("17", "a&b=c %41\n\xC3\xA6"), "brovaltId=17&loglinjer=a&b=c %41\n\xC3\xA6");
  EXPECT_EQ(uploadBody("", ""), "brovaltId=&loglinjer=");
}

}  // namespace
}  // namespace tv::jobserver

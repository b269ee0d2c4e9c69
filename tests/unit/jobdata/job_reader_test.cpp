#include "jobdata/job_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jobdata_fixture.h"

namespace tv::test {
namespace {

using namespace std::string_literals;

class JobReaderTest : public JobdataTest {
 protected:
  // Every piece as (text, raw length, cut, continued).
  std::vector<JobLine> pieces(const std::string& bytes) {
    JobReader reader(fixture.log, bytes, "brovalt-1.dat");
    std::vector<JobLine> out;
    JobLine line;
    while (reader.next(line)) out.push_back(line);
    return out;
  }
  std::vector<std::string> wholeTexts(const std::string& bytes) {
    JobReader reader(fixture.log, bytes, "brovalt-1.dat");
    std::vector<std::string> out;
    JobLine line;
    while (reader.nextWhole(line)) out.push_back(line.text);
    return out;
  }
};

TEST_F(JobReaderTest, CrLfAndLfFilesReadAlike) {
  for (const std::string& eol : {"\n"s, "\r\n"s}) {
    auto lines = pieces("@*MEDA" + eol + eol + "  abc ;d\t" + eol + "last");
    ASSERT_EQ(lines.size(), 4u) << eol.size();
    EXPECT_EQ(lines[0].text, "@*MEDA");
    EXPECT_EQ(lines[0].rawLength, 7u);  // CR LF counts as one character
    EXPECT_EQ(lines[1].text, "");
    EXPECT_EQ(lines[1].rawLength, 1u);
    EXPECT_TRUE(lines[1].emptyLine());
    EXPECT_EQ(lines[2].text, "abc ;d");
    EXPECT_FALSE(lines[2].emptyLine());
    EXPECT_EQ(lines[3].text, "last");  // unterminated last line
    EXPECT_EQ(lines[3].rawLength, 4u);
    EXPECT_EQ(lines[3].number, 4);
  }
}

TEST_F(JobReaderTest, TrimsAllCWhiteSpaceButKeepsInnerBlanks) {
  auto lines = pieces("\t \v\f@*PERS \r\n  a b  \n");
  EXPECT_EQ(lines[0].text, "@*PERS");
  EXPECT_EQ(lines[1].text, "a b");
  // A line of blanks is not an empty line: it is longer than one character.
  EXPECT_FALSE(pieces("   \n")[0].emptyLine());
  EXPECT_TRUE(pieces("x")[0].emptyLine());
}

TEST_F(JobReaderTest, ConvertsWindows1252ToUtf8) {
  auto lines = pieces("S\xf8ren;\xc6r\xf8;\xe5\x80\n");
  EXPECT_EQ(lines[0].text, "Søren;Ærø;å€");
}

TEST_F(JobReaderTest, LongLinesArriveIn998CharacterPieces) {
  std::string line(1200, 'a');
  auto lines = pieces(line + "\nnext\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, std::string(998, 'a'));
  EXPECT_TRUE(lines[0].cut);
  EXPECT_FALSE(lines[0].continued);
  EXPECT_EQ(lines[1].text, std::string(202, 'a'));
  EXPECT_EQ(lines[1].rawLength, 203u);
  EXPECT_TRUE(lines[1].continued);
  EXPECT_EQ(lines[1].number, 1);
  EXPECT_EQ(lines[2].text, "next");
  EXPECT_EQ(lines[2].number, 2);
}

TEST_F(JobReaderTest, A997CharacterLineFitsOnePiece) {
  auto lines = pieces(std::string(997, 'b') + "\n\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_FALSE(lines[0].cut);
  EXPECT_TRUE(lines[1].emptyLine());
}

TEST_F(JobReaderTest, TheLineBreakAfter998CharactersIsNoEmptyLine) {
  auto lines = pieces(std::string(998, 'c') + "\r\nd\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].cut);
  EXPECT_EQ(lines[1].rawLength, 1u);
  EXPECT_TRUE(lines[1].continued);
  EXPECT_FALSE(lines[1].emptyLine());
  EXPECT_EQ(lines[2].text, "d");
}

TEST_F(JobReaderTest, WholeLinesJoinPiecesAndSayWhy) {
  std::string longLine = std::string(997, 'x') + " \xe6" + std::string(300, 'y');
  JobReader reader(fixture.log, longLine + "\r\nz\n", "brovalt-7.dat");
  JobLine line;
  ASSERT_TRUE(reader.nextWhole(line));
  EXPECT_EQ(line.text, std::string(997, 'x') + " æ" + std::string(300, 'y'));
  EXPECT_EQ(line.rawLength, 1300u);
  EXPECT_EQ(line.number, 1);
  ASSERT_TRUE(reader.nextWhole(line));
  EXPECT_EQ(line.text, "z");
  EXPECT_EQ(line.number, 2);
  EXPECT_FALSE(reader.nextWhole(line));
  EXPECT_EQ(logText(),
            "** Info: Linje 1 i brovalt-7.dat er længere end 998 tegn; den læses som én linje.\n");
}

TEST_F(JobReaderTest, NulBytesAreDroppedWithALogLine) {
  auto lines = pieces("ab\0c\n\0\n"s);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "abc");
  EXPECT_EQ(lines[0].rawLength, 5u);
  EXPECT_EQ(lines[1].text, "");
  EXPECT_EQ(logText(),
            "** Fejl: Linje 1 i brovalt-1.dat indeholder 1 NUL-tegn; de er fjernet.\n"
            "** Fejl: Linje 2 i brovalt-1.dat indeholder 1 NUL-tegn; de er fjernet.\n");
}

TEST_F(JobReaderTest, Utf8ByteOrderMarkIsDroppedAndTheFileReadAsUtf8) {
  auto lines = pieces("\xEF\xBB\xBF@*SKOLE\nSkole p\xc3\xa5 \xc3\x86r\xc3\xb8\nS\xf8ren\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "@*SKOLE");
  EXPECT_EQ(lines[1].text, "Skole på Ærø");
  EXPECT_EQ(lines[2].text, "Søren");  // a stray Windows-1252 line still reads right
  EXPECT_EQ(logText(),
            "** Info: brovalt-1.dat begynder med et UTF-8-mærke (BOM); filen læses som UTF-8.\n");
}

TEST_F(JobReaderTest, Utf16FilesAreReadAsText) {
  std::string le = "\xFF\xFE"s + "@\0*\0M\0E\0D\0A\0\r\0\n\0\xF8\0l\0"s;
  auto lines = pieces(le);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "@*MEDA");
  EXPECT_EQ(lines[1].text, "øl");
  std::string be = "\xFE\xFF"s + "\0@\0*\0P\0E\0R\0S"s;
  EXPECT_EQ(pieces(be)[0].text, "@*PERS");
}

TEST_F(JobReaderTest, EmptyFileHasNoLines) {
  EXPECT_TRUE(pieces("").empty());
  EXPECT_TRUE(wholeTexts("").empty());
  EXPECT_TRUE(pieces("\xEF\xBB\xBF").empty());
}

TEST_F(JobReaderTest, OpenRefusesMissingFilesAndFolders) {
  std::string folder = fixture.folder.file("brovalt-9.dat");
  std::filesystem::create_directory(folder);
  EXPECT_FALSE(JobReader::open(fixture.log, folder).has_value());
  EXPECT_FALSE(JobReader::open(fixture.log, fixture.folder.file("none.dat")).has_value());
  EXPECT_EQ(logText(), "** Fejl: Jobfilen " + folder +
                           " kan ikke åbnes: det er en mappe\n"
                           "** Fejl: Jobfilen " +
                           fixture.folder.file("none.dat") +
                           " kan ikke åbnes: filen findes ikke\n");
}

TEST_F(JobReaderTest, OpenReadsTheFileFromDisk) {
  fixture.folder.write("brovalt-2.dat", "@*SEKVENS\r\n12345678\r\n");
  auto reader = JobReader::open(fixture.log, fixture.folder.file("brovalt-2.dat"));
  ASSERT_TRUE(reader.has_value());
  JobLine line;
  ASSERT_TRUE(reader->next(line));
  EXPECT_EQ(parseJobHeader(line.text), JobHeader::kSequence);
  ASSERT_TRUE(reader->next(line));
  EXPECT_EQ(sequenceValue(line.text), "1234567");
}

TEST_F(JobReaderTest, SeekComesBackToASectionWithItsLineNumbers) {
  JobReader reader(fixture.log, "\xEF\xBB\xBF@*MEDA\na;b\nc;d\n@*PERS\n", "j");
  JobLine line;
  ASSERT_TRUE(reader.next(line));
  std::int64_t section = reader.position();
  EXPECT_EQ(section, 10);  // the mark's three bytes and "@*MEDA\n"
  while (reader.next(line)) {
  }
  reader.seek(section);
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line.text, "a;b");
  EXPECT_EQ(line.number, 2);
  reader.seek(0);  // never back into the mark
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line.text, "@*MEDA");
  reader.seek(1 << 20);
  EXPECT_FALSE(reader.next(line));
}

TEST(JobHeader, OnlyTheEightHeadersInCapitals) {
  EXPECT_EQ(parseJobHeader("@+MEDA"), JobHeader::kCreateMeda);
  EXPECT_EQ(parseJobHeader("@+PERS"), JobHeader::kCreatePers);
  EXPECT_EQ(parseJobHeader("@-MEDA"), JobHeader::kRemoveMeda);
  EXPECT_EQ(parseJobHeader("@-PERS"), JobHeader::kRemovePers);
  EXPECT_EQ(parseJobHeader("@*MEDA"), JobHeader::kSyncMeda);
  EXPECT_EQ(parseJobHeader("@*PERS"), JobHeader::kSyncPers);
  EXPECT_EQ(parseJobHeader("@*SEKVENS"), JobHeader::kSequence);
  EXPECT_EQ(parseJobHeader("@*SKOLE"), JobHeader::kSchool);
  EXPECT_EQ(parseJobHeader("@*meda"), JobHeader::kUnknown);
  EXPECT_EQ(parseJobHeader("@*MEDAX"), JobHeader::kUnknown);
  EXPECT_EQ(parseJobHeader("@+SKOLE"), JobHeader::kUnknown);
  EXPECT_EQ(parseJobHeader("@?"), JobHeader::kUnknown);
  EXPECT_EQ(parseJobHeader("@"), JobHeader::kNone);
  EXPECT_EQ(parseJobHeader("MEDA"), JobHeader::kNone);
}

TEST(JobHeader, SequenceAndSchoolAreCut) {
  EXPECT_EQ(sequenceValue(" 0042 "), "0042");
  EXPECT_EQ(sequenceValue("ÆØÅæøåxyz"), "ÆØÅæøåx");
  EXPECT_EQ(schoolName(std::string(120, 'S')), std::string(99, 'S'));
  EXPECT_EQ(trimLine("\v\f x \r\n"), "x");
}

}  // namespace
}  // namespace tv::test

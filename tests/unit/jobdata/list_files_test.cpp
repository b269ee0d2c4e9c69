#include "jobdata/list_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "jobdata_fixture.h"

namespace tv::test {
namespace {

class ListFilesTest : public JobdataTest {};

TEST(ListFileName, ListNameDashSequence) {
  EXPECT_EQ(listFileName("MedaMailListe", "0001234"), "MedaMailListe-0001234.txt");
  EXPECT_EQ(listFileName("ElevMailListe", ""), "ElevMailListe-.txt");
  EXPECT_EQ(listFileName("RunScriptAlwaysMedaListe", "12345678901234567890123456"),
            "RunScriptAlwaysMedaListe-123456789012345678901234");  // 49 characters
}

TEST(ListFileName, ASequenceCannotLeaveTheDataFolder) {
  EXPECT_EQ(listFileName("ElevMailListe", "../../x"), "ElevMailListe-.._.._x.txt");
  EXPECT_EQ(listFileName("L", "a\\b:c*?\"<>|\t"), "L-a_b_c_______.txt");
  EXPECT_EQ(listFileName("..", "x"), "__-x.txt");
}

TEST_F(ListFilesTest, LinesAreAppendedInWindows1252) {
  rt.job.sequence = "0042";
  EXPECT_EQ(appendListLine(rt, "ElevMailListe", "søren"), 0);
  EXPECT_EQ(appendListLine(rt, "ElevMailListe", "Åse"), 0);
  EXPECT_EQ(fixture.folder.read("ElevMailListe-0042.txt"), "s\xf8ren\n\xc5se\n");
  EXPECT_EQ(logText(), "");
}

TEST_F(ListFilesTest, AppendToListFileWritesTheTextAsGiven) {
  EXPECT_EQ(appendToListFile(rt, "x-1.txt", "a;b\n"), 0);
  EXPECT_EQ(appendToListFile(rt, "x-1.txt", "c"), 0);
  EXPECT_EQ(fixture.folder.read("x-1.txt"), "a;b\nc");
}

TEST_F(ListFilesTest, AnUnopenableListFileFallsBackToTheSideFile) {
  rt.job.sequence = "7";
  std::filesystem::create_directory(fixture.folder.file("MedaMailListe-7.txt"));
  EXPECT_EQ(appendListLine(rt, "MedaMailListe", "anne"), 0);
  EXPECT_EQ(fixture.folder.read("$$file$$.txt"), "anne\n");
  EXPECT_EQ(
      logText(),
      "** Fejl: Listefilen MedaMailListe-7.txt kan ikke åbnes (Is a directory); linjen er skrevet "
      "i $$file$$.txt\n");
}

TEST_F(ListFilesTest, WhenBothFilesFailTheResultIs99) {
  rt.job.sequence = "7";
  std::filesystem::create_directory(fixture.folder.file("MedaMailListe-7.txt"));
  std::filesystem::create_directory(fixture.folder.file("$$file$$.txt"));
  EXPECT_EQ(appendListLine(rt, "MedaMailListe", "anne"), 99);
  EXPECT_EQ(logText(),
            "** Fejl: Hverken listefilen MedaMailListe-7.txt eller $$file$$.txt kan åbnes (Is a "
            "directory); linjen er tabt: anne\n");
}

TEST_F(ListFilesTest, ConcurrentAppendsKeepWholeLines) {
  rt.job.sequence = "1";
  const std::string a(300, 'a');
  const std::string b(300, 'b');
  auto writer = [this](const std::string& text) {
    for (int i = 0; i < 200; ++i) ASSERT_EQ(appendListLine(rt, "L", text), 0);
  };
  std::thread t1(writer, a);
  std::thread t2(writer, b);
  t1.join();
  t2.join();
  std::string content = fixture.folder.read("L-1.txt");
  int as = 0;
  int bs = 0;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    std::string line = content.substr(start, end - start);
    if (line == a)
      ++as;
    else if (line == b)
      ++bs;
    else
      FAIL() << "broken line of " << line.size();
    start = end + 1;
  }
  EXPECT_EQ(as, 200);
  EXPECT_EQ(bs, 200);
}

}  // namespace
}  // namespace tv::test

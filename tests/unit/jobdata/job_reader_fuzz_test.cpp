// The job reader's fuzz target run over a few hostile files in the normal test run.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/job_reader_fuzz.cpp"
#include "jobdata_fixture.h"

namespace tv::test {
namespace {

using namespace std::string_literals;

TEST(JobReaderFuzzTarget, SurvivesHostileJobs) {
  const std::string good = pupilLine("kim", kId1);
  const std::string inputs[] = {
      ""s,
      "@"s,
      "@*PERS"s,
      "@*PERS\n"s + good,
      "@*PERS\r\n"s + good + "\r\n" + std::string(5000, ';') + "\r\n",
      "\xEF\xBB\xBF@*MEDA\n"s + staffLine("ABC", kId2) + "\n\n@*PERS\n" + good,
      "\xFF\xFE@\0*\0P\0E\0R\0S\0\n\0"s,
      "@+MEDA\n"s + std::string(997, 'x') + "\n" + std::string(998, ';') + "\n\n",
      "@*PERS\n"s + "a;b\0c;d\n"s + good + "\n@*SKOLE\n" + std::string(3000, 'S'),
      "@-PERS\nundtaget;"s + kId1 + std::string(30, ';') + "\n",
      "@*PERS\nx;short;;;;;;;;;;;;;;;;;;\n"s,  // a wrong identification stops the walk
      "@*meda\n"s + good + "\n",
      std::string(3000, '\n'),
      std::string(2500, '\r'),
  };
  for (const auto& in : inputs) fuzz::checkJobBytes(in);
  EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>("@*PERS\n"), 7), 0);
}

}  // namespace
}  // namespace tv::test

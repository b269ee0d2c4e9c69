#include "jobdata/exception_list.h"

#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "jobdata_fixture.h"

namespace tv::test {
namespace {

TEST(ExceptionList, SplitsAtColonsInOrder) {
  EXPECT_TRUE(buildExceptionList("").empty());
  EXPECT_EQ(buildExceptionList("anne"), (ExceptionList{"anne"}));
  EXPECT_EQ(buildExceptionList("anne:Bo:søren"), (ExceptionList{"anne", "Bo", "søren"}));
  EXPECT_EQ(buildExceptionList("a::b:"), (ExceptionList{"a", "", "b", ""}));
}

TEST(ExceptionList, NamesAreCutTo49CharactersAndNoneIsDropped) {
  std::string longName;
  for (int i = 0; i < 60; ++i) longName += "ø";
  ExceptionList list = buildExceptionList(longName + ":x");
  ASSERT_EQ(list.size(), 2u);
  std::string expected;
  for (int i = 0; i < 49; ++i) expected += "ø";
  EXPECT_EQ(list[0], expected);
  std::string many;
  for (int i = 0; i < 150; ++i) many += "u" + std::to_string(i) + ":";
  many += "last";
  list = buildExceptionList(many);
  EXPECT_EQ(list.size(), 151u);
  EXPECT_EQ(list.back(), "last");
}

TEST(ExceptionList, ThePopulationsOwnValue) {
  Settings settings;
  settings.MedaUndtaget = "adm:it";
  settings.PersUndtaget = "test01";
  EXPECT_EQ(exceptionListFor(settings, true), (ExceptionList{"adm", "it"}));
  EXPECT_EQ(exceptionListFor(settings, false), (ExceptionList{"test01"}));
}

TEST_F(JobdataTest, IsExceptedIsExactAndLogsOnlyAboveLevelZero) {
  ExceptionList list = buildExceptionList("adm:Kim");
  EXPECT_TRUE(isExcepted(fixture.log, 0, "adm", list));
  EXPECT_FALSE(isExcepted(fixture.log, 1, "ADM", list));
  EXPECT_FALSE(isExcepted(fixture.log, 1, "kim", list));
  EXPECT_FALSE(isExcepted(fixture.log, 1, "ad", list));
  EXPECT_FALSE(isExcepted(fixture.log, 1, "adm ", list));
  EXPECT_FALSE(isExcepted(fixture.log, 1, "adm", ExceptionList{}));
  EXPECT_TRUE(isExcepted(fixture.log, 2, "Kim", list));
  EXPECT_EQ(logText(), "NavnUndtaget-> Kim - Undtaget\n");
}

}  // namespace
}  // namespace tv::test

// The example data folder's job read through the job reader: what a school
// trying the service first sees must parse cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "jobdata/file_user.h"
#include "jobdata/job_reader.h"
#include "jobdata_fixture.h"

namespace tv::test {
namespace {

std::string exampleJob() {
  return (std::filesystem::path(__FILE__).parent_path() /
          "../../../examples/datafolder/brovalt-1001.dat")
      .lexically_normal()
      .string();
}

TEST_F(JobdataTest, ExampleJobReadsCompletely) {
  auto reader = JobReader::open(fixture.log, exampleJob());
  ASSERT_TRUE(reader.has_value());
  JobLine line;
  std::string sequence;
  std::string school;
  std::vector<FileUser> staffUsers;
  std::vector<FileUser> pupilUsers;
  bool more = reader->nextWhole(line);
  while (more) {
    JobHeader header = parseJobHeader(line.text);
    if (header == JobHeader::kSequence) {
      ASSERT_TRUE(reader->nextWhole(line));
      sequence = sequenceValue(line.text);
      more = reader->nextWhole(line);
    } else if (header == JobHeader::kSchool) {
      ASSERT_TRUE(reader->nextWhole(line));
      school = schoolName(line.text);
      more = reader->nextWhole(line);
    } else if (header == JobHeader::kSyncMeda || header == JobHeader::kSyncPers) {
      rt.trim.staff = header == JobHeader::kSyncMeda;
      SectionEnd end =
          buildFileUserList(rt, *reader, line, rt.trim.staff ? staffUsers : pupilUsers, {});
      ASSERT_NE(end, SectionEnd::kFatal);
      more =
          end == SectionEnd::kHeader || (end != SectionEnd::kEndOfFile && reader->nextWhole(line));
    } else {
      more = reader->nextWhole(line);
    }
  }
  EXPECT_EQ(sequence, "1001");
  EXPECT_EQ(school, "Brovalt Skole på Ærø");
  ASSERT_EQ(staffUsers.size(), 40u);
  ASSERT_EQ(pupilUsers.size(), 600u);
  EXPECT_TRUE(exits.empty());
  EXPECT_EQ(logText(), "");

  // Passwords checked against Python's cryptography package (ARC4 + Base64).
  EXPECT_EQ(staffUsers[0].login, "jobo");
  EXPECT_EQ(staffUsers[0].password, "Brovalt4244æ");
  EXPECT_EQ(staffUsers[0].firstName, "Jørgen");
  EXPECT_EQ(staffUsers[3].password, "Kode4003");
  EXPECT_EQ(pupilUsers[0].password, "Kode0000");
  EXPECT_EQ(pupilUsers[1].login, "madlar");
  EXPECT_EQ(pupilUsers[1].password, "Mads68!");
  EXPECT_EQ(pupilUsers[2].lastName, "Østergaard");

  std::set<std::string> logins;
  std::set<std::string> ids;
  for (const auto* list : {&staffUsers, &pupilUsers}) {
    for (const FileUser& u : *list) {
      logins.insert(u.login);
      ids.insert(u.identification);
      EXPECT_FALSE(u.password.empty()) << u.login;
      EXPECT_FALSE(u.birthdayText.empty()) << u.login;
    }
  }
  EXPECT_EQ(logins.size(), 640u);
  EXPECT_EQ(ids.size(), 640u);
}

}  // namespace
}  // namespace tv::test

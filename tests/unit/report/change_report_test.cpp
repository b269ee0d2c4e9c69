#include "runtime/change_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/fakes.h"

namespace tv::test {
namespace {

TEST(ChangeReport, FieldsAreQuotedOnlyWhereASpreadsheetWouldMisreadThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"Ærøskøbing Skole", "Ærøskøbing Skole"},
      {"a;b", "\"a;b\""},
      {"Hans \"Hasse\" Hansen", "\"Hans \"\"Hasse\"\" Hansen\""},
      {"to\nlinjer", "\"to\nlinjer\""},
      {"vej 1\r", "\"vej 1\r\""},
      {" indrykket", "\" indrykket\""},
      {"CN=x,OU=Elev", "CN=x,OU=Elev"},  // "=" inside is no formula
      // What a spreadsheet would run as a formula is shown as text.
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+45 12345678", "'+45 12345678"},
      {"-1", "'-1"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx"},
  };
  for (const auto& [value, field] : cases) EXPECT_EQ(csvField(value), field) << value;
}

TEST(ChangeReport, RowAndResultTexts) {
  EXPECT_EQ(changeRow({"Elev", "anna", ChangeAction::kUpdate, "FirstName", "Anna", "Annabel"},
                      ChangeResult::done()),
            "Elev;anna;opdater;FirstName;Anna;Annabel;udført\r\n");
  EXPECT_EQ(
      changeRow({"Medarbejder", "bo", ChangeAction::kGroupAdd, "", "", "7a"}, ChangeResult::test()),
      "Medarbejder;bo;gruppe ind;;;7a;test\r\n");
  const std::pair<Hresult, std::string> results[] = {
      {kSOk, "udført"},
      {kSFalse, "udført"},
      {kAlreadyExists, "afvist: 0x80071392 The object already exists."},
      {kEAdsPropertyNotFound,
       "afvist: 0x8000500D The directory property cannot be found in the cache."},
      {kEFail, "afvist: 0x80004005"},
  };
  for (const auto& [hr, text] : results) EXPECT_EQ(ChangeResult::of(hr).text(), text) << hr;
  EXPECT_EQ(ChangeResult::refused("login for langt").text(), "afvist: login for langt");
  EXPECT_STREQ(changeActionText(ChangeAction::kPasswordReset), "nulstil password");
  EXPECT_EQ(changeReportName("brovalt-17"), "brovalt-17.rapport.csv");
}

TEST(ChangeReport, EachThreadWritesTheReportOfItsOwnJob) {
  LogFixture logs;
  ChangeReport report(logs.log);
  const Change outside{"Elev", "nobody", ChangeAction::kCreate, "", "", ""};
  report.record(outside, ChangeResult::done());  // no job: goes nowhere

  report.begin(logs.folder.file("brovalt-1.rapport.csv"));
  std::thread passwords([&] {
    ChangeReportScope job(report, logs.folder.file("kodevalt-1.rapport.csv"), nullptr);
    for (int i = 0; i < 200; ++i) {
      report.record({"", "p" + std::to_string(i), ChangeAction::kPasswordReset, "Windows", "", ""},
                    ChangeResult::done());
    }
  });
  std::string expected(kChangeReportHeader);
  for (int i = 0; i < 200; ++i) {
    const std::string login = "s" + std::to_string(i);
    const Change c{"Elev", login, ChangeAction::kDeactivate, "", "", ""};
    report.record(c, ChangeResult::test());
    expected += changeRow(c, ChangeResult::test());
  }
  passwords.join();
  report.end();
  report.record(outside, ChangeResult::done());

  EXPECT_EQ(logs.folder.read("brovalt-1.rapport.csv"), expected);
  const std::string other = logs.folder.read("kodevalt-1.rapport.csv");
  EXPECT_EQ(other.rfind(kChangeReportHeader, 0), 0u);
  EXPECT_EQ(std::count(other.begin(), other.end(), '\n'), 201);
  EXPECT_EQ(other.find("s1;"), std::string::npos);
  EXPECT_TRUE(logs.events.events.empty());
}

// Work whose outcome decides whether it is told at all holds its lines and
// rows back; a release writes them in their order, a drop forgets them, and
// the other threads' lines are never held.
TEST(ChangeReport, HeldLinesAndRowsAreWrittenOnReleaseOnly) {
  LogFixture logs;
  ChangeReport report(logs.log);
  report.begin(logs.folder.file("job.csv"));
  const auto row = [&](const std::string& login) {
    const Change c{"Elev", login, ChangeAction::kCreate, "", "", ""};
    report.record(c, ChangeResult::done());
    return changeRow(c, ChangeResult::done());
  };
  std::string expectedRows(kChangeReportHeader);
  for (const bool keep : {false, true}) {
    const std::string login = keep ? "kept" : "dropped";
    logs.log.hold();
    report.hold();
    logs.log.message(1, "%s 1\n", login.c_str());
    const std::string r = row(login);
    std::thread([&] { logs.log.message(1, "other thread\n"); }).join();
    logs.log.message(1, "%s 2\n", login.c_str());
    EXPECT_EQ(logs.text().find(login), std::string::npos) << "held";
    if (keep) {
      logs.log.releaseHeld();
      report.releaseHeld();
      expectedRows += r;
    } else {
      logs.log.dropHeld();
      report.dropHeld();
    }
  }
  logs.log.message(1, "after\n");
  expectedRows += row("after");
  report.end();
  EXPECT_EQ(logs.text(), "other thread\nother thread\nkept 1\nkept 2\nafter\n");
  EXPECT_EQ(logs.folder.read("job.csv"), expectedRows);
}

TEST(ChangeReport, AReportThatCannotBeWrittenIsToldAndTheJobGoesOn) {
  LogFixture logs;
  ChangeReport report(logs.log);
  const std::string path = logs.folder.file("mangler/brovalt-1.rapport.csv");
  {
    ChangeReportScope job(report, path, nullptr);
    report.record({"Elev", "anna", ChangeAction::kCreate, "", "", ""}, ChangeResult::done());
  }
  const std::string line = "** Fejl: Ændringsrapporten \"" + path + "\" kan ikke skrives: ";
  EXPECT_EQ(logs.text().rfind(line, 0), 0u) << logs.text();
  ASSERT_EQ(logs.events.events.size(), 1u);
  EXPECT_EQ(logs.events.events[0].type, EventType::Error);
}

}  // namespace
}  // namespace tv::test

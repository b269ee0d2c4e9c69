#include "scripts/script_hook.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "jobdata/list_files.h"
#include "runtime/runtime.h"
#include "scripts/list_scripts.h"
#include "support/fakes.h"

namespace tv::test {
namespace {

using Argv = std::vector<std::string>;

TEST(ScriptHookLine, QuotesAreBalancedDoubleFirstThenSingle) {
  EXPECT_EQ(balanceQuotes("\"C:/scripts/ny bruger.cmd anna"), "\"C:/scripts/ny bruger.cmd anna\"");
  EXPECT_EQ(balanceQuotes("run o'brien"), "run o'brien'");
  EXPECT_EQ(balanceQuotes("run \"a\" 'b'"), "run \"a\" 'b'");
  EXPECT_EQ(balanceQuotes("\"'"), "\"'\"'");
}

TEST(ScriptHookLine, OnlyDoubleQuotesGroupWordsAndNothingElseIsSpecial) {
  const std::pair<std::string, Argv> cases[] = {
      {"  /opt/s/ny.sh   anna  ", {"/opt/s/ny.sh", "anna"}},
      {"\"/opt/my scripts/ny.sh\" \"Anna Hansen\" x\"y z\"w",
       {"/opt/my scripts/ny.sh", "Anna Hansen", "xy zw"}},
      {"s.sh \"\"", {"s.sh", ""}},
      {"s.sh \"it's\"", {"s.sh", "it's"}},
      // A single quote is a letter like any other, as on Windows.
      {"s.sh 'Anna Hansen'", {"s.sh", "'Anna", "Hansen'"}},
      {"s.sh O'Brien \"Anne O'Hara\"", {"s.sh", "O'Brien", "Anne O'Hara"}},
      {"\"C:/x/ny bruger.cmd\" anna'", {"C:/x/ny bruger.cmd", "anna'"}},
      // What a shell would act on stays text.
      {"s.sh x;touch /tmp/owned", {"s.sh", "x;touch", "/tmp/owned"}},
      {"s.sh $(id) `id` a|b >f \\n", {"s.sh", "$(id)", "`id`", "a|b", ">f", "\\n"}},
      {"s.sh \"unterminated quote", {"s.sh", "unterminated quote"}},
      {"   ", {}},
  };
  for (const auto& [line, argv] : cases) EXPECT_EQ(splitCommandLine(line), argv) << line;
}

struct ScriptHook : ::testing::Test, LogFixture {
  RecordingProcessRunner processes;
  Runtime rt{log, ports(), folder.path()};
  Ports ports() {
    Ports p;
    p.processes = &processes;
    p.clock = &clock;
    return p;
  }
};

TEST_F(ScriptHook, TestModeOnlyLogs) {
  rt.settings.IDrift = false;
  rt.settings.LogLevel = 1;
  runScript(rt, "/opt/s/ny.sh", "anna", "RunScript:");
  EXPECT_TRUE(processes.calls.empty());
  EXPECT_EQ(text(), "IDrift = 0: Test af Script : /opt/s/ny.sh\n");
}

TEST_F(ScriptHook, LiveModeRunsTheScriptWithTheLoginAsOneArgument) {
  rt.settings.IDrift = true;
  rt.settings.LogLevel = 1;
  runScript(rt, "/opt/s/ny.sh", "x;touch /tmp/owned", "RunScript:");
  runScript(rt, "/opt/s/ny.sh", "\"$(id)\"", "RunScript:");
  ASSERT_EQ(processes.calls.size(), 2u);
  // A blank in the login separates, as it always did; nothing runs it in a shell.
  EXPECT_EQ(processes.calls[0].argv, (Argv{"/opt/s/ny.sh", "x;touch", "/tmp/owned"}));
  EXPECT_EQ(processes.calls[1].argv, (Argv{"/opt/s/ny.sh", "$(id)"}));
  EXPECT_EQ(processes.calls[0].cwd, folder.path());
  EXPECT_EQ(text(),
            " Kører Script: /opt/s/ny.sh \n"
            "   RunScript: /opt/s/ny.sh x;touch /tmp/owned\n"
            "      ** Info: WaitForSingleObject() returnerede 0\n"
            " Kører Script: /opt/s/ny.sh \n"
            "   RunScript: /opt/s/ny.sh \"$(id)\"\n"
            "      ** Info: WaitForSingleObject() returnerede 0\n");
}

TEST_F(ScriptHook, ExitCodesZeroThreeAnd259) {
  rt.settings.LogLevel = 0;
  processes.result = {true, 0, 0, 0};
  EXPECT_EQ(runCommand(rt, "/s.sh a", "L:"), 0u);
  processes.result = {true, 0, 0, 259};
  EXPECT_EQ(runCommand(rt, "/s.sh a", "L:"), 259u);
  processes.result = {true, 0, 0, 3};
  EXPECT_EQ(runCommand(rt, "/s.sh a", "L:"), 3u);
  EXPECT_EQ(text(), "** Fejl: RunScript - returkode fra program: 3\n");
}

TEST_F(ScriptHook, WaitResultsAreNamed) {
  rt.settings.LogLevel = 1;
  for (std::uint32_t wait : {0x80u, 0x102u, 0xFFFFFFFFu}) {
    processes.result = {true, 0, wait, 0};
    (void)runCommand(rt, "/s.sh", "L:");
  }
  EXPECT_EQ(text(),
            "   L: /s.sh\n** Fejl: WaitForSingleObject() returnerede WAIT_ABANDONED\n"
            "   L: /s.sh\n** Fejl: WaitForSingleObject() returnerede WAIT_TIMEOUT\n"
            "   L: /s.sh\n** Fejl: WaitForSingleObject() returnerede WAIT_FAILED\n");
}

TEST_F(ScriptHook, AScriptThatCannotStartGoesToTheEventLogOnly) {
  rt.settings.IDrift = true;
  processes.result = {false, ENOENT, 0, 0};
  runScript(rt, "/missing.sh", "anna", "RunScript:");
  EXPECT_EQ(text(), " Kører Script: /missing.sh \n");
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].type, EventType::Information);
  EXPECT_EQ(events.events[0].text, "RunScript:  (" + errnoText(ENOENT) + ")");
}

TEST_F(ScriptHook, CommandLinesAreCutAt287CharactersThenBalanced) {
  rt.settings.IDrift = true;
  runScript(rt, "\"/opt/s/x.sh", std::string(400, 'a'), "RunScript:");
  ASSERT_EQ(processes.calls.size(), 1u);
  // 287 characters of script, blank and argument, and the closing quote.
  EXPECT_EQ(processes.calls[0].argv, (Argv{"/opt/s/x.sh " + std::string(287 - 13, 'a')}));
}

TEST_F(ScriptHook, TwoArgumentFormRunsInAnyMode) {
  rt.settings.IDrift = false;
  processes.result = {true, 0, 0, 5};
  EXPECT_EQ(runScript(rt, "/opt/pre.sh", "old", "new", "RunScriptPreRename:"), 5u);
  ASSERT_EQ(processes.calls.size(), 1u);
  EXPECT_EQ(processes.calls[0].argv, (Argv{"/opt/pre.sh", "old", "new"}));
}

TEST_F(ScriptHook, ListScriptsRunInTheirOrderWithTheirLabelsAndFlagsAreCleared) {
  rt.settings.IDrift = true;
  rt.settings.LogLevel = 1;
  rt.settings.OpretMailMedaListScript = "/s/mm.sh";
  rt.settings.OpretMailElevListScript = "/s/me.sh";
  rt.settings.RunScriptAlwaysElevList = "/s/ae.sh";
  rt.settings.RunScriptAlwaysMedaList = "";  // not configured: skipped
  rt.job.sequence = "1234567";
  rt.job.medaMailListChanged = rt.job.elevMailListChanged = true;
  rt.job.elevListChanged = rt.job.medaListChanged = true;
  runListScripts(rt);
  ASSERT_EQ(processes.calls.size(), 3u);
  EXPECT_EQ(processes.calls[0].argv, (Argv{"/s/mm.sh", "MedaMailListe-1234567.txt"}));
  EXPECT_EQ(processes.calls[1].argv, (Argv{"/s/me.sh", "ElevMailListe-1234567.txt"}));
  EXPECT_EQ(processes.calls[2].argv, (Argv{"/s/ae.sh", "RunScriptAlwaysElevListe-1234567.txt"}));
  EXPECT_NE(text().find("   OpretMailMedaListScript: /s/mm.sh MedaMailListe-1234567.txt\n"),
            std::string::npos);
  EXPECT_NE(
      text().find("   OpretMailElevListScript: /s/ae.sh RunScriptAlwaysElevListe-1234567.txt\n"),
      std::string::npos);
  EXPECT_FALSE(rt.job.medaMailListChanged || rt.job.elevMailListChanged || rt.job.medaListChanged ||
               rt.job.elevListChanged);
  runListScripts(rt);
  EXPECT_EQ(processes.calls.size(), 3u);
}

TEST_F(ScriptHook, AListScriptGetsTheVeryFileTheJobWroteItsLinesTo) {
  rt.settings.IDrift = true;
  rt.settings.OpretMailMedaListScript = "/s/mm.sh";
  // Sequence values a register may send; a path character never reaches the name.
  for (const char* sequence : {"12:34", "7", "../etc", "a/b\\c", "x*?"}) {
    processes.calls.clear();
    rt.job.sequence = sequence;
    ASSERT_EQ(appendListLine(rt, "MedaMailListe", "anna"), 0);
    rt.job.medaMailListChanged = true;
    runListScripts(rt);
    ASSERT_EQ(processes.calls.size(), 1u) << sequence;
    const std::string& file = processes.calls[0].argv.at(1);
    EXPECT_EQ(folder.read(file), "anna\n") << sequence << " gave " << file;
    std::filesystem::remove(folder.file(file));
  }
}

}  // namespace
}  // namespace tv::test

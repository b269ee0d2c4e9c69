#include "platform/windows/windows_process_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <thread>

#include "platform/windows/command_line.h"
#include "platform/windows/wide.h"
#include "windows/windows_test_support.h"

namespace tv::win {
namespace {

using wintest::lines;
using wintest::readFile;
using wintest::TempDir;

const std::string kProbe = wintest::windowsPath(TAVLEVAGT_ARGS_PROBE);

// The report lines that begin with prefix, without it.
std::vector<std::string> field(const std::string& report, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : lines(report)) {
    if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
  }
  return out;
}

TEST(WindowsProcessRunner, EveryArgumentArrivesAsItWasGiven) {
  TempDir dir;
  const std::vector<std::string> args = {"plain",
                                         "two words",
                                         "",
                                         "\"quoted\"",
                                         "say \"hi\" now",
                                         "trailing\\",
                                         "C:\\dir with blank\\",
                                         "back\\\\\"quote",
                                         "a\\b\\c",
                                         "\\\\server\\share",
                                         "tab\there",
                                         "'single quoted'",
                                         "x;touch f",
                                         "$(id) & echo",
                                         "\xC3\xA6\xC3\xB8\xC3\xA5 \xC3\x86r\xC3\xB8"};
  std::vector<std::string> argv = {kProbe, dir.file("report"), "0"};
  argv.insert(argv.end(), args.begin(), args.end());
  WindowsProcessRunner runner;
  const ProcessResult r = runner.run(argv, dir.path());
  ASSERT_TRUE(r.started) << r.startError;
  const std::string report = readFile(dir.file("report"));
  EXPECT_EQ(field(report, "arg="), args) << report;
  EXPECT_EQ(field(report, "split="), args) << report;
}

TEST(WindowsProcessRunner, ExitCodesAndTheWaitResultAreThePlatformsOwn) {
  TempDir dir;
  WindowsProcessRunner runner;
  for (std::uint32_t code : {0u, 1u, 25u, 259u, 3221225477u}) {
    const ProcessResult r = runner.run({kProbe, dir.file("report"), std::to_string(code)}, "");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.waitResult, kWaitObject0);
    EXPECT_EQ(r.exitCode, code);
  }
}

TEST(WindowsProcessRunner, TheChildRunsHiddenInTheGivenFolderWithoutOurHandles) {
  TempDir dir;
  // A pipe whose write end could be inherited: the child may write to it only
  // if it got our handles.
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
  const std::string handle =
      "--write-handle=" + std::to_string(reinterpret_cast<INT_PTR>(writeEnd));
  WindowsProcessRunner runner;
  const ProcessResult r = runner.run({kProbe, dir.file("report"), "0", handle}, dir.path());
  ASSERT_TRUE(r.started);
  const std::string report = readFile(dir.file("report"));
  EXPECT_EQ(field(report, "show="), std::vector<std::string>{std::to_string(SW_HIDE)});
  EXPECT_EQ(field(report, "cwd="), std::vector<std::string>{dir.path()});
  EXPECT_EQ(field(report, "handle="), std::vector<std::string>{"none"});
  DWORD waiting = 0;
  ASSERT_TRUE(PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr));
  EXPECT_EQ(waiting, 0u);

  // The same child started with inheritance does write: the check above can fail.
  std::wstring line = toWide(*commandLine({kProbe, dir.file("inherit"), "0", handle}));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 60000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(field(readFile(dir.file("inherit")), "handle="), std::vector<std::string>{"wrote"});
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
}

TEST(WindowsProcessRunner, ARelativeProgramIsFoundBelowTheWorkingFolder) {
  TempDir dir;
  ASSERT_TRUE(CreateDirectoryW(toWide(dir.file("script")).c_str(), nullptr));
  ASSERT_TRUE(
      CopyFileW(toWide(kProbe).c_str(), toWide(dir.file("script\\Lodsvaerk.exe")).c_str(), FALSE));
  WindowsProcessRunner runner;
  const ProcessResult r = runner.run(
      {"script/Lodsvaerk.exe", dir.file("report"), "3", "elev1", "hemmeligt"}, dir.path());
  ASSERT_TRUE(r.started) << r.startError;
  EXPECT_EQ(r.exitCode, 3u);
  EXPECT_EQ(field(readFile(dir.file("report")), "arg="),
            (std::vector<std::string>{"elev1", "hemmeligt"}));
}

TEST(WindowsProcessRunner, AProgramThatCannotStartGivesTheSystemsError) {
  TempDir dir;
  WindowsProcessRunner runner;
  ProcessResult r = runner.run({dir.file("missing.exe"), "x"}, "");
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.startError, ERROR_FILE_NOT_FOUND);
  r = runner.run({"say\"what.exe"}, "");
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.startError, ERROR_INVALID_NAME);
  EXPECT_EQ(runner.run({}, "").startError, ERROR_FILE_NOT_FOUND);
}

TEST(WindowsProcessRunner, ABatchFileGetsItsArgumentsWithoutRunningThem) {
  TempDir dir;
  wintest::writeFile(dir.file("hook.cmd"),
                     "@echo off\r\n>>\"%~dp0seen.txt\" echo %1\r\n>>\"%~dp0seen.txt\" echo %2\r\n"
                     "exit /b 7\r\n");
  WindowsProcessRunner runner;
  const ProcessResult r =
      runner.run({"hook.cmd", "a&echo INJECTED>pwned.txt", "two words"}, dir.path());
  ASSERT_TRUE(r.started) << r.startError;
  EXPECT_EQ(r.exitCode, 7u);
  EXPECT_FALSE(wintest::exists(dir.file("pwned.txt")));
  EXPECT_EQ(lines(readFile(dir.file("seen.txt"))),
            (std::vector<std::string>{"\"a&echo INJECTED>pwned.txt\"", "\"two words\""}));

  // What cmd.exe would still read inside quotes is refused before anything runs.
  for (const char* bad : {"100%", "say \"x\"", "line\r\nbreak"}) {
    const ProcessResult refused = runner.run({"hook.cmd", bad}, dir.path());
    EXPECT_FALSE(refused.started) << bad;
    EXPECT_EQ(refused.startError, ERROR_INVALID_PARAMETER) << bad;
  }
  EXPECT_EQ(lines(readFile(dir.file("seen.txt"))).size(), 2u);
}

TEST(WindowsProcessRunner, TheOutputIsTheFirst64KiBAndTheProgramIsNeverBlocked) {
  TempDir dir;
  WindowsProcessRunner runner;
  struct Case {
    std::string option;
    std::string output;
  };
  const Case cases[] = {
      {"--print=UNI-login \xC3\xA6\xC3\xB8\xC3\xA5\r\n", "UNI-login \xC3\xA6\xC3\xB8\xC3\xA5\r\n"},
      {"--print-bytes=0", ""},
      {"--print-bytes=65536", std::string(65536, 'x')},
      // Far more than a pipe holds: the rest is read and dropped.
      {"--print-bytes=300000", std::string(65536, 'x')},
  };
  for (const Case& c : cases) {
    std::string output = "left over";
    const ProcessResult r =
        runner.runForOutput({kProbe, dir.file("report"), "4", c.option}, output);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.exitCode, 4u) << c.option;
    EXPECT_EQ(r.waitResult, kWaitObject0);
    EXPECT_FALSE(r.endedAfterStop);
    EXPECT_EQ(output, c.output) << c.option;
  }
  std::string output = "left over";
  const ProcessResult missing = runner.runForOutput({dir.file("missing.exe")}, output);
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.startError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(output, "");
}

TEST(WindowsProcessRunner, AStopEndsTheWholeTreeAfterTheGraceAndOnlyThen) {
  TempDir dir;
  WindowsProcessRunner runner;
  // A program that starts a sleeper of its own and then sleeps too, with its
  // output read: the read can only end when the whole tree is gone.
  ProcessResult hung;
  std::string output;
  std::thread first([&] {
    hung = runner.runForOutput({kProbe, dir.file("report"), "0",
                                "--spawn-sleeper=" + dir.file("sleeper"), "--sleep=60000"},
                               output);
  });
  std::string child;
  ASSERT_TRUE(wintest::waitFor(
      [&] {
        const std::vector<std::string> c = field(readFile(dir.file("report")), "child=");
        if (!c.empty()) child = c[0];
        return !child.empty();
      },
      60));

  // While it runs, another program with output starts and ends on its own:
  // it did not get the first one's pipe, nor the first one its.
  std::string quick;
  const ProcessResult other =
      runner.runForOutput({kProbe, dir.file("other"), "0", "--print=ok"}, quick);
  EXPECT_TRUE(other.started);
  EXPECT_EQ(quick, "ok");
  EXPECT_FALSE(other.endedAfterStop);

  HANDLE grandchild = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(child)));
  ASSERT_NE(grandchild, nullptr);
  EXPECT_EQ(WaitForSingleObject(grandchild, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  runner.endAfterStop(std::chrono::milliseconds(300));
  // A program started after the stop gets its own grace, and one that ends
  // within it is not touched.
  const ProcessResult after = runner.run({kProbe, dir.file("after"), "6"}, "");
  EXPECT_TRUE(after.started);
  EXPECT_EQ(after.exitCode, 6u);
  EXPECT_FALSE(after.endedAfterStop);

  first.join();
  EXPECT_TRUE(hung.started);
  EXPECT_TRUE(hung.endedAfterStop);
  EXPECT_EQ(hung.exitCode, 1u);
  EXPECT_EQ(WaitForSingleObject(grandchild, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(grandchild);
}

}  // namespace
}  // namespace tv::win

#include "service/command_line.h"

#include <gtest/gtest.h>

#include "config/version.h"
#include "text/text.h"

namespace tv {
namespace {

using Mode = CommandLine::Mode;

TEST(CommandLine, OptionsAreExactlyADashAndOneLetter) {
  EXPECT_EQ(parseCommandLine({"-u"}).mode, Mode::kUninstall);
  EXPECT_EQ(parseCommandLine({"-d"}).mode, Mode::kDebug);
  EXPECT_EQ(parseCommandLine({"-d", "ignored"}).mode, Mode::kDebug);
  for (const char* notAnOption : {"", "-", "--", "-dd", "d", "-x", "-D", "-install", "/d"}) {
    EXPECT_EQ(parseCommandLine({notAnOption}).mode, Mode::kServiceOrUsage) << notAnOption;
  }
  EXPECT_EQ(parseCommandLine({}).mode, Mode::kServiceOrUsage);
  // Only the first argument counts.
  EXPECT_EQ(parseCommandLine({"x", "-d"}).mode, Mode::kServiceOrUsage);
}

TEST(CommandLine, InstallTakesThePathOrTheCurrentFolder) {
  CommandLine withPath = parseCommandLine({"-i", "/srv/tavlevagt data"});
  EXPECT_EQ(withPath.mode, Mode::kInstall);
  EXPECT_EQ(withPath.installPath, "/srv/tavlevagt data");
  EXPECT_EQ(parseCommandLine({"-i"}).installPath, ".");
  EXPECT_EQ(parseCommandLine({"-i", ""}).installPath, ".");
}

TEST(CommandLine, FolderOptionsComeBeforeTheDocumentedOnes) {
  CommandLine cl = parseCommandLine({"--config-root", "/tmp/r", "--unit-folder", "/tmp/u", "-d"});
  EXPECT_EQ(cl.mode, Mode::kDebug);
  EXPECT_EQ(cl.configRoot, "/tmp/r");
  EXPECT_EQ(cl.unitFolder, "/tmp/u");

  CommandLine rootOnly = parseCommandLine({"--config-root", "/tmp/r"});
  EXPECT_EQ(rootOnly.mode, Mode::kServiceOrUsage);
  EXPECT_EQ(rootOnly.configRoot, "/tmp/r");

  // Missing, empty or repeated folders make the line no command at all.
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--config-root"},
           {"--config-root", "", "-d"},
           {"--config-root", "/a", "--config-root", "/b", "-d"}}) {
    CommandLine c = parseCommandLine(bad);
    EXPECT_EQ(c.mode, Mode::kServiceOrUsage);
    EXPECT_FALSE(c.configRoot.has_value());
  }
  // After the documented option, a folder option is only an argument.
  EXPECT_EQ(parseCommandLine({"-i", "--config-root"}).installPath, "--config-root");
}

TEST(CommandLine, UsageTextLineByLine) {
  std::string expected =
      format("Tavlevagt ver. 7.2.0 (17.06.2022) - (x64 %s %s)\n", buildDate(), buildTime()) +
      "Usage: Tavlevagt -i path|-u|-d\n"
      "  -i path      Install service. Datafile reside in 'path'\n"
      "  -u           Uninstall service\n"
      "  -d           Debug: run as console program\n"
      "\n";
  EXPECT_EQ(usageText(), expected);
}

}  // namespace
}  // namespace tv

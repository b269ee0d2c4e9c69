#include "text/paths.h"

#include <gtest/gtest.h>

#include <fstream>

#include "runtime/data_folder.h"
#include "support/fakes.h"

namespace tv {
namespace {

TEST(Paths, TextSurvivesTheWayToThePathAndBack) {
  const std::string names[] = {
      "/srv/tavlevagt/Tavlevagt.ini", "/srv/tavlevagt/Ærø – 5€.txt",
      "/srv/tavlevagt/\xE6ver.dat",  // a Windows-1252 byte: no UTF-8, kept as it is
  };
  for (const std::string& name : names) {
    const std::filesystem::path path = pathFromUtf8(name);
    EXPECT_EQ(utf8FromPath(path), name);
#ifndef _WIN32
    EXPECT_EQ(path.native(), name);  // Linux keeps the bytes
#endif
  }
}

TEST(Paths, JoinKeepsTheNameBelowTheFolder) {
  struct Case {
    std::string folder, name, joined;
  };
  const Case cases[] = {
      {"/srv/data", "Tavlevagt.ini", "/srv/data/Tavlevagt.ini"},
      {"/srv/data", "script/7za.exe", "/srv/data/script/7za.exe"},
      {"/srv/data", "bwdata.backup", "/srv/data/bwdata.backup"},
      // std::filesystem's "/" would replace the folder with an absolute name.
      {"/srv/data", "/etc/passwd", "/srv/data//etc/passwd"},
  };
  for (const Case& c : cases) EXPECT_EQ(joinPath(c.folder, c.name), c.joined);
}

TEST(Paths, FileNamesFromTheDataFolderComeBackAsTheirText) {
  test::TempFolder folder;
  const std::string name = "brovalt-Søren.dat";
  std::ofstream(pathFromUtf8(joinPath(folder.path(), name))) << "job";
  EXPECT_EQ(findFiles(folder.path(), "brovalt", ".dat"), std::vector<std::string>{name});
  EXPECT_NE(lastWriteTime(joinPath(folder.path(), name)), -1);
}

}  // namespace
}  // namespace tv

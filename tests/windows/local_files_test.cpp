#include "platform/windows/windows_local_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "platform/windows/wide.h"
#include "windows/windows_test_support.h"

namespace tv::win {
namespace {

using wintest::TempDir;

void put(std::FILE* f, const std::string& bytes) {
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
}

TEST(WindowsLocalFiles, AppendedBytesAreTheFilesBytesUnderAUtf8Name) {
  TempDir dir;
  WindowsLocalFiles files;
  const std::string name = dir.file("Tavlevagt-\xC3\xA6\xC3\xB8\xC3\xA5.log");
  for (const std::string& line : {std::string("en\n"), std::string("to\r\n\x1A tre\n")}) {
    LocalFiles::Opened o = files.openAppend(name);
    ASSERT_FALSE(o.error) << o.error.value();
    put(o.file, line);
    EXPECT_FALSE(files.finish(o.file));
  }
  std::string content;
  EXPECT_FALSE(files.readWhole(name, content));
  EXPECT_EQ(content, "en\nto\r\n\x1A tre\n");
  EXPECT_TRUE(wintest::exists(name));
}

TEST(WindowsLocalFiles, UniqueFilesNeverMeetAndMissingOrFolderNamesAreRefused) {
  TempDir dir;
  WindowsLocalFiles files;
  std::string first;
  std::string second;
  LocalFiles::Opened a = files.createUnique(dir.file("katalog-"), first);
  LocalFiles::Opened b = files.createUnique(dir.file("katalog-"), second);
  ASSERT_NE(a.file, nullptr);
  ASSERT_NE(b.file, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(dir.file("katalog-"), 0), 0u);
  put(a.file, "a");
  put(b.file, "b");
  EXPECT_FALSE(files.finish(a.file));
  EXPECT_FALSE(files.finish(b.file));
  std::string content;
  EXPECT_FALSE(files.readWhole(first, content));
  EXPECT_EQ(content, "a");
  EXPECT_FALSE(files.restrictToOwner(first));

  EXPECT_EQ(files.readWhole(dir.file("missing"), content), platformError(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(files.readWhole(dir.path(), content));
  EXPECT_EQ(files.openAppend(dir.path()).file, nullptr);
}

TEST(WindowsLocalFiles, ALinkWhereAFileIsExpectedIsRefused) {
  TempDir dir;
  wintest::writeFile(dir.file("target"), "secret");
  if (!CreateSymbolicLinkW(toWide(dir.file("link")).c_str(), toWide(dir.file("target")).c_str(),
                           0)) {
    GTEST_SKIP() << "no symbolic links here: " << GetLastError();
  }
  // Wine makes a link that does not lead to its target; only a link that
  // works can show that it is refused.
  if (wintest::readFile(dir.file("link")) != "secret") {
    GTEST_SKIP() << "this system's symbolic links do not lead to their target";
  }
  WindowsLocalFiles files;
  std::string content;
  const SystemError read = files.readWhole(dir.file("link"), content);
  EXPECT_TRUE(isLinkRefusal(read)) << read.value() << " " << read.category().name();
  EXPECT_EQ(content, "");
  LocalFiles::Opened o = files.openAppend(dir.file("link"));
  EXPECT_EQ(o.file, nullptr);
  EXPECT_TRUE(isLinkRefusal(o.error));
}

TEST(WindowsLocalFiles, AFolderIsHeldOnceUntilItsLockGoes) {
  TempDir dir;
  WindowsLocalFiles files;
  LocalFiles::Locked first = files.lockFolder(dir.path());
  ASSERT_NE(first.lock, nullptr) << first.error.value();
  // The same folder by another spelling of its name.
  std::string other = dir.path() + "\\";
  for (char& c : other) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  LocalFiles::Locked second = files.lockFolder(other);
  EXPECT_EQ(second.lock, nullptr);
  EXPECT_TRUE(second.heldElsewhere);
  first.lock.reset();
  EXPECT_NE(files.lockFolder(dir.path()).lock, nullptr);

  LocalFiles::Locked missing = files.lockFolder(dir.file("missing"));
  EXPECT_EQ(missing.lock, nullptr);
  EXPECT_FALSE(missing.heldElsewhere);
  EXPECT_TRUE(missing.error);
}

}  // namespace
}  // namespace tv::win

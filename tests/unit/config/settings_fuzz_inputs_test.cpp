// The settings fuzz target's own checks over inputs that have broken
// profile readers before.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tv::fuzz {
int settingsFuzzOne(const std::uint8_t* data, std::size_t size);
}

namespace {

int run(const std::string& bytes) {
  return tv::fuzz::settingsFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
}

TEST(SettingsFuzzInputs, NastyFilesLoadWithoutHarm) {
  std::string allBytes;
  for (int i = 0; i < 256; ++i) allBytes += static_cast<char>(i);
  const std::string inputs[] = {
      "",
      "[",
      "]",
      "[]=\n=\n==\n",
      "\xFF\xFE",
      std::string("\xFF\xFE[\x00S\x00]\x00\n", 9),  // UTF-16 with an odd byte at the end
      std::string("\xFE\xFF\xD8\x00\x00\n", 6),     // a lone surrogate
      "\xEF\xBB\xBF[Tavlevagt]\nBrugerIdentifikation=\xC3\x28\xF0\x9F\n",
      std::string("[Tavlevagt]\nLogLevel=\0\n[\0]\n", 27),
      "[Tavlevagt]\nLogLevel=99999999999999999999\nIDrift=J\n"
      "[ADsettings]\nAccessPermissionsShareMeda=-0xFFFFFFFFFF\nDageForSlet=-2147483648\n"
      "[FileShare]\nHomeDirDriveMeda=\xE6\nFileServerShareMeda=x\n",
      "[ADsettings]\nLdapPath=" + std::string(100000, ',') + "\n",
      "[FileShare]\nOpretShareMeda=mappe\nFileServerShareMeda=\\\\\n[ElevFelter]\nmail=@\n",
      "[MedarbejderFelter]\nsAMAccountName=*\n[Tavlevagt]\nBrugerIdentifikation=sAMAccountName\n",
      allBytes,
      std::string(70000, '\n'),
  };
  for (const std::string& in : inputs) EXPECT_EQ(run(in), 0) << in.substr(0, 40);
}

}  // namespace

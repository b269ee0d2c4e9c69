#include "sync/terminal_services.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tv::fuzz {
int userParametersFuzzOne(const std::uint8_t* data, std::size_t size);
}

namespace tv {
namespace {

std::string le16(std::uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

std::string property(const std::string& name, const std::string& value) {
  return le16(static_cast<std::uint16_t>(name.size() * 2)) +
         le16(static_cast<std::uint16_t>(value.size())) + le16(1) + utf16(name) + value;
}

TEST(UserParameters, NewBlobHasTheLayoutTerminalServersRead) {
  auto blob = withTerminalProfilePath("", "\\\\s\\p");
  ASSERT_TRUE(blob);
  std::string expected = utf16(std::string(48, ' ')) + "P" + std::string(1, '\0') + le16(2) +
                         property("CtxCfgPresent", "551e0bb0") +
                         property("CtxWFProfilePath", "5c5c735c7000");
  EXPECT_EQ(*blob, expected);
  EXPECT_EQ(terminalProfilePathOf(*blob), "\\\\s\\p");
}

TEST(UserParameters, OtherPropertiesAndReservedBytesAreKept) {
  std::string reserved(96, 'R');
  std::string blob = reserved + "P" + std::string(1, '\0') + le16(2) +
                     property("CtxShadow", "01000000") + property("CtxWFProfilePath", "6100");
  EXPECT_EQ(terminalProfilePathOf(blob), "a");
  auto updated = withTerminalProfilePath(blob, "bø");
  ASSERT_TRUE(updated);
  EXPECT_EQ(*updated, reserved + "P" + std::string(1, '\0') + le16(2) +
                          property("CtxShadow", "01000000") +
                          property("CtxWFProfilePath", "62f800"))
      << "ø is one Windows-1252 byte";
  EXPECT_EQ(terminalProfilePathOf(*updated), "bø");
}

TEST(UserParameters, BytesThatAreNotTerminalServicesDataAreRefused) {
  EXPECT_EQ(parseUserParameters(std::string(40, 'x')), std::nullopt) << "shorter than reserved";
  std::string overrun = std::string(96, ' ') + "P" + std::string(1, '\0') + le16(1) + le16(200) +
                        le16(2) + le16(1) + "ab";
  EXPECT_EQ(withTerminalProfilePath(overrun, "x"), std::nullopt);
  // Reserved data without a property array is kept and gets one.
  auto fresh = withTerminalProfilePath(std::string(96, 'Q'), "x");
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->substr(0, 96), std::string(96, 'Q'));
  EXPECT_EQ(terminalProfilePathOf(*fresh), "x");
  // A value that is not hex text reads as no path.
  std::string garbled = std::string(96, ' ') + "P" + std::string(1, '\0') + le16(1) +
                        property("CtxWFProfilePath", "zz");
  EXPECT_EQ(terminalProfilePathOf(garbled), std::nullopt);
}

TEST(UserParameters, FuzzTargetSurvivesNastyInputs) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string base = std::string(96, ' ') + "P" + std::string(1, '\0');
  const std::string inputs[] = {
      "",
      std::string(96, '\0'),
      base,
      base + le16(0xFFFF),
      base + le16(1) + le16(1) + le16(0) + le16(1) + "a",
      base + le16(1) + le16(0) + le16(0xFFFF) + le16(1),
      base + le16(2) + property("CtxWFProfilePath", "41") + property("CtxWFProfilePath", "42"),
      all + all,
  };
  for (const std::string& in : inputs) {
    EXPECT_EQ(
        fuzz::userParametersFuzzOne(reinterpret_cast<const std::uint8_t*>(in.data()), in.size()),
        0);
  }
}

}  // namespace
}  // namespace tv

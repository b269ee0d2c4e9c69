// Fuzz target for the settings file: any bytes as Tavlevagt.ini must load
// without a crash, leave every value within its capacity, and let the
// population context be built from whatever was read.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "config/ini_file.h"
#include "config/setting_values.h"
#include "log/log.h"
#include "runtime/runtime.h"
#include "runtime/settings_loader.h"
#include "runtime/trim.h"
#include "support/fake_clock.h"
#include "text/text.h"

namespace tv::fuzz {
namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

// One fuzz input; also run by the unit tests over a few nasty files.
int settingsFuzzOne(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  test::FakeClock clock;
  Log log(Log::Options{"", "Tavlevagt.log", &clock, nullptr, nullptr, false, stderr});
  Ports ports;
  ports.clock = &clock;
  Runtime rt(log, ports, "");

  IniFile ini = IniFile::fromBytes(bytes);
  int result = loadSettingsFrom(rt, ini, "Tavlevagt.ini");
  require(result == 0 || result == 1);

  const Settings& s = rt.settings;
  require(charCount(s.BrugerIdentifikation) <= 49);
  require(charCount(s.LdapPath) <= 259);
  require(charCount(s.HomeDirDriveMeda) <= 2 && charCount(s.HomeDirDriveElev) <= 2);
  require(charCount(s.MedaUndtaget) <= 15999 && charCount(s.GroupListElev) <= 15999);
  require(s.DageForSlet == 0 || s.DageForSlet >= 100 || s.ForceSlet);
  require(s.OpretShareMeda >= 0 && s.OpretShareMeda <= 2);
  require(s.OpretMailElev == 0 || s.OpretMailElev == 3 || s.OpretMailElev == 4);
  for (const auto& e : s.MedarbejderFelter) require(charCount(e.field) <= 64 && !e.field.empty());
  for (const auto& e : s.ElevFelter) require(charCount(e.field) <= 64 && !e.field.empty());
  require(charCount(rt.trim.ElevInaktiveLdapPath) <= 259);

  selectStaff(rt);
  require(charCount(userContainer(rt, bytes)) <= 259);
  selectPupils(rt);
  require(charCount(userContainer(rt, s.MedaUndtaget)) <= 259);
  require(charCount(shareServer(s.FileServerShareMeda)) <= 259);
  (void)isProfileFile(bytes);
  (void)parseInteger(bytes);
  (void)parseHexMask(bytes);
  return 0;
}

}  // namespace tv::fuzz

#ifndef TAVLEVAGT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tv::fuzz::settingsFuzzOne(data, size);
}
#endif

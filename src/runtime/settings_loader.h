// The settings load: reads Tavlevagt.ini of the data folder into
// rt.settings, builds the attribute maps, computes the directory locations,
// and writes a report of every value read to the log and the event log
// (level 11), flushed in the blocks schools know from the log.
#pragma once

#include <string>

namespace tv {

struct Runtime;
class IniFile;

// Loads "<data folder>/Tavlevagt.ini". A missing file gives every setting its
// default. Returns 0, or 1 when `FileServerShareMeda` is not a valid share
// name (the value is kept all the same).
int loadSettings(Runtime& rt);

// The same load from a settings file already read; iniPath is what the report
// names as "Inifil: ".
int loadSettingsFrom(Runtime& rt, const IniFile& ini, const std::string& iniPath);

}  // namespace tv

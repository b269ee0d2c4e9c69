// Security identifiers and GUIDs as the directory stores them (binary) and as
// people and access lists write them ("S-1-5-21-…", "{xxxxxxxx-…}"). The file
// server port takes account SIDs from the directory's objectSid, so both
// directions are needed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// Binary SID (revision, count, 48-bit authority, little-endian 32-bit
// sub-authorities) to "S-1-5-21-…"; nullopt when the bytes are not a SID.
[[nodiscard]] std::optional<std::string> sidToString(std::string_view bytes);

// "S-1-5-…" to the binary form; nullopt when the text is not a SID.
[[nodiscard]] std::optional<std::string> sidFromString(std::string_view text);

// The 16 bytes of an objectGUID as "{6B29FC40-CA47-1067-B31D-00DD010662DA}"
// (the first three groups little-endian, as Windows prints them).
[[nodiscard]] std::optional<std::string> guidToString(std::string_view bytes);

}  // namespace tv

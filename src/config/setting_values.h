// How the text of a setting becomes its value. The rules are those of the C
// library calls the settings have always been read with, so a value a school
// wrote years ago keeps its meaning: "Ja"/"j…" is on and anything else off,
// numbers are read from their leading digits, masks in base 16.
#pragma once

#include <cstdint>
#include <string_view>

namespace tv {

// On when the first character is "J" or "j".
[[nodiscard]] bool parseYesNo(std::string_view text);

// atoi: blanks, an optional sign, the leading decimal digits; no digits gives
// 0 and a value beyond the 32-bit range gives the nearest end of it.
[[nodiscard]] int parseInteger(std::string_view text);

// strtoul in base 16, 32-bit: blanks, an optional sign, an optional "0x",
// the leading hex digits; too large gives 0xFFFFFFFF, a minus sign negates.
[[nodiscard]] std::uint32_t parseHexMask(std::string_view text);

// 2 for "mappe" in any case, 1 for a yes, else 0.
[[nodiscard]] int parseShareMode(std::string_view text);

// 4 for "mailbox" in any case, 3 for a yes, else 0.
[[nodiscard]] int parseMailMode(std::string_view text);

// Deletion days: negative becomes 0; 1 to 99 becomes 100 unless forced.
[[nodiscard]] int deletionDays(int days, bool forceSlet);

}  // namespace tv

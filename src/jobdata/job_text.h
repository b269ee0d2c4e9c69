// Small text and date operations the user and group operations share: the
// folding of names into group and list names, the characters a login may not
// hold, Danish month names and calendar day numbers.
#pragma once

#include <string>
#include <string_view>

#include "ports/clock.h"

namespace tv {

// `"` `*` `+` `,` `/` `:` `;` `<` `=` `>` `?` `[` `\` `]` `|`.
[[nodiscard]] bool isSpecialChar(char32_t c);

// Drops special characters and blanks and spells æ ø å the ASCII way
// ("Søren Ærø" -> "SorenAEro"); at most 199 characters in and out.
[[nodiscard]] std::string foldName(std::string_view text);

// "januar" … "december"; "" outside 1-12.
[[nodiscard]] std::string_view monthName(int month);

// Days since a fixed origin of a date written as the integer yyyymmdd.
[[nodiscard]] long dayNumber(long yyyymmdd);
// Days from b to a.
[[nodiscard]] long dayDifference(long a, long b);
// Today in the clock's local time as yyyymmdd.
[[nodiscard]] long todayNumber(const Clock& clock);

}  // namespace tv

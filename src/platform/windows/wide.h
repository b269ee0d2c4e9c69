// UTF-8 inside the program, UTF-16 at the Windows API: the two conversions
// every Windows adapter uses at that boundary. Invalid UTF-8 becomes U+FFFD
// rather than a cut or an empty string, so a damaged name still shows where
// it came from.
#pragma once

#include <string>
#include <string_view>

namespace tv::win {

[[nodiscard]] std::wstring toWide(std::string_view utf8);
[[nodiscard]] std::string toUtf8(std::wstring_view utf16);

}  // namespace tv::win

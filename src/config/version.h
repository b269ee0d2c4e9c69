// The program's version stamp: the numbers the start banner of the settings
// report and the service's own start lines print, so that every place names
// the same release.
#pragma once

namespace tv {

inline constexpr const char* kVersion = "7.2.0";
inline constexpr const char* kReleaseDate = "17.06.2022";
inline constexpr const char* kPlatform = "x64";

// The compiler's __DATE__ and __TIME__ of this build ("Jun 17 2022", "10:42:52").
// Kept in one translation unit so every caller prints the same stamp.
[[nodiscard]] const char* buildDate();
[[nodiscard]] const char* buildTime();

}  // namespace tv

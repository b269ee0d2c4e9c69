// The password cipher shared by the sync jobs' password field and the
// password jobs: Base64 text of RC4-enciphered bytes under one fixed key.
// The clear text is enciphered together with its terminating zero byte, so
// a deciphered value is read up to its first zero byte. All values here are
// raw bytes (the registers' Windows-1252), never converted.
#pragma once

#include <string>
#include <string_view>

namespace tv::cipher {

// The 32 key bytes, used without a terminator.
inline constexpr std::string_view kPasswordKey = "KlarMoskeventudFjorBekkalmSindro";

// Standard-alphabet Base64. Characters outside the alphabet are skipped; each
// "=" in the third or fourth place of a group shortens that group by one byte;
// a group cut short by the end of the text yields the bytes it completes.
[[nodiscard]] std::string base64Decode(std::string_view text);
[[nodiscard]] std::string base64Encode(std::string_view bytes);

// RC4 (ARCFOUR) of data under key; enciphering and deciphering are the same.
// An empty key leaves the data as it is.
[[nodiscard]] std::string rc4(std::string_view key, std::string_view data);

// Base64-decodes, deciphers with the fixed key and returns the bytes before
// the first zero byte.
[[nodiscard]] std::string decipher(std::string_view text);

// The other direction, for the registers' side and test data: the clear
// bytes and a zero byte, enciphered with the fixed key, as Base64.
[[nodiscard]] std::string encipher(std::string_view clear);

}  // namespace tv::cipher

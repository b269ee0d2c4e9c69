#include "text/cipher.h"

#include <array>
#include <cstdint>

namespace tv::cipher {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Sextet value of c, -1 for "=", -2 for a character outside the alphabet.
int sextet(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return -1;
  return -2;
}

}  // namespace

std::string base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int places = 0;  // places of the current group taken, "=" included
  int pads = 0;    // "=" met in the third or fourth place
  auto flush = [&]() {
    // A full group gives three bytes less its padding; a short group at the
    // end of the text gives the bytes its places complete.
    int bytes = places == 4 ? 3 - pads : (places == 3 ? 2 - pads : (places == 2 ? 1 : 0));
    bits <<= 6 * (4 - places);
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<char>((bits >> (16 - 8 * k)) & 0xFF));
    bits = 0;
    places = 0;
    pads = 0;
  };
  for (unsigned char c : text) {
    int v = sextet(c);
    if (v == -2) continue;
    if (v == -1) {
      if (places >= 2) ++pads;
      v = 0;
    }
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    if (++places == 4) flush();
  }
  if (places > 0) flush();
  return out;
}

std::string base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                      (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                      static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string rc4(std::string_view key, std::string_view data) {
  if (key.empty()) return std::string(data);
  std::array<std::uint8_t, 256> s{};
  for (int k = 0; k < 256; ++k) s[k] = static_cast<std::uint8_t>(k);
  std::uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<std::uint8_t>(j + s[k] + static_cast<std::uint8_t>(key[k % key.size()]));
    std::swap(s[k], s[j]);
  }
  std::string out(data.size(), '\0');
  std::uint8_t i = 0;
  j = 0;
  for (std::size_t n = 0; n < data.size(); ++n) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    std::uint8_t k = s[static_cast<std::uint8_t>(s[i] + s[j])];
    out[n] = static_cast<char>(static_cast<std::uint8_t>(data[n]) ^ k);
  }
  return out;
}

std::string decipher(std::string_view text) {
  std::string clear = rc4(kPasswordKey, base64Decode(text));
  if (auto zero = clear.find('\0'); zero != std::string::npos) clear.resize(zero);
  return clear;
}

std::string encipher(std::string_view clear) {
  std::string bytes(clear);
  bytes.push_back('\0');
  return base64Encode(rc4(kPasswordKey, bytes));
}

}  // namespace tv::cipher

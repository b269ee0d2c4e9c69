#include "directory/sid.h"

#include <charconv>

#include "text/text.h"

namespace tv {

std::optional<std::string> sidToString(std::string_view bytes) {
  if (bytes.size() < 8) return std::nullopt;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned revision = b(0);
  const unsigned count = b(1);
  if (revision != 1 || count > 15 || bytes.size() != 8 + 4 * count) return std::nullopt;
  std::uint64_t authority = 0;
  for (std::size_t i = 2; i < 8; ++i) authority = (authority << 8) | b(i);
  std::string out = "S-1-" + std::to_string(authority);
  for (unsigned k = 0; k < count; ++k) {
    const std::size_t o = 8 + 4 * k;
    const std::uint32_t sub =
        b(o) | (b(o + 1) << 8) | (b(o + 2) << 16) | (static_cast<std::uint32_t>(b(o + 3)) << 24);
    out += "-" + std::to_string(sub);
  }
  return out;
}

std::optional<std::string> sidFromString(std::string_view text) {
  if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return std::nullopt;
  const std::vector<std::string> parts = split(text.substr(2), '-');
  if (parts.size() < 2 || parts.size() > 17 || parts[0] != "1") return std::nullopt;
  auto number = [](const std::string& s, std::uint64_t max) -> std::optional<std::uint64_t> {
    std::uint64_t v = 0;
    if (s.empty()) return std::nullopt;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || v > max) return std::nullopt;
    return v;
  };
  const auto authority = number(parts[1], 0xFFFFFFFFFFFFull);
  if (!authority) return std::nullopt;
  std::string out;
  out += static_cast<char>(1);
  out += static_cast<char>(parts.size() - 2);
  for (int shift = 40; shift >= 0; shift -= 8)
    out += static_cast<char>((*authority >> shift) & 0xFF);
  for (std::size_t k = 2; k < parts.size(); ++k) {
    const auto sub = number(parts[k], 0xFFFFFFFFull);
    if (!sub) return std::nullopt;
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((*sub >> shift) & 0xFF);
  }
  return out;
}

std::optional<std::string> guidToString(std::string_view bytes) {
  if (bytes.size() != 16) return std::nullopt;
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "{";
  for (int k = 0; k < 16; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) out += '-';
    const auto c = static_cast<unsigned char>(bytes[kOrder[k]]);
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  out += '}';
  return out;
}

}  // namespace tv

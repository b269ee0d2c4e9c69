#include "sync/terminal_services.h"

#include "text/text.h"

namespace tv {
namespace {

constexpr std::size_t kReservedBytes = 96;
constexpr std::uint32_t kCfgPresent = 0xB00B1E55;

std::uint16_t read16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}

void write16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

std::string hexEncode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> hexDecode(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return out;
}

std::string defaultReserved() {
  std::string r;
  for (std::size_t i = 0; i < kReservedBytes / 2; ++i) write16(r, 0x20);
  return r;
}

TsProperty* findProperty(TsUserParameters& params, std::string_view name) {
  for (TsProperty& p : params.properties) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

}  // namespace

std::optional<TsUserParameters> parseUserParameters(std::string_view blob) {
  TsUserParameters params;
  if (blob.empty()) {
    params.reserved = defaultReserved();
    return params;
  }
  if (blob.size() < kReservedBytes) return std::nullopt;
  params.reserved = std::string(blob.substr(0, kReservedBytes));
  if (blob.size() < kReservedBytes + 4 || read16(blob, kReservedBytes) != u'P') return params;
  const std::uint16_t count = read16(blob, kReservedBytes + 2);
  std::size_t at = kReservedBytes + 4;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (blob.size() - at < 6) return std::nullopt;
    const std::uint16_t nameLength = read16(blob, at);
    const std::uint16_t valueLength = read16(blob, at + 2);
    TsProperty p;
    p.type = read16(blob, at + 4);
    at += 6;
    if (nameLength % 2 != 0 || blob.size() - at < std::size_t{nameLength} + valueLength) {
      return std::nullopt;
    }
    std::u32string name;
    for (std::size_t k = 0; k < nameLength; k += 2) name.push_back(read16(blob, at + k));
    p.name = fromCodePoints(name);
    at += nameLength;
    p.value = std::string(blob.substr(at, valueLength));
    at += valueLength;
    params.properties.push_back(std::move(p));
  }
  return params;
}

std::string buildUserParameters(const TsUserParameters& params) {
  std::string out = params.reserved;
  out.resize(kReservedBytes, '\0');
  write16(out, u'P');
  write16(out, static_cast<std::uint16_t>(params.properties.size()));
  for (const TsProperty& p : params.properties) {
    std::string name = toUtf16le(p.name);
    write16(out, static_cast<std::uint16_t>(name.size()));
    write16(out, static_cast<std::uint16_t>(p.value.size()));
    write16(out, p.type);
    out += name;
    out += p.value;
  }
  return out;
}

std::optional<std::string> tsStringProperty(const TsUserParameters& params, std::string_view name) {
  for (const TsProperty& p : params.properties) {
    if (p.name != name) continue;
    auto bytes = hexDecode(p.value);
    if (!bytes) return std::nullopt;
    auto nul = bytes->find('\0');
    if (nul != std::string::npos) bytes->resize(nul);
    return cp1252ToUtf8(*bytes);
  }
  return std::nullopt;
}

void setTsStringProperty(TsUserParameters& params, std::string_view name, std::string_view value) {
  if (params.properties.empty()) {
    std::string marker;
    for (int shift = 0; shift < 32; shift += 8) {
      marker.push_back(static_cast<char>((kCfgPresent >> shift) & 0xFF));
    }
    params.properties.push_back({"CtxCfgPresent", 1, hexEncode(marker)});
  }
  std::string bytes = utf8ToCp1252(value);
  bytes.push_back('\0');
  std::string encoded = hexEncode(bytes);
  if (TsProperty* p = findProperty(params, name)) {
    p->value = std::move(encoded);
  } else {
    params.properties.push_back({std::string(name), 1, std::move(encoded)});
  }
}

std::optional<std::string> terminalProfilePathOf(std::string_view blob) {
  auto params = parseUserParameters(blob);
  if (!params) return std::nullopt;
  return tsStringProperty(*params, kTsProfilePath);
}

std::optional<std::string> withTerminalProfilePath(std::string_view blob, std::string_view path) {
  auto params = parseUserParameters(blob);
  if (!params) return std::nullopt;
  setTsStringProperty(*params, kTsProfilePath, path);
  return buildUserParameters(*params);
}

}  // namespace tv

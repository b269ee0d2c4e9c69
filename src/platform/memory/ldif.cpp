#include "platform/memory/ldif.h"

#include "text/text.h"

namespace tv::memdir {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kFoldColumns = 76;

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool isSafeString(std::string_view v) {
  if (v.empty()) return true;
  const auto first = static_cast<unsigned char>(v.front());
  if (first == ' ' || first == ':' || first == '<') return false;
  if (v.back() == ' ') return false;
  for (char ch : v) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 0 || c == '\n' || c == '\r' || c > 127) return false;
  }
  return true;
}

void appendFolded(std::string& out, std::string_view line) {
  if (line.size() <= kFoldColumns) {
    out.append(line);
    out += '\n';
    return;
  }
  out.append(line.substr(0, kFoldColumns));
  out += '\n';
  for (std::size_t pos = kFoldColumns; pos < line.size(); pos += kFoldColumns - 1) {
    out += ' ';
    out.append(line.substr(pos, kFoldColumns - 1));
    out += '\n';
  }
}

void appendValueLine(std::string& out, std::string_view name, std::string_view value) {
  std::string line(name);
  if (isSafeString(value)) {
    line += value.empty() ? ":" : ": ";
    line += value;
  } else {
    line += ":: ";
    line += base64Encode(value);
  }
  appendFolded(out, line);
}

std::string errorAt(int line, const std::string& why) {
  return "line " + std::to_string(line) + ": " + why;
}

}  // namespace

std::string base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool base64Decode(std::string_view text, std::string& out) {
  out.clear();
  unsigned acc = 0;
  int bits = 0;
  bool padding = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const int v = base64Value(c);
    if (v < 0 || padding) return false;
    acc = (acc << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  // Leftover bits must be the zero fill of the last group.
  return bits < 6 && (acc & ((1u << bits) - 1)) == 0;
}

LdifParse parseLdif(std::string_view text) {
  LdifParse result;
  // Unfold into logical lines, remembering where each began.
  struct Line {
    std::string text;
    int number;
  };
  std::vector<Line> lines;
  int number = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    ++number;
    pos = end + 1;
    if (!raw.empty() && raw.front() == ' ') {
      if (lines.empty() || lines.back().text.empty()) {
        result.error = errorAt(number, "continuation line without a line to continue");
        return result;
      }
      lines.back().text.append(raw.substr(1));
      continue;
    }
    lines.push_back(Line{std::string(raw), number});
    if (end == text.size()) break;
  }

  LdifRecord current;
  bool inRecord = false;
  bool versionSeen = false;
  auto finish = [&] {
    if (inRecord) result.records.push_back(std::move(current));
    current = LdifRecord{};
    inRecord = false;
  };
  for (const Line& line : lines) {
    const std::string& l = line.text;
    if (l.empty()) {
      finish();
      continue;
    }
    if (l.front() == '#') continue;
    const std::size_t colon = l.find(':');
    if (colon == std::string::npos || colon == 0) {
      result.error = errorAt(line.number, "\"attribute: value\" expected");
      return result;
    }
    std::string name = l.substr(0, colon);
    std::string value;
    std::size_t v = colon + 1;
    if (v < l.size() && l[v] == ':') {
      if (!base64Decode(l.substr(v + 1), value)) {
        result.error = errorAt(line.number, "bad base64 value");
        return result;
      }
    } else if (v < l.size() && l[v] == '<') {
      result.error = errorAt(line.number, "URL values are not supported");
      return result;
    } else {
      while (v < l.size() && l[v] == ' ') ++v;
      value = l.substr(v);
    }
    if (!inRecord) {
      if (asciiEqualsIgnoreCase(name, "version") && !versionSeen && result.records.empty()) {
        versionSeen = true;
        if (value != "1") {
          result.error = errorAt(line.number, "unsupported LDIF version");
          return result;
        }
        continue;
      }
      if (!asciiEqualsIgnoreCase(name, "dn")) {
        result.error = errorAt(line.number, "a record must begin with \"dn:\"");
        return result;
      }
      current.dn = value;
      current.line = line.number;
      inRecord = true;
      continue;
    }
    if (asciiEqualsIgnoreCase(name, "dn")) {
      result.error = errorAt(line.number, "a second \"dn:\" in one record");
      return result;
    }
    if (asciiEqualsIgnoreCase(name, "changetype")) {
      if (!asciiEqualsIgnoreCase(value, "add")) {
        result.error =
            errorAt(line.number, "only content records and \"changetype: add\" are read");
        return result;
      }
      continue;
    }
    if (asciiEqualsIgnoreCase(name, "control")) {
      result.error = errorAt(line.number, "controls are not supported");
      return result;
    }
    current.values.emplace_back(std::move(name), std::move(value));
  }
  finish();
  return result;
}

void writeLdifRecord(std::string& out, const LdifRecord& record) {
  appendValueLine(out, "dn", record.dn);
  for (const auto& [name, value] : record.values) appendValueLine(out, name, value);
  out += '\n';
}

}  // namespace tv::memdir

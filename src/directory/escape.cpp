#include "directory/escape.h"

#include "text/text.h"

namespace tv {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void appendHexEscape(std::string& out, unsigned char c) {
  out += '\\';
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isBlank(char c) {
  return c == ' ';
}

}  // namespace

std::string escapeFilterValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == 0) {
      appendHexEscape(out, c);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string escapeDnValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 4);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    const bool special =
        c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';';
    const bool edge = (i == 0 && (c == '#' || c == ' ')) || (i + 1 == value.size() && c == ' ');
    if (c < 0x20 || c == 0x7F) {
      appendHexEscape(out, c);
    } else if (special || edge) {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string unescapeDnValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 >= value.size()) {
      out += value[i];
      continue;
    }
    const int hi = hexValue(value[i + 1]);
    const int lo = i + 2 < value.size() ? hexValue(value[i + 2]) : -1;
    if (hi >= 0 && lo >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += value[i + 1];
      ++i;
    }
  }
  return out;
}

std::optional<std::vector<Rdn>> parseDn(std::string_view dn) {
  std::vector<Rdn> rdns;
  std::size_t i = 0;
  const std::size_t n = dn.size();
  auto skipBlanks = [&] {
    while (i < n && isBlank(dn[i])) ++i;
  };
  skipBlanks();
  if (i == n) return rdns;
  while (true) {
    skipBlanks();
    const std::size_t typeStart = i;
    while (i < n && dn[i] != '=' && dn[i] != ',' && dn[i] != ';' && dn[i] != '\\') ++i;
    if (i >= n || dn[i] != '=') return std::nullopt;
    std::string type(trim(dn.substr(typeStart, i - typeStart)));
    if (type.empty()) return std::nullopt;
    for (char c : type) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.';
      if (!ok) return std::nullopt;
    }
    ++i;  // '='
    skipBlanks();
    std::string value;
    std::size_t keepLen = 0;  // length without unescaped trailing blanks
    if (i < n && dn[i] == '"') {
      ++i;
      while (i < n && dn[i] != '"') {
        if (dn[i] == '\\' && i + 1 < n) ++i;
        value += dn[i++];
      }
      if (i >= n) return std::nullopt;
      ++i;
      skipBlanks();
      keepLen = value.size();
    } else {
      while (i < n && dn[i] != ',' && dn[i] != ';') {
        if (dn[i] == '\\') {
          if (i + 1 >= n) return std::nullopt;
          const int hi = hexValue(dn[i + 1]);
          const int lo = i + 2 < n ? hexValue(dn[i + 2]) : -1;
          if (hi >= 0 && lo >= 0) {
            value += static_cast<char>(hi * 16 + lo);
            i += 3;
          } else {
            value += dn[i + 1];
            i += 2;
          }
          keepLen = value.size();
          continue;
        }
        value += dn[i++];
        if (!isBlank(value.back())) keepLen = value.size();
      }
    }
    value.resize(keepLen);
    rdns.push_back(Rdn{std::move(type), std::move(value)});
    if (i >= n) break;
    if (dn[i] != ',' && dn[i] != ';') return std::nullopt;
    ++i;
    skipBlanks();
    if (i >= n) return std::nullopt;  // a trailing separator names no RDN
  }
  return rdns;
}

std::string formatRdn(const Rdn& rdn) {
  return rdn.type + "=" + escapeDnValue(rdn.value);
}

std::string formatDn(const std::vector<Rdn>& rdns) {
  std::string out;
  for (std::size_t k = 0; k < rdns.size(); ++k) {
    if (k) out += ',';
    out += formatRdn(rdns[k]);
  }
  return out;
}

std::string normalizeDn(std::string_view dn) {
  auto rdns = parseDn(dn);
  if (!rdns) return toLower(dn);
  for (Rdn& r : *rdns) {
    r.type = toLower(r.type);
    r.value = toLower(r.value);
  }
  return formatDn(*rdns);
}

bool dnEquals(std::string_view a, std::string_view b) {
  return normalizeDn(a) == normalizeDn(b);
}

std::string leafRdn(std::string_view dn) {
  auto rdns = parseDn(dn);
  if (!rdns || rdns->empty()) return "";
  return formatRdn(rdns->front());
}

std::string parentDn(std::string_view dn) {
  auto rdns = parseDn(dn);
  if (!rdns || rdns->size() < 2) return "";
  rdns->erase(rdns->begin());
  return formatDn(*rdns);
}

bool dnIsWithin(std::string_view dn, std::string_view base) {
  const std::string d = normalizeDn(dn);
  const std::string b = normalizeDn(base);
  if (b.empty()) return true;
  if (d.size() < b.size()) return false;
  if (d.compare(d.size() - b.size(), b.size(), b) != 0) return false;
  return d.size() == b.size() || d[d.size() - b.size() - 1] == ',';
}

std::string pathFromDn(std::string_view dn) {
  std::string out = "LDAP://";
  for (char c : dn) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

std::string dnFromPath(std::string_view path) {
  std::string_view rest = path;
  if (rest.size() >= 7 && equalsIgnoreCase(rest.substr(0, 7), "LDAP://")) {
    rest.remove_prefix(7);
    // A server part ends at the first slash that is not escaped; a DN's
    // own slashes are always written "\/" in a path.
    for (std::size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == '\\') {
        ++i;
      } else if (rest[i] == '/') {
        rest.remove_prefix(i + 1);
        break;
      }
    }
  }
  std::string out;
  out.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '/') continue;
    out += rest[i];
  }
  return out;
}

std::string canonicalNameOf(std::string_view dn) {
  auto rdns = parseDn(dn);
  if (!rdns) return "";
  std::string domain;
  std::vector<std::string> rest;
  for (auto it = rdns->rbegin(); it != rdns->rend(); ++it) {
    if (rest.empty() && equalsIgnoreCase(it->type, "DC")) {
      domain = domain.empty() ? it->value : it->value + "." + domain;
      continue;
    }
    std::string v;
    for (char c : it->value) {
      if (c == '/') v += '\\';
      v += c;
    }
    rest.push_back(std::move(v));
  }
  std::string out = domain + "/";
  for (std::size_t k = 0; k < rest.size(); ++k) {
    if (k) out += '/';
    out += rest[k];
  }
  return out;
}

}  // namespace tv

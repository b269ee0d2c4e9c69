#include "platform/memory/filter.h"

namespace tv::memdir {

namespace {

constexpr int kMaxDepth = 64;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isAttrChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == ';' || c == '_';
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::optional<Filter> parseAll() {
    auto f = parseFilter(0);
    if (!f) return std::nullopt;
    if (pos_ != s_.size()) return fail("text after the end of the filter");
    return f;
  }

  std::string error;

 private:
  std::nullopt_t fail(const std::string& why) {
    if (error.empty()) error = why + " at position " + std::to_string(pos_);
    return std::nullopt;
  }

  bool bad(const std::string& why) {
    fail(why);
    return false;
  }

  bool at(char c) const { return pos_ < s_.size() && s_[pos_] == c; }

  std::optional<Filter> parseFilter(int depth) {
    if (depth > kMaxDepth) return fail("filter nested too deeply");
    if (!at('(')) return fail("'(' expected");
    ++pos_;
    Filter f;
    if (at('&') || at('|')) {
      f.kind = at('&') ? Filter::Kind::kAnd : Filter::Kind::kOr;
      ++pos_;
      while (at('(')) {
        auto child = parseFilter(depth + 1);
        if (!child) return std::nullopt;
        f.children.push_back(std::move(*child));
      }
    } else if (at('!')) {
      f.kind = Filter::Kind::kNot;
      ++pos_;
      auto child = parseFilter(depth + 1);
      if (!child) return std::nullopt;
      f.children.push_back(std::move(*child));
    } else {
      if (!parseItem(f)) return std::nullopt;
    }
    if (!at(')')) return fail("')' expected");
    ++pos_;
    return f;
  }

  // Reads an assertion value up to ')' (not consumed) or, in substrings,
  // stops at '*' when stopAtStar. Raw '(' is refused: it can only come from
  // an unescaped value.
  std::optional<std::string> readValue(bool stopAtStar) {
    std::string out;
    while (pos_ < s_.size() && s_[pos_] != ')') {
      const char c = s_[pos_];
      if (c == '*' && stopAtStar) break;
      if (c == '(' || c == '*') return fail("unescaped '" + std::string(1, c) + "' in a value");
      if (c == '\\') {
        const int hi = pos_ + 1 < s_.size() ? hexValue(s_[pos_ + 1]) : -1;
        const int lo = pos_ + 2 < s_.size() ? hexValue(s_[pos_ + 2]) : -1;
        if (hi < 0 || lo < 0) return fail("bad escape");
        out += static_cast<char>(hi * 16 + lo);
        pos_ += 3;
        continue;
      }
      out += c;
      ++pos_;
    }
    return out;
  }

  bool parseItem(Filter& f) {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && isAttrChar(s_[pos_])) ++pos_;
    std::string attr(s_.substr(start, pos_ - start));
    // Extensible: attr[:dn][:rule]:=value or [:dn]:rule:=value.
    if (at(':')) {
      f.kind = Filter::Kind::kExtensible;
      while (at(':')) {
        ++pos_;
        if (at('=')) {
          ++pos_;
          break;
        }
        const std::size_t ps = pos_;
        while (pos_ < s_.size() && isAttrChar(s_[pos_])) ++pos_;
        std::string part(s_.substr(ps, pos_ - ps));
        if (part.empty()) return bad("matching rule expected");
        if (part == "dn" || part == "DN") {
          f.dnAttributes = true;
        } else {
          f.rule = part;
        }
        if (!at(':')) return bad("':' expected");
      }
      if (pos_ == 0 || s_[pos_ - 1] != '=') return bad("':=' expected");
      if (attr.empty() && f.rule.empty()) return bad("attribute or rule expected");
      f.attr = stripOptions(attr);
      auto v = readValue(false);
      if (!v) return false;
      f.value = std::move(*v);
      return true;
    }
    if (attr.empty()) return bad("attribute expected");
    f.attr = stripOptions(attr);
    if (at('>') || at('<') || at('~')) {
      const char op = s_[pos_];
      ++pos_;
      if (!at('=')) return bad("'=' expected");
      ++pos_;
      f.kind = op == '>'   ? Filter::Kind::kGreaterOrEqual
               : op == '<' ? Filter::Kind::kLessOrEqual
                           : Filter::Kind::kApprox;
      auto v = readValue(false);
      if (!v) return false;
      f.value = std::move(*v);
      return true;
    }
    if (!at('=')) return bad("'=' expected");
    ++pos_;
    // Equality, presence or substrings.
    std::vector<std::string> parts;
    bool star = false;
    while (true) {
      auto v = readValue(true);
      if (!v) return false;
      parts.push_back(std::move(*v));
      if (at('*')) {
        star = true;
        ++pos_;
        continue;
      }
      break;
    }
    if (!star) {
      f.kind = Filter::Kind::kEqual;
      f.value = std::move(parts.front());
      return true;
    }
    if (parts.size() == 2 && parts[0].empty() && parts[1].empty()) {
      f.kind = Filter::Kind::kPresent;
      return true;
    }
    f.kind = Filter::Kind::kSubstring;
    f.initial = std::move(parts.front());
    f.final = std::move(parts.back());
    for (std::size_t k = 1; k + 1 < parts.size(); ++k) {
      if (parts[k].empty()) return bad("empty substring");
      f.any.push_back(std::move(parts[k]));
    }
    return true;
  }

  static std::string stripOptions(const std::string& attr) {
    const auto semi = attr.find(';');
    return semi == std::string::npos ? attr : attr.substr(0, semi);
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

FilterParse parseFilter(std::string_view text) {
  std::string wrapped;
  if (text.empty() || text.front() != '(') {
    wrapped = "(" + std::string(text) + ")";
    text = wrapped;
  }
  Parser p(text);
  FilterParse out;
  out.filter = p.parseAll();
  if (!out.filter) out.error = p.error.empty() ? "not a filter" : p.error;
  return out;
}

}  // namespace tv::memdir

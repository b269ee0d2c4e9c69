// RFC 4515 search filters as the memory directory evaluates them. Parsing
// turns the text into a tree once per search; assertion values come out with
// their escapes resolved, so a value can never be read as filter syntax.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv::memdir {

struct Filter {
  enum class Kind {
    kAnd,
    kOr,
    kNot,
    kEqual,
    kPresent,
    kSubstring,
    kGreaterOrEqual,
    kLessOrEqual,
    kApprox,
    kExtensible
  };
  Kind kind = Kind::kAnd;
  std::vector<Filter> children;  // kAnd, kOr, kNot (one child)
  std::string attr;              // as written, options removed
  std::string value;             // unescaped assertion value
  // kSubstring: initial*any*…*final, each unescaped; empty initial/final: none.
  std::string initial;
  std::vector<std::string> any;
  std::string final;
  // kExtensible: the matching rule OID ("" for none) and the ":dn" flag.
  std::string rule;
  bool dnAttributes = false;
};

struct FilterParse {
  std::optional<Filter> filter;
  std::string error;  // why the text is not a filter
};

// Parses a filter. Text without the outer parentheses ("cn=x") is accepted
// as the LDAP client libraries accept it. Nesting is limited to 64 levels.
[[nodiscard]] FilterParse parseFilter(std::string_view text);

}  // namespace tv::memdir

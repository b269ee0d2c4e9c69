// LDIF (RFC 2849) as the memory directory reads and writes its snapshot:
// content records ("dn:" then "attr: value" lines, records separated by a
// blank line), base64 values ("attr:: …"), continuation lines (a line that
// begins with one blank continues the previous one), comments, an optional
// "version: 1" and records that carry "changetype: add". Other change types
// and URL values ("attr:< …") are refused with the line they stand on.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tv::memdir {

struct LdifRecord {
  std::string dn;
  std::vector<std::pair<std::string, std::string>> values;  // attribute, value; in file order
  int line = 0;                                             // line of the "dn:" line
};

struct LdifParse {
  std::vector<LdifRecord> records;
  std::string error;  // empty on success; "line N: …" otherwise
};

[[nodiscard]] LdifParse parseLdif(std::string_view text);

// One record, ending with a blank line. Values that are not safe strings
// (non-ASCII, control bytes, a leading blank, ":" or "<", a trailing blank)
// are written base64; lines are folded at 76 columns.
void writeLdifRecord(std::string& out, const LdifRecord& record);

[[nodiscard]] std::string base64Encode(std::string_view bytes);
// Decodes standard base64 (padding optional, blanks ignored); false on bad input.
[[nodiscard]] bool base64Decode(std::string_view text, std::string& out);

}  // namespace tv::memdir

// The texts the job server client reads and builds, kept apart from the
// network so that each can be tested and fuzzed on its own: the token
// members of the token endpoint's answer, the items of the job list, the job
// file names, the job content conversion and the log upload body.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv::jobserver {

struct Token {
  std::string type;    // "Bearer"
  std::string access;  // the access token itself
};

// The text after `"name":"` up to the next double quote, found by plain text
// search, the way the token endpoint writes it (no blanks, no escapes). A
// value holding a control character would break the request's header block
// and counts as missing.
[[nodiscard]] std::optional<std::string> tokenMember(std::string_view response,
                                                     std::string_view name);

// Both members, or nothing when either is missing.
[[nodiscard]] std::optional<Token> readToken(std::string_view response);

struct JobItem {
  std::string id;
  bool password = false;  // the item held "pwd"

  // "kodevalt-<id>.dat" for a password job, else "brovalt-<id>.dat".
  [[nodiscard]] std::string fileName() const;
};

// The comma-separated items of the job list, in order, blanks around each
// item removed. An item holding "pwd" is a password job whose id is the text
// before it. Items left empty name no job and are dropped.
[[nodiscard]] std::vector<JobItem> readJobList(std::string_view list);

// A job id becomes part of a file name in the data folder: one holding a path
// separator or a control character is refused rather than written elsewhere.
[[nodiscard]] bool safeJobId(std::string_view id);

// The id as a query value: unreserved characters as they are, others %XX.
[[nodiscard]] std::string queryValue(std::string_view id);

// Job content arrives as UTF-8 and is stored as Windows-1252; a character the
// code page cannot hold becomes "?".
[[nodiscard]] std::string jobFileBytes(std::string_view utf8);

// The job id named by a job file's base name: the text after "kodevalt-" when
// the name holds it, else after "brovalt-"; nothing when it holds neither.
[[nodiscard]] std::optional<std::string> uploadJobId(std::string_view baseName);

// "brovaltId=" + id + "&loglinjer=" + the log text in UTF-8. The server takes
// the log text as it stands, so it is not percent-encoded.
[[nodiscard]] std::string uploadBody(std::string_view id, std::string_view logUtf8);

}  // namespace tv::jobserver

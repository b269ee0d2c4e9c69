// One record line of a password job (kodevalt*.dat) turned into its clear
// text: the whole line is Base64 of RC4-enciphered "login;password". A clear
// text that begins with "@" is a header (it ends the section in hand).
#pragma once

#include <string>
#include <string_view>

namespace tv {

struct PasswordLine {
  std::string clear;       // the deciphered line, trimmed, UTF-8, at most 998 characters
  bool header = false;     // the clear text begins with "@"
  bool separator = false;  // the clear text holds a ";"
  std::string login;       // before the first ";", at most 24 characters
  std::string password;    // after the first ";", at most 20 characters
};

// Deciphers one trimmed line of a password job. An empty line gives an empty
// clear text. The password is everything after the first ";", so a password
// may itself hold ";".
[[nodiscard]] PasswordLine decodePasswordLine(std::string_view line);

}  // namespace tv

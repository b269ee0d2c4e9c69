#include "password/password_line.h"

#include "jobdata/job_reader.h"
#include "text/cipher.h"
#include "text/text.h"

namespace tv {

PasswordLine decodePasswordLine(std::string_view line) {
  PasswordLine out;
  std::string_view enciphered = trimLine(line);
  if (enciphered.empty()) return out;
  std::string clear = cipher::decipher(enciphered);
  if (clear.size() > kJobPieceChars) clear.resize(kJobPieceChars);
  out.clear = cp1252ToUtf8(trimLine(clear));
  out.header = out.clear.starts_with('@');
  if (out.header) return out;
  std::size_t semi = out.clear.find(';');
  out.separator = semi != std::string::npos;
  std::string_view view(out.clear);
  out.login = cutChars(view.substr(0, semi), 24);
  if (out.separator) out.password = cutChars(view.substr(semi + 1), 20);
  return out;
}

}  // namespace tv

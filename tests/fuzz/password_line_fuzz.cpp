// Fuzz target: any line of a password job must decode to a bounded clear
// text, login and password without touching memory it does not own, and the
// cipher must give back what it enciphered.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "password/password_line.h"
#include "text/cipher.h"
#include "text/text.h"

namespace tv::fuzz {

inline void checkPasswordLine(std::string_view input) {
  PasswordLine line = decodePasswordLine(input);
  if (charCount(line.clear) > 998 || charCount(line.login) > 24 || charCount(line.password) > 20) {
    std::abort();
  }
  if (line.header && (!line.login.empty() || !line.password.empty())) std::abort();
  if (!line.separator && !line.password.empty()) std::abort();

  // Enciphering the bytes before the first zero and deciphering gives them back.
  std::string clear(input.substr(0, input.find('\0')));
  if (cipher::decipher(cipher::encipher(clear)) != clear) std::abort();
  std::string decoded = cipher::base64Decode(input);
  if (decoded.size() > input.size()) std::abort();
}

}  // namespace tv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tv::fuzz::checkPasswordLine(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

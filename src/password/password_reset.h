// Resetting passwords from one section of a password job: each record line
// is deciphered into "login;password", checked, the user is found in the
// domain, and the Windows password is set (and the account unlocked), the
// UNI-login program is started with the new password, or both, as the
// section's header asks. Every line gets its own log lines; a bad line never
// stops the lines after it (only a commit the directory refuses ends the
// section), and no password ever reaches the log.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tv {

struct Runtime;
class JobReader;

// The header of a section and what its lines reset.
enum class ResetMode : int {
  kWindows = 1,   // "@+AD_PASS"
  kUniLogin = 2,  // "@+UNI_PASS"
  kBoth = 3,      // "@+AD_UNI_PASS"
};

// The mode a trimmed line announces, or nullopt when it is no header.
[[nodiscard]] std::optional<ResetMode> passwordHeader(std::string_view line);

// The UNI-login program below the data folder.
inline constexpr const char* kUniLoginProgram = "script/Lodsvaerk.exe";

// The longest login and password a line may carry, in characters. Longer
// values are refused rather than cut: a cut login could name somebody else,
// and a cut password is not the one the user was given.
inline constexpr std::size_t kResetLoginChars = 24;
inline constexpr std::size_t kResetPasswordChars = 20;

// What a line's clear text says before the directory is asked.
enum class LineVerdict {
  kUser,            // a login and a password to reset
  kEmpty,           // nothing to do (an empty clear text)
  kHeader,          // a clear text beginning with "@": the section ends here
  kUndecipherable,  // the line did not decipher into text
  kClearHeader,     // a header written in clear: it does not switch sections
  kNoSeparator,     // no ";" between login and password
  kEmptyLogin,
  kSpecialChars,  // a special character, or a blank or full stop at either end
  kLoginTooLong,
  kEmptyPassword,  // nothing after the ";": no account is left without a password
  kPasswordTooLong,
};

struct CheckedLine {
  LineVerdict verdict = LineVerdict::kEmpty;
  std::string clear;     // the deciphered, trimmed line (UTF-8)
  std::string login;     // whole, not cut
  std::string password;  // whole, not cut
  // The clear text as the log may show it: the login stays, the password is
  // masked; a line that did not decipher shows nothing of itself.
  std::string masked;
};

// Deciphers and judges one trimmed line of a section.
[[nodiscard]] CheckedLine checkPasswordLine(std::string_view line);

// Resets the passwords of the section that follows a header, reading from
// reader until a clear text beginning with "@" or the end of the file.
// domainDn is the base below which users are found. Returns the clear text
// of the header line it stopped at (an empty text after a failed commit,
// which ends the section at once), or nullopt at the end of the file; the
// caller looks at that text for the next header.
std::optional<std::string> resetPasswords(Runtime& rt, JobReader& reader, ResetMode mode,
                                          const std::string& domainDn);

}  // namespace tv

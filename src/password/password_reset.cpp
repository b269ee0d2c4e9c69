#include "password/password_reset.h"

#include <vector>

#include "directory/directory.h"
#include "jobdata/job_reader.h"
#include "jobdata/job_text.h"
#include "password/password_line.h"
#include "ports/process_runner.h"
#include "runtime/runtime.h"
#include "scripts/script_hook.h"
#include "text/cipher.h"
#include "text/text.h"
#include "users/user_queries.h"

namespace tv {
namespace {

constexpr const char* kMask = "********";

// RC4 over bytes that were never enciphered under our key gives noise; noise
// shows itself by control characters, which no login or password holds (the
// C1 range is where the five bytes Windows-1252 leaves undefined end up).
bool looksLikeText(std::string_view utf8) {
  for (char32_t c : toCodePoints(utf8)) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return false;
  }
  return true;
}

bool refusedLogin(std::string_view login) {
  std::u32string cps = toCodePoints(login);
  for (char32_t c : cps) {
    if (isSpecialChar(c)) return true;
  }
  auto edge = [](char32_t c) { return c == U'.' || c == U' '; };
  return edge(cps.front()) || edge(cps.back());
}

bool wantsWindows(ResetMode mode) {
  return (static_cast<int>(mode) & 1) != 0;
}
bool wantsUniLogin(ResetMode mode) {
  return (static_cast<int>(mode) & 2) != 0;
}

// One line's outcome for the section: go on, or stop the section without the
// count line (a failed commit).
enum class Next { kGoOn, kStopSection };

Next resetWindows(Runtime& rt, DirObject& user, const CheckedLine& line) {
  const char* login = line.login.c_str();
  if (!rt.settings.IDrift) {
    rt.log.message(lvl::kFile, " IDrift = 0: Test af Windows password-skift for %s!\n", login);
    return Next::kGoOn;
  }
  rt.log.message(lvl::kFile, " Windows Login password skiftes for %s!\n", login);
  // A refused password (too weak, too short) leaves the old one in place: that
  // must not be reported as a change, and the account stays as it was.
  if (Hresult hr = user.setPassword(line.password); hr < 0) {
    rt.log.reportHresult(hr, "*** Fejl: AD ResetPasswords() - SetPassword()\n");
    return Next::kGoOn;
  }
  Hresult hr = user.unlock();
  if (hr >= 0) hr = user.setInfo();
  if (hr < 0) {
    rt.log.reportHresult(hr, "*** Fejl: AD ResetPasswords() - SetInfo()\n");
    return Next::kStopSection;
  }
  rt.log.message(lvl::kFile, "    AD password for %s blev ændret!\n", login);
  return Next::kGoOn;
}

void resetUniLogin(Runtime& rt, const CheckedLine& line) {
  const char* login = line.login.c_str();
  if (!rt.settings.IDrift) {
    rt.log.message(lvl::kFile, " IDrift = 0: Test af UNI-login password-skift for %s!\n", login);
    return;
  }
  rt.log.message(lvl::kFile, " Resetter UNI-login password for %s!\n", login);
  // Login and password are arguments of their own, never words of a command
  // line: a blank or a quote in a password stays part of the password.
  std::vector<std::string> argv{rt.dataPath(kUniLoginProgram), line.login, line.password};
  ProcessResult r;
  SystemError startError = systemError(std::errc::no_such_file_or_directory);  // nothing to start
  if (rt.ports.processes != nullptr) {
    r = rt.ports.processes->run(argv, rt.dataFolder);
    startError = platformError(r.startError);
  }
  if (!r.started) {
    Log::setLastError(startError);
    // Into the log file as well as the event log, so the job's log tells why
    // the UNI-login password was not changed.
    rt.log.message(lvl::kFile | lvl::kEvent | lvl::kSystemText, "CreateProcess(Lodsvaerk): ");
    return;
  }
  logEndedAfterStop(rt, r, kUniLoginProgram);
  if (rt.settings.LogLevel >= 9) {
    logWaitResult(rt.log, r.waitResult);
  }
  if (r.exitCode != 0 && r.exitCode != kStillActive) {
    rt.log.message(lvl::kFile, "** Fejl: CreateProcess(Lodsvaerk) - returkode fra program: %d\n",
                   static_cast<int>(r.exitCode));
  }
}

// Logs why a checked line is not reset; false when the line is a user to reset.
bool reportRefused(Runtime& rt, const CheckedLine& c, long lineNo) {
  const char* login = c.login.c_str();
  switch (c.verdict) {
    case LineVerdict::kUser:
    case LineVerdict::kEmpty:
    case LineVerdict::kHeader:
      return false;
    case LineVerdict::kUndecipherable:
      rt.log.message(lvl::kFile, "** Fejl: Reset: Linje %ld kan ikke dekrypteres.\n", lineNo);
      return true;
    case LineVerdict::kClearHeader:
      rt.log.message(lvl::kFile,
                     "** Fejl: Reset: Linje %ld (%s) er ikke krypteret og skifter ikke afsnit.\n",
                     lineNo, c.clear.c_str());
      return true;
    case LineVerdict::kNoSeparator:
      rt.log.message(lvl::kFile,
                     "** Fejl: Reset: Linje %ld mangler \";\" mellem brugernavn og password.\n",
                     lineNo);
      return true;
    case LineVerdict::kEmptyLogin:
      rt.log.message(lvl::kFile, "** Fejl: Reset: Linje %ld har intet brugernavn.\n", lineNo);
      return true;
    case LineVerdict::kSpecialChars:
      rt.log.message(lvl::kFile, "** Fejl: Reset: Navnet må ikke indeholde specialtegn. (%s)\n",
                     login);
      return true;
    case LineVerdict::kLoginTooLong:
      rt.log.message(lvl::kFile, "** Fejl: Reset: Navnet %s er længere end %zu tegn.\n", login,
                     kResetLoginChars);
      return true;
    case LineVerdict::kEmptyPassword:
      rt.log.message(lvl::kFile, "** Fejl: Reset: Intet nyt password for %s.\n", login);
      return true;
    case LineVerdict::kPasswordTooLong:
      rt.log.message(lvl::kFile, "** Fejl: Reset: Password for %s er længere end %zu tegn.\n",
                     login, kResetPasswordChars);
      return true;
  }
  return true;
}

}  // namespace

std::optional<ResetMode> passwordHeader(std::string_view line) {
  if (line.size() < 2 || !line.starts_with("@+")) return std::nullopt;
  std::string_view word = line.substr(2);
  if (word == "AD_PASS") return ResetMode::kWindows;
  if (word == "UNI_PASS") return ResetMode::kUniLogin;
  if (word == "AD_UNI_PASS") return ResetMode::kBoth;
  return std::nullopt;
}

CheckedLine checkPasswordLine(std::string_view line) {
  CheckedLine out;
  std::string_view raw = trimLine(line);
  if (raw.empty()) return out;
  // Only enciphered headers switch sections inside a job; one written in
  // clear would decipher into noise, so it is named for what it is.
  if (passwordHeader(raw)) {
    out.verdict = LineVerdict::kClearHeader;
    out.clear = std::string(raw);
    out.masked = out.clear;
    return out;
  }
  if (cipher::base64Decode(raw).empty()) {
    out.verdict = LineVerdict::kUndecipherable;
    return out;
  }
  PasswordLine decoded = decodePasswordLine(raw);
  if (decoded.clear.empty()) return out;  // an enciphered empty text
  if (decoded.header) {
    out.verdict = LineVerdict::kHeader;
    out.clear = decoded.clear;
    out.masked = decoded.clear;
    return out;
  }
  if (!looksLikeText(decoded.clear)) {
    out.verdict = LineVerdict::kUndecipherable;
    return out;
  }
  out.clear = decoded.clear;
  std::size_t semi = out.clear.find(';');
  if (semi == std::string::npos) {
    out.verdict = LineVerdict::kNoSeparator;
    out.masked = kMask;
    return out;
  }
  out.login = out.clear.substr(0, semi);
  out.password = out.clear.substr(semi + 1);
  out.masked = out.login + ";" + kMask;
  if (out.login.empty()) {
    out.verdict = LineVerdict::kEmptyLogin;
  } else if (refusedLogin(out.login)) {
    out.verdict = LineVerdict::kSpecialChars;
  } else if (charCount(out.login) > kResetLoginChars) {
    out.verdict = LineVerdict::kLoginTooLong;
  } else if (out.password.empty()) {
    out.verdict = LineVerdict::kEmptyPassword;
  } else if (charCount(out.password) > kResetPasswordChars) {
    out.verdict = LineVerdict::kPasswordTooLong;
  } else {
    out.verdict = LineVerdict::kUser;
  }
  return out;
}

std::optional<std::string> resetPasswords(Runtime& rt, JobReader& reader, ResetMode mode,
                                          const std::string& domainDn) {
  rt.log.message(lvl::kFile, " Resetter passwords:\n");
  int count = 0;
  JobLine line;
  std::optional<std::string> stoppedAt;
  while (reader.nextWhole(line)) {
    if (line.text.empty()) continue;
    CheckedLine c = checkPasswordLine(line.text);
    if (rt.settings.LogLevel > 9) {
      rt.log.message(lvl::kFile, "   Reset: Encoded til: %s\n", c.masked.c_str());
    }
    if (c.verdict == LineVerdict::kHeader) {
      stoppedAt = c.clear;
      break;
    }
    if (c.verdict == LineVerdict::kEmpty) continue;
    ++count;
    if (reportRefused(rt, c, line.number)) continue;

    DirResult<FoundUser> found;
    if (!domainDn.empty()) found = findUserByLogin(rt, domainDn, c.login);
    if (!found.ok() || !found.value.object || found.value.disabled) {
      rt.log.message(lvl::kFile, "    Reset: Kunne ikke finde brugeren %s!\n", c.login.c_str());
      continue;
    }
    if (wantsWindows(mode) && resetWindows(rt, *found.value.object, c) == Next::kStopSection) {
      return std::string();
    }
    if (wantsUniLogin(mode)) resetUniLogin(rt, c);
  }
  rt.log.message(lvl::kFile, "    Reset: %d brugere er behandlet.\n", count);
  return stoppedAt;
}

}  // namespace tv

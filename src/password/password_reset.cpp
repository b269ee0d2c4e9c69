#include "password/password_reset.h"

#include <vector>

#include "directory/directory.h"
#include "directory/escape.h"
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

// The population of an account, from where it lies; "" outside both. The
// current population of the locations belongs to the job thread.
std::string populationOf(const Runtime& rt, const std::string& dn) {
  const Trim& t = rt.trim;
  const std::string lower = toLower(dn);
  const auto below = [&lower](const std::string& container) {
    return !container.empty() && lower.ends_with("," + toLower(container));
  };
  if (below(t.MedarbejderPath)) return "Medarbejder";
  if (below(t.ElevPath)) return "Elev";
  return {};
}

// The row of a reset in the job's change report; never the password.
void recordReset(Runtime& rt, const std::string& population, const std::string& login,
                 const char* which, const ChangeResult& result) {
  rt.changes.record({population, login, ChangeAction::kPasswordReset, which, {}, {}}, result);
}

Next resetWindows(Runtime& rt, DirObject& user, const CheckedLine& line,
                  const std::string& population) {
  const char* login = line.login.c_str();
  const auto report = [&](const ChangeResult& result) {
    recordReset(rt, population, line.login, "Windows", result);
  };
  if (!rt.settings.IDrift) {
    rt.log.message(lvl::kFile, " IDrift = 0: Test af Windows password-skift for %s!\n", login);
    report(ChangeResult::test());
    return Next::kGoOn;
  }
  rt.log.message(lvl::kFile, " Windows Login password skiftes for %s!\n", login);
  // A refused password (too weak, too short) leaves the old one in place: that
  // must not be reported as a change, and the account stays as it was.
  if (Hresult hr = user.setPassword(line.password); hr < 0) {
    rt.log.reportHresult(hr, "*** Fejl: AD ResetPasswords() - SetPassword()\n");
    report(ChangeResult::of(hr));
    return Next::kGoOn;
  }
  Hresult hr = user.unlock();
  if (hr >= 0) hr = user.setInfo();
  report(ChangeResult::of(hr));
  if (hr < 0) {
    rt.log.reportHresult(hr, "*** Fejl: AD ResetPasswords() - SetInfo()\n");
    return Next::kStopSection;
  }
  rt.log.message(lvl::kFile, "    AD password for %s blev ændret!\n", login);
  return Next::kGoOn;
}

void resetUniLogin(Runtime& rt, const CheckedLine& line, const std::string& population) {
  const char* login = line.login.c_str();
  const auto report = [&](const ChangeResult& result) {
    recordReset(rt, population, line.login, "UNI-login", result);
  };
  if (!rt.settings.IDrift) {
    rt.log.message(lvl::kFile, " IDrift = 0: Test af UNI-login password-skift for %s!\n", login);
    report(ChangeResult::test());
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
    report(ChangeResult::refused("programmet kan ikke startes"));
    return;
  }
  logEndedAfterStop(rt, r, kUniLoginProgram);
  if (rt.settings.LogLevel >= 9) {
    logWaitResult(rt.log, r.waitResult);
  }
  if (r.exitCode != 0 && r.exitCode != kStillActive) {
    rt.log.message(lvl::kFile, "** Fejl: CreateProcess(Lodsvaerk) - returkode fra program: %d\n",
                   static_cast<int>(r.exitCode));
    report(ChangeResult::refused(format("returkode %d", static_cast<int>(r.exitCode))));
  } else {
    report(ChangeResult::done());
  }
}

// The account a password line names, below domainDn. A new password must
// reach the one person the register means: the account whose login
// (sAMAccountName) is the line's wins; an account that only has it as its
// name (cn) is taken only when it is the one account the search finds. how
// receives the line that tells which it was. E_FAIL when there is no such
// account.
DirResult<FoundUser> findResetAccount(Runtime& rt, const std::string& domainDn,
                                      const std::string& login, std::string& how) {
  DirResult<FoundUser> out;
  Directory* dir = rt.ports.directory;
  if (dir == nullptr || domainDn.empty()) return out;
  const std::string value = escapeFilterValue(login);
  const std::string filter = "(&(objectCategory=person)(objectClass=user)(|(cn=" + value +
                             ")(sAMAccountName=" + value + ")))";
  std::vector<std::string> attrs = {"ADsPath", "sAMAccountName"};
  for (const std::string& c : protectionColumns()) attrs.push_back(c);
  std::vector<SearchRow> rows;
  const Hresult hr = dir->search("LDAP://" + domainDn, filter, attrs, SearchScope::kSubtree, 20,
                                 [&rows](const SearchRow& row) {
                                   if (!row.first("ADsPath").empty()) rows.push_back(row);
                                   return true;
                                 });
  if (hr < 0 || rows.empty()) return out;
  const SearchRow* chosen = nullptr;
  for (const SearchRow& row : rows) {
    if (equalsIgnoreCase(row.first("sAMAccountName"), login)) chosen = &row;
  }
  if (chosen != nullptr) {
    how = format("    Reset: %s fundet som login (sAMAccountName).\n", login.c_str());
  } else if (rows.size() == 1) {
    chosen = &rows.front();
    how = format("    Reset: %s fundet som navn (cn) på kontoen med login %s.\n", login.c_str(),
                 chosen->first("sAMAccountName").c_str());
  } else {
    rt.log.message(lvl::kFile,
                   "** Fejl: Reset: %s er navn (cn) på %zu konti og login på ingen af dem.\n",
                   login.c_str(), rows.size());
    return out;
  }
  auto bound = dir->bind(chosen->first("ADsPath"));
  if (!bound.ok()) return out;
  out.hr = kSOk;
  out.value.object = std::move(bound.value);
  if (auto d = out.value.object->accountDisabled(); d.ok()) out.value.disabled = d.value;
  out.value.protection = accountProtection(*chosen);
  return out;
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
    if (reportRefused(rt, c, line.number)) {
      // Only a line that names a login can be told about; its password never.
      if (!c.login.empty()) {
        const char* why = c.verdict == LineVerdict::kSpecialChars    ? "specialtegn i login"
                          : c.verdict == LineVerdict::kLoginTooLong  ? "login for langt"
                          : c.verdict == LineVerdict::kEmptyPassword ? "intet nyt password"
                                                                     : "password for langt";
        recordReset(rt, {}, c.login, "", ChangeResult::refused(why));
      }
      continue;
    }

    std::string how;
    DirResult<FoundUser> found = findResetAccount(rt, domainDn, c.login, how);
    if (found.ok() && !found.value.protection.empty()) {
      refuseProtected(rt, "ResetPasswords", c.login, found.value.object->adsPath(),
                      found.value.protection);
      continue;
    }
    if (!found.ok() || !found.value.object || found.value.disabled) {
      rt.log.message(lvl::kFile, "    Reset: Kunne ikke finde brugeren %s!\n", c.login.c_str());
      recordReset(rt, {}, c.login, "", ChangeResult::refused("brugeren findes ikke"));
      continue;
    }
    rt.log.write(lvl::kFile, how);
    const std::string population = populationOf(rt, found.value.object->dn());
    if (wantsWindows(mode) &&
        resetWindows(rt, *found.value.object, c, population) == Next::kStopSection) {
      return std::string();
    }
    if (wantsUniLogin(mode)) resetUniLogin(rt, c, population);
  }
  rt.log.message(lvl::kFile, "    Reset: %d brugere er behandlet.\n", count);
  return stoppedAt;
}

}  // namespace tv

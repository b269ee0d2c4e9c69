#include "shares/share_paths.h"

#include "text/text.h"

namespace tv {

std::string userFolderPath(std::string_view root, std::string_view login, bool split,
                           std::string_view splitLetter) {
  std::string path(root);
  path += '\\';
  if (split) {
    path += splitLetter.empty() ? firstLetterUpper(login) : std::string(splitLetter);
    path += '\\';
  }
  path += login;
  return path;
}

std::string shareNameOf(std::string_view login, bool hidden) {
  std::string name(login);
  if (hidden) name += '$';
  return name;
}

std::string homeDirectoryOf(const Trim& trim, std::string_view login,
                            std::string_view splitLetter) {
  if (trim.shareMode == 1) {
    return "\\\\" + shareServer(trim.shareRoot) + "\\" + shareNameOf(login, trim.hideShare);
  }
  return userFolderPath(trim.shareRoot, login, trim.alphaShare, splitLetter);
}

std::string shareContainerPath(std::string_view server) {
  return "WinNT://" + std::string(server) + "/lanmanServer";
}

std::string firstLetterUpper(std::string_view login) {
  std::u32string cps = toCodePoints(login);
  if (cps.empty()) return "";
  std::string out;
  appendUtf8(out, upperChar(cps.front()));
  return out;
}

bool isFolderName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/") == std::string_view::npos;
}

namespace {

std::string comparable(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out += c;
  }
  return out;
}

bool hasDrive(std::string_view p) {
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

}  // namespace

bool sameSharePath(std::string_view wanted, std::string_view reported) {
  if (!hasDrive(wanted) && hasDrive(reported) && reported.size() > 2 &&
      (reported[2] == '\\' || reported[2] == '/')) {
    reported.remove_prefix(2);
  }
  return comparable(wanted) == comparable(reported);
}

}  // namespace tv

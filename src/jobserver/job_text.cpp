#include "jobserver/job_text.h"

#include "text/text.h"

namespace tv::jobserver {

std::optional<std::string> tokenMember(std::string_view response, std::string_view name) {
  std::string key = "\"" + std::string(name) + "\":\"";
  auto at = response.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  auto start = at + key.size();
  auto end = response.find('"', start);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view value = response.substr(start, end - start);
  for (char c : value) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return std::nullopt;
  }
  return std::string(value);
}

std::optional<Token> readToken(std::string_view response) {
  auto type = tokenMember(response, "token_type");
  if (!type) return std::nullopt;
  auto access = tokenMember(response, "access_token");
  if (!access) return std::nullopt;
  return Token{std::move(*type), std::move(*access)};
}

std::string JobItem::fileName() const {
  return (password ? "kodevalt-" : "brovalt-") + id + ".dat";
}

std::vector<JobItem> readJobList(std::string_view list) {
  std::vector<JobItem> items;
  for (const auto& piece : split(list, ',')) {
    std::string_view item = trim(piece);
    JobItem job;
    auto pwd = item.find("pwd");
    if (pwd != std::string_view::npos) {
      job.password = true;
      item = trim(item.substr(0, pwd));
    }
    if (item.empty()) continue;
    job.id = std::string(item);
    items.push_back(std::move(job));
  }
  return items;
}

bool safeJobId(std::string_view id) {
  for (char c : id) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '/' || c == '\\') return false;
  }
  return !id.empty() && id != "." && id != "..";
}

std::string queryValue(std::string_view id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : id) {
    auto b = static_cast<unsigned char>(c);
    bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return out;
}

std::string jobFileBytes(std::string_view utf8) {
  return utf8ToCp1252(utf8);
}

std::optional<std::string> uploadJobId(std::string_view baseName) {
  for (std::string_view prefix : {std::string_view("kodevalt-"), std::string_view("brovalt-")}) {
    auto at = baseName.find(prefix);
    if (at != std::string_view::npos) return std::string(baseName.substr(at + prefix.size()));
  }
  return std::nullopt;
}

std::string uploadBody(std::string_view id, std::string_view logUtf8) {
  std::string body;
  body.reserve(id.size() + logUtf8.size() + 21);
  body.append("brovaltId=").append(id).append("&loglinjer=").append(logUtf8);
  return body;
}

}  // namespace tv::jobserver

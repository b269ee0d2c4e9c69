// Fuzz target for the texts the job server hands the client: the token
// endpoint's answer, the job list and the job content. Any byte string must
// give a token only in the endpoint's exact form, job ids that stay inside the
// data folder, and a job file no longer than the answer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "jobserver/job_text.h"

namespace tv::fuzz {

inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

inline bool plainHeaderText(std::string_view s) {
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '"') return false;
  }
  return true;
}

inline int tokenResponseOne(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  if (auto token = jobserver::readToken(text)) {
    check(plainHeaderText(token->type) && plainHeaderText(token->access));
    check(text.find("\"token_type\":\"" + token->type + "\"") != std::string_view::npos);
    check(text.find("\"access_token\":\"" + token->access + "\"") != std::string_view::npos);
  }

  for (const auto& job : jobserver::readJobList(text)) {
    check(!job.id.empty() && job.id.find(',') == std::string::npos);
    check(job.password || job.id.find("pwd") == std::string::npos);
    std::string name = job.fileName();
    check(name.rfind(job.password ? "kodevalt-" : "brovalt-", 0) == 0);
    if (jobserver::safeJobId(job.id)) {
      check(name.find('/') == std::string::npos && name.find('\\') == std::string::npos);
    }
    for (char c : jobserver::queryValue(job.id)) {
      bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.' || c == '_' || c == '~' || c == '%';
      check(plain);
    }
  }

  check(jobserver::jobFileBytes(text).size() <= text.size());
  if (auto id = jobserver::uploadJobId(text)) check(id->size() < text.size());
  return 0;
}

}  // namespace tv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tv::fuzz::tokenResponseOne(data, size);
}

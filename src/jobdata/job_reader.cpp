#include "jobdata/job_reader.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace {

bool cWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether s is well-formed UTF-8 (so a file with a byte order mark can still
// carry a stray Windows-1252 line and have it read right).
bool validUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;
    if (c >= 0x80) {
      if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
        len = 2;
      } else if ((c & 0xF0) == 0xE0) {
        len = 3;
      } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
        len = 4;
      } else {
        return false;
      }
      if (i + len > s.size()) return false;
      for (std::size_t k = 1; k < len; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
      }
    }
    i += len;
  }
  return true;
}

// UTF-16 text (after its byte order mark) as UTF-8; an unpaired surrogate
// becomes U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](std::size_t i) -> char32_t {
    auto a = static_cast<unsigned char>(bytes[i]);
    auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : u);
  }
  return out;
}

}  // namespace

std::string_view trimLine(std::string_view s) {
  while (!s.empty() && cWhite(s.front())) s.remove_prefix(1);
  while (!s.empty() && cWhite(s.back())) s.remove_suffix(1);
  return s;
}

JobReader::JobReader(Log& log, std::string bytes, std::string name)
    : log_(log), bytes_(std::move(bytes)), name_(std::move(name)) {
  auto startsWithBytes = [&](std::string_view mark) { return bytes_.starts_with(mark); };
  if (startsWithBytes("\xEF\xBB\xBF")) {
    start_ = 3;
    utf8_ = true;
    log_.message(lvl::kFile,
                 "** Info: %s begynder med et UTF-8-mærke (BOM); filen læses som UTF-8.\n",
                 name_.c_str());
  } else if (startsWithBytes("\xFF\xFE") || startsWithBytes("\xFE\xFF")) {
    bool big = bytes_[0] == '\xFE';
    bytes_ = utf16ToUtf8(std::string_view(bytes_).substr(2), big);
    utf8_ = true;
    log_.message(lvl::kFile, "** Info: %s er skrevet i UTF-16; filen læses om til UTF-8.\n",
                 name_.c_str());
  }
  pos_ = start_;
}

std::optional<JobReader> JobReader::open(Log& log, const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path file = pathFromUtf8(path);
  std::error_code ec;
  const char* why = nullptr;
  if (fs::is_symlink(fs::symlink_status(file, ec))) {
    // A job is a file dropped into the data folder, never a way to read
    // another file of the machine into the log.
    why = "det er et symbolsk link, som ikke følges";
  } else if (!fs::exists(file, ec)) {
    why = "filen findes ikke";
  } else if (fs::is_directory(file, ec)) {
    why = "det er en mappe";
  }
  std::string bytes;
  if (why == nullptr) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      why = "filen kan ikke læses";
    } else {
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad()) why = "filen kan ikke læses";
    }
  }
  if (why != nullptr) {
    log.message(lvl::kFile, "** Fejl: Jobfilen %s kan ikke åbnes: %s\n", path.c_str(), why);
    return std::nullopt;
  }
  return JobReader(log, std::move(bytes), path);
}

bool JobReader::readRaw(std::string& bytes, JobLine& line) {
  if (pos_ >= bytes_.size()) return false;
  std::size_t length = 0;
  int nuls = 0;
  bool ended = false;
  while (pos_ < bytes_.size() && length < kJobPieceChars) {
    char c = bytes_[pos_];
    if (c == '\r' && pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '\n') {
      ++pos_;  // text mode: CR LF is one line break
      continue;
    }
    ++pos_;
    ++length;
    if (c == '\0') {
      ++nuls;
      continue;
    }
    bytes.push_back(c);
    if (c == '\n') {
      ended = true;
      break;
    }
  }
  line.continued = midLine_;
  line.cut = !ended && pos_ < bytes_.size();
  midLine_ = line.cut;
  if (!line.continued) ++lineNo_;
  line.number = lineNo_;
  line.rawLength = length;
  if (nuls > 0) {
    log_.message(lvl::kFile, "** Fejl: Linje %ld i %s indeholder %d NUL-tegn; de er fjernet.\n",
                 lineNo_, name_.c_str(), nuls);
  }
  return true;
}

std::string JobReader::convert(std::string_view raw) const {
  std::string_view trimmed = trimLine(raw);
  return utf8_ && validUtf8(trimmed) ? std::string(trimmed) : cp1252ToUtf8(trimmed);
}

bool JobReader::next(JobLine& line) {
  std::string raw;
  if (!readRaw(raw, line)) return false;
  line.text = convert(raw);
  return true;
}

bool JobReader::nextWhole(JobLine& line) {
  // The pieces are joined before trimming and converting, so that a blank or
  // a multi-byte character at a piece border survives.
  std::string raw;
  JobLine piece;
  if (!readRaw(raw, piece)) return false;
  const long number = piece.number;
  std::size_t rawLength = piece.rawLength;
  while (piece.cut && readRaw(raw, piece)) rawLength += piece.rawLength;
  if (rawLength > kJobPieceChars) {
    log_.message(lvl::kFile,
                 "** Info: Linje %ld i %s er længere end %zu tegn; den læses som én linje.\n",
                 number, name_.c_str(), kJobPieceChars);
  }
  line.continued = false;
  line.cut = false;
  line.number = number;
  line.rawLength = rawLength;
  line.text = convert(raw);
  return true;
}

void JobReader::seek(std::int64_t position) {
  std::size_t p = position < 0 ? start_ : static_cast<std::size_t>(position);
  if (p < start_) p = start_;
  if (p > bytes_.size()) p = bytes_.size();
  pos_ = p;
  midLine_ = false;
  lineNo_ = 0;
  for (std::size_t i = start_; i < p; ++i) {
    if (bytes_[i] == '\n') ++lineNo_;
  }
}

JobHeader parseJobHeader(std::string_view line) {
  if (line.size() < 2 || line[0] != '@') return JobHeader::kNone;
  char kind = line[1];
  std::string_view word = line.substr(2);
  if (kind == '+' || kind == '-') {
    bool create = kind == '+';
    if (word == "MEDA") return create ? JobHeader::kCreateMeda : JobHeader::kRemoveMeda;
    if (word == "PERS") return create ? JobHeader::kCreatePers : JobHeader::kRemovePers;
  } else if (kind == '*') {
    if (word == "MEDA") return JobHeader::kSyncMeda;
    if (word == "PERS") return JobHeader::kSyncPers;
    if (word == "SEKVENS") return JobHeader::kSequence;
    if (word == "SKOLE") return JobHeader::kSchool;
  }
  return JobHeader::kUnknown;
}

std::string sequenceValue(std::string_view line) {
  return cutChars(trimLine(line), 7);
}

std::string schoolName(std::string_view line) {
  return cutChars(trimLine(line), 99);
}

}  // namespace tv

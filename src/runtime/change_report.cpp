#include "runtime/change_report.h"

#include <filesystem>

#include "log/log.h"
#include "ports/local_files.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace {

bool formulaStart(char c) {
  return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r' || c == '\n';
}

bool needsQuotes(std::string_view v) {
  if (v.empty()) return false;
  if (v.front() == ' ' || v.back() == ' ') return true;
  return v.find_first_of(";\"\r\n") != std::string_view::npos;
}

}  // namespace

const char* changeActionText(ChangeAction action) {
  switch (action) {
    case ChangeAction::kCreate:
      return "opret";
    case ChangeAction::kEnable:
      return "genaktiver";
    case ChangeAction::kUpdate:
      return "opdater";
    case ChangeAction::kDeactivate:
      return "nedlæg";
    case ChangeAction::kArchive:
      return "arkiver";
    case ChangeAction::kRename:
      return "omdøb";
    case ChangeAction::kGroupAdd:
      return "gruppe ind";
    case ChangeAction::kGroupRemove:
      return "gruppe ud";
    case ChangeAction::kPasswordReset:
      return "nulstil password";
  }
  return "";
}

ChangeResult ChangeResult::of(Hresult hr) {
  if (hr >= 0) return done();
  const auto u = static_cast<std::uint32_t>(hr);
  std::string text = adsErrorText(hr);
  if (text.empty() && ((u >> 16) & 0x1FFF) == 7) text = win32ErrorText(u & 0xFFFF);
  std::string why = format("0x%08X", u);
  if (std::string_view t = trim(text); !t.empty()) why += " " + std::string(t);
  return refused(why);
}

std::string csvField(std::string_view value) {
  std::string v;
  if (!value.empty() && formulaStart(value.front())) v = "'";
  v += value;
  if (!needsQuotes(v)) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string changeRow(const Change& c, const ChangeResult& result) {
  std::string row;
  for (std::string_view field :
       {c.population, c.login, std::string_view(changeActionText(c.action)), c.attribute,
        c.oldValue, c.newValue}) {
    row += csvField(field);
    row += ';';
  }
  row += csvField(result.text());
  row += "\r\n";
  return row;
}

std::string changeReportName(std::string_view jobBase) {
  return std::string(jobBase) + std::string(kChangeReportSuffix);
}

ChangeReport::~ChangeReport() {
  for (auto& [thread, open] : open_) close(open);
}

void ChangeReport::begin(const std::string& path, LocalFiles* files) {
  std::lock_guard lock(mutex_);
  auto [it, fresh] = open_.try_emplace(std::this_thread::get_id());
  if (!fresh) close(it->second);
  Open& open = it->second;
  open.path = path;
  open.files = files;
  SystemError error;
  if (files != nullptr) {
    // Removing the old report first removes a link standing there, never
    // its target; the open then refuses a link placed in between.
    std::error_code ignored;
    std::filesystem::remove(pathFromUtf8(path), ignored);
    LocalFiles::Opened o = files->openAppend(path);
    open.file = o.file;
    error = o.error;
  } else {
    open.file = openFile(path, "w");
    if (open.file == nullptr) error = lastCLibraryError();
  }
  if (open.file != nullptr && std::fwrite(kChangeReportHeader.data(), 1, kChangeReportHeader.size(),
                                          open.file) != kChangeReportHeader.size()) {
    error = lastCLibraryError();
  }
  if (error) {
    Log::setLastError(error);
    log_.message(lvl::kFile | lvl::kEvent | lvl::kError | lvl::kSystemText,
                 "** Fejl: Ændringsrapporten \"%s\" kan ikke skrives: ", path.c_str());
    if (open.file != nullptr) std::fclose(open.file);
    open_.erase(it);
  }
}

void ChangeReport::record(const Change& change, const ChangeResult& result) {
  std::lock_guard lock(mutex_);
  auto it = open_.find(std::this_thread::get_id());
  if (it == open_.end()) return;
  const std::string row = changeRow(change, result);
  if (it->second.holding) {
    it->second.held += row;
    return;
  }
  // A failed write shows in the stream's error flag, which end() reports.
  (void)std::fwrite(row.data(), 1, row.size(), it->second.file);
}

void ChangeReport::hold() {
  setHold(true, false);
}

void ChangeReport::releaseHeld() {
  setHold(false, true);
}

void ChangeReport::dropHeld() {
  setHold(false, false);
}

void ChangeReport::setHold(bool holding, bool writeHeld) {
  std::lock_guard lock(mutex_);
  auto it = open_.find(std::this_thread::get_id());
  if (it == open_.end()) return;
  Open& open = it->second;
  if (writeHeld) (void)std::fwrite(open.held.data(), 1, open.held.size(), open.file);
  open.holding = holding;
  open.held.clear();
}

void ChangeReport::end() {
  std::lock_guard lock(mutex_);
  auto it = open_.find(std::this_thread::get_id());
  if (it == open_.end()) return;
  close(it->second);
  open_.erase(it);
}

void ChangeReport::close(Open& open) {
  if (open.file == nullptr) return;
  const bool failed = std::ferror(open.file) != 0;
  SystemError closeError;
  if (open.files != nullptr) {
    closeError = open.files->finish(open.file);
  } else if (std::fclose(open.file) != 0) {
    closeError = lastCLibraryError();
  }
  if (failed || closeError) {
    Log::setLastError(failed ? systemError(std::errc::io_error) : closeError);
    log_.message(lvl::kFile | lvl::kEvent | lvl::kError | lvl::kSystemText,
                 "** Fejl: Ændringsrapporten \"%s\" blev ikke skrevet helt: ", open.path.c_str());
  }
  open.file = nullptr;
}

}  // namespace tv

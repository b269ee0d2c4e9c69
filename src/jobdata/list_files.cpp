#include "jobdata/list_files.h"

#include <cstdio>

#include "jobdata/job_reader.h"
#include "ports/local_files.h"
#include "text/paths.h"
#include "text/text.h"

namespace tv {
namespace {

// No error on success, else why the open or the write failed.
SystemError appendBytes(Runtime& rt, const std::string& path, const std::string& bytes) {
  std::FILE* f = nullptr;
  if (rt.ports.localFiles != nullptr) {
    LocalFiles::Opened o = rt.ports.localFiles->openAppend(path);
    if (o.file == nullptr) return o.error ? o.error : systemError(std::errc::io_error);
    f = o.file;
  } else {
    f = openFile(path, "a+");
  }
  if (f == nullptr) {
    const SystemError error = lastCLibraryError();
    return error ? error : systemError(std::errc::io_error);
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? SystemError() : systemError(std::errc::io_error);
}

}  // namespace

int appendToListFile(Runtime& rt, std::string_view fileName, std::string_view text) {
  const std::string bytes = utf8ToCp1252(text);
  const std::string path = rt.dataPath(std::string(fileName));
  SystemError listError;
  SystemError fallbackError;
  {
    std::lock_guard lock(rt.fileAppendLock);
    listError = appendBytes(rt, path, bytes);
    if (listError) {
      fallbackError = appendBytes(rt, rt.dataPath(std::string(kListFallbackFile)), bytes);
    }
  }
  if (!listError) return 0;
  if (!fallbackError) {
    rt.log.message(lvl::kFile,
                   "** Fejl: Listefilen %s kan ikke åbnes (%s); linjen er skrevet i %s\n",
                   std::string(fileName).c_str(), fileErrorText(rt.log, listError).c_str(),
                   std::string(kListFallbackFile).c_str());
    return 0;
  }
  rt.log.message(lvl::kFile,
                 "** Fejl: Hverken listefilen %s eller %s kan åbnes (%s); linjen er tabt: %s\n",
                 std::string(fileName).c_str(), std::string(kListFallbackFile).c_str(),
                 fileErrorText(rt.log, fallbackError).c_str(), std::string(trimLine(text)).c_str());
  return 99;
}

int appendListLine(Runtime& rt, std::string_view listName, std::string_view text) {
  std::string line(text);
  line.push_back('\n');
  return appendToListFile(rt, listFileName(listName, rt.job.sequence), line);
}

}  // namespace tv

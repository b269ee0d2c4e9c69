// What every executable does once it has made its platform's adapters: the
// log, the ports and the runtime over them, the directory before the
// settings load (which asks it for the domain's names), the file server
// after it (it needs the settings), and the entry with the command line.
// main.cpp and windows_main.cpp differ only in the adapters they hand over.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/app/directory_choice.h"
#include "ports/event_log.h"
#include "ports/file_server.h"
#include "runtime/runtime.h"
#include "service/command_line.h"

namespace tv {

struct PlatformAdapters {
  Clock* clock = nullptr;
  EventLog* events = nullptr;
  SystemInfo* system = nullptr;
  ProcessRunner* processes = nullptr;
  LocalFiles* localFiles = nullptr;
  InstallKeys* keys = nullptr;
  HttpClient* http = nullptr;
  ServiceHost* host = nullptr;
};

// The file server for the settings' FileServerCredentials, or null with the
// reason in *why.
using FileServerOpener =
    std::function<std::unique_ptr<FileServer>(const std::string& credentials, std::string* why)>;

[[nodiscard]] int runProgram(const CommandLine& cl, bool console, const PlatformAdapters& adapters,
                             DirectoryChoice& directory, const FileServerOpener& openFileServer);

}  // namespace tv

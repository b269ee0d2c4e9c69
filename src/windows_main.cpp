// The Windows executable: wires the Windows adapters into the runtime and
// hands the command line, as UTF-8, to the entry. Everything the program does
// is decided there; the build picks this file or main.cpp by platform.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/app/directory_choice.h"
#include "platform/app/program.h"
#include "platform/windows/process_facts.h"
#include "platform/windows/registry_keys.h"
#include "platform/windows/service_control.h"
#include "platform/windows/win_file_server.h"
#include "platform/windows/windows_clock.h"
#include "platform/windows/windows_event_log.h"
#include "platform/windows/windows_local_files.h"
#include "platform/windows/windows_process_runner.h"
#include "platform/windows/windows_system_info.h"
#include "platform/windows/winhttp_client.h"
#include "platform/windows/wldap32_directory.h"
#include "service/command_line.h"

// The service runs the copy the admin put into the system folder, whatever
// copy installed it; the event source's message file lies next to it.
constexpr const char* kServiceImage = "%SystemRoot%\\System32\\Tavlevagt.exe";

int wmain(int argc, wchar_t** argv) {
  const tv::CommandLine cl = tv::parseCommandLine(tv::win::utf8Arguments(argc, argv));
  const bool console = tv::win::standardOutputIsConsole();

  tv::win::WindowsClock clock;
  tv::win::WindowsEventLog events;
  tv::win::WindowsSystemInfo system;
  tv::win::WindowsProcessRunner processes;
  tv::win::WindowsLocalFiles localFiles;
  tv::win::RegistryKeys keys;
  tv::win::WinHttpClient http;
  // The directory over wldap32: the configured servers, or without one a
  // domain controller of the machine's domain; outside a domain the snapshot.
  tv::DirectoryChoice directory(tv::openWldapDirectory,
                                [] { return tv::findDomainController().has_value(); });

  tv::win::WindowsServiceHost::Options hostOptions;
  hostOptions.command = {kServiceImage};
  tv::win::WindowsServiceHost host(hostOptions);

  const tv::PlatformAdapters adapters{&clock,      &events, &system, &processes,
                                      &localFiles, &keys,   &http,   &host};
  // Windows reaches the file server as the service's own account; a
  // credentials file is refused with its reason.
  return tv::runProgram(cl, console, adapters, directory,
                        [](const std::string& credentials, std::string* why) {
                          return tv::openWinFileServer(tv::WinFileServerSettings{credentials}, why);
                        });
}

// The Windows executable: wires the Windows adapters into the runtime and
// hands the command line, as UTF-8, to the entry. Everything the program does
// is decided there; the build picks this file or main.cpp by platform.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "jobserver/job_server_client.h"
#include "password/password_jobs.h"
#include "platform/app/directory_choice.h"
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
#include "runtime/job_server.h"
#include "runtime/runtime.h"
#include "runtime/settings_loader.h"
#include "service/command_line.h"
#include "service/job_dispatch.h"
#include "service/service_main.h"

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
  tv::JobServerClient jobServer;
  // The directory over wldap32: the configured servers, or without one a
  // domain controller of the machine's domain; outside a domain the snapshot.
  tv::DirectoryChoice directory(tv::openWldapDirectory,
                                [] { return tv::findDomainController().has_value(); });

  tv::win::WindowsServiceHost::Options hostOptions;
  hostOptions.command = {kServiceImage};
  tv::win::WindowsServiceHost host(hostOptions);

  tv::Log log(tv::Log::Options{"", "Tavlevagt.log", &clock, &events, &system, console, stderr,
                               &localFiles});
  tv::Ports ports;
  ports.processes = &processes;
  ports.clock = &clock;
  ports.system = &system;
  ports.keys = &keys;
  ports.jobServer = &jobServer;
  ports.http = &http;
  ports.host = &host;
  ports.localFiles = &localFiles;
  tv::Runtime rt(log, ports, "");
  // A fatal data error ends the process in the middle of a job; what the job
  // wrote to the snapshot so far is kept, as a domain controller keeps it.
  rt.fatalExit = directory.savingBefore([](int code) { std::exit(code); });

  tv::EntryHooks hooks;
  hooks.handler = [](tv::Runtime& r, const std::string& fileName) {
    (void)tv::handleSyncFile(r, fileName);
  };
  hooks.passwordWatch = [](tv::Runtime& r) { tv::passwordWatchLoop(r); };
  // The directory is opened first: the settings load asks it for the domain's
  // names. The file server needs the settings (a credentials file, which
  // Windows refuses), so it comes after.
  std::unique_ptr<tv::WinFileServer> files;
  hooks.loadSettings = [&directory, &files](tv::Runtime& r) {
    directory.open(r);
    const int result = tv::loadSettings(r);
    std::string why;
    files =
        tv::openWinFileServer(tv::WinFileServerSettings{r.settings.FileServerCredentials}, &why);
    r.ports.files = files.get();
    if (!files) r.log.message(1, "** Fejl: Filserveren kan ikke nås: %s\n", why.c_str());
    return result;
  };
  return tv::runEntry(rt, cl, hooks);
}

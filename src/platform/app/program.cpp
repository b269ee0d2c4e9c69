#include "platform/app/program.h"

#include <cstdio>
#include <cstdlib>

#include "jobserver/job_server_client.h"
#include "password/password_jobs.h"
#include "runtime/job_server.h"
#include "runtime/settings_loader.h"
#include "service/job_dispatch.h"
#include "service/service_main.h"

namespace tv {

int runProgram(const CommandLine& cl, bool console, const PlatformAdapters& adapters,
               DirectoryChoice& directory, const FileServerOpener& openFileServer) {
  JobServerClient jobServer;
  Log log(Log::Options{"", "Tavlevagt.log", adapters.clock, adapters.events, adapters.system,
                       console, stderr, adapters.localFiles});
  Ports ports;
  ports.processes = adapters.processes;
  ports.clock = adapters.clock;
  ports.system = adapters.system;
  ports.keys = adapters.keys;
  ports.jobServer = &jobServer;
  ports.http = adapters.http;
  ports.host = adapters.host;
  ports.localFiles = adapters.localFiles;
  Runtime rt(log, ports, "");
  // A fatal data error ends the process in the middle of a job; what the job
  // wrote to the snapshot so far is kept, as a domain controller keeps it.
  rt.fatalExit = directory.savingBefore([](int code) { std::exit(code); });

  EntryHooks hooks;
  hooks.handler = [](Runtime& r, const std::string& fileName) {
    (void)handleSyncFile(r, fileName);
  };
  hooks.passwordWatch = [](Runtime& r) { passwordWatchLoop(r); };
  std::unique_ptr<FileServer> files;
  hooks.loadSettings = [&directory, &files, &openFileServer](Runtime& r) {
    directory.open(r);
    const int result = loadSettings(r);
    std::string why;
    files = openFileServer(r.settings.FileServerCredentials, &why);
    r.ports.files = files.get();
    if (!files) r.log.message(1, "** Fejl: Filserveren kan ikke nås: %s\n", why.c_str());
    return result;
  };
  return runEntry(rt, cl, hooks);
}

}  // namespace tv

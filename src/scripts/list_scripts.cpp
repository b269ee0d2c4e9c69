#include "scripts/list_scripts.h"

#include "runtime/data_folder.h"
#include "runtime/runtime.h"
#include "scripts/script_hook.h"

namespace tv {

void runListScripts(Runtime& rt) {
  struct ListScript {
    bool changed;
    const char* list;
    const std::string& script;
    const char* label;
  };
  // The order and the labels are the ones the schools' scripts and logs know;
  // the two always-lists share the pupil mail label.
  const ListScript lists[] = {
      {rt.job.medaMailListChanged, "MedaMailListe", rt.settings.OpretMailMedaListScript,
       "OpretMailMedaListScript:"},
      {rt.job.elevMailListChanged, "ElevMailListe", rt.settings.OpretMailElevListScript,
       "OpretMailElevListScript:"},
      {rt.job.elevListChanged, "RunScriptAlwaysElevListe", rt.settings.RunScriptAlwaysElevList,
       "OpretMailElevListScript:"},
      {rt.job.medaListChanged, "RunScriptAlwaysMedaListe", rt.settings.RunScriptAlwaysMedaList,
       "OpretMailElevListScript:"},
  };
  for (const ListScript& l : lists) {
    if (!l.changed || l.script.empty()) continue;
    // The very name the job's lines were appended to.
    runScript(rt, l.script, listFileName(l.list, rt.job.sequence), l.label);
  }
  rt.job.medaMailListChanged = false;
  rt.job.elevMailListChanged = false;
  rt.job.medaListChanged = false;
  rt.job.elevListChanged = false;
}

}  // namespace tv

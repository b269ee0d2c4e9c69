#include "mail/mail_enabling.h"

#include "jobdata/list_files.h"
#include "scripts/script_hook.h"

namespace tv {

void handToMailScripts(Runtime& rt, const std::string& login) {
  const Settings& s = rt.settings;
  const bool staff = rt.trim.staff;
  const std::string& script = staff ? s.OpretMailMedaScript : s.OpretMailElevScript;
  const std::string& listScript = staff ? s.OpretMailMedaListScript : s.OpretMailElevListScript;
  if (!script.empty()) {
    runScript(rt, script, login, staff ? "OpretMailMedaScript:" : "OpretMailElevScript:");
  }
  if (!listScript.empty()) {
    (staff ? rt.job.medaMailListChanged : rt.job.elevMailListChanged) = true;
    (void)appendListLine(rt, staff ? "MedaMailListe" : "ElevMailListe", login);
  }
}

void checkMailbox(Runtime& rt, const std::string& login, DirObject& object) {
  if (object.get("mail").ok()) return;
  if (object.get("homeMDB").ok()) return;
  handToMailScripts(rt, login);
}

}  // namespace tv

// The end-of-job list scripts: after a sync job file, every list file that the
// job added lines to ("MedaMailListe-<sequence>.txt" …) is handed to its
// configured script, and the list-changed flags are cleared for the next file.
#pragma once

namespace tv {

struct Runtime;

void runListScripts(Runtime& rt);

}  // namespace tv

#include "launcher/launcher_app.h"

namespace qz {

// The avatar module check and the run modes follow start-up; until they are in
// place the launcher ends here with "nothing to do".
int RunModes(LauncherApp&) { return 1; }

}  // namespace qz

// Steps of a run whose subsystems are not part of this program yet. Each
// reports that it did nothing, so that no run looks as if it had done work it
// could not do. A subsystem that arrives removes its entries here.
#include "backdrop/backdrop.h"
#include "base/run_state.h"
#include "wizard/messages.h"
#include "wizard/wizard.h"

// No wizard yet: creating the windows fails, which ends the run with -1.
int RegisterBackdropClass() { return 1; }
int CreateMainWindows() { return 0; }
void RunWizard() {}
int AskRestart() { return 2; }

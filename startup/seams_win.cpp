// The one place where the layers meet: each seam gets its provider.
#include "startup/seams.h"

#include "backdrop/backdrop.h"
#include "base/user_interface.h"
#include "engine/data_source.h"
#include "engine/install.h"
#include "engine/integration_seam.h"
#include "engine/run_entries.h"
#include "integration/self_register.h"
#include "integration/shortcuts.h"
#include "package/reader_seam.h"
#include "paths/variables.h"
#include "wizard/formatted_text.h"
#include "wizard/messages.h"
#include "wizard/wizard.h"

void ConnectSeams() {
  Reader.openNextVolume = OpenNextVolume;
  Reader.expandVariables = ExpandVariables;
  UserInterface wizard = {WizardShowMessage, WizardPumpWhileReading, WizardShowProgress,
                          WizardShowCurrentFile};
  ConnectUserInterface(wizard);
  Integration.createShortcuts = CreateShortcuts;
  Integration.selfRegister = SelfRegister;
  Integration.callRegisterServer = CallRegisterServer;
  // Links of formatted texts open as documents do.
  OpenLinkTarget = OpenDocument;
  FrameProcedure = FrameProc;
  MoveToFinishPage = JumpToFinishPage;
}

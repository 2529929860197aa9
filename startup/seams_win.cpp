// The one place where the layers meet: each seam gets its provider.
#include "startup/seams.h"

#include "backdrop/backdrop.h"
#include "base/user_interface.h"
#include "engine/data_source.h"
#include "engine/install.h"
#include "package/reader_seam.h"
#include "paths/variables.h"
#include "wizard/messages.h"
#include "wizard/wizard.h"

void ConnectSeams() {
  Reader.openNextVolume = OpenNextVolume;
  Reader.expandVariables = ExpandVariables;
  UserInterface wizard = {WizardShowMessage, WizardPumpWhileReading, WizardShowProgress,
                          WizardShowCurrentFile};
  ConnectUserInterface(wizard);
  FrameProcedure = FrameProc;
  MoveToFinishPage = JumpToFinishPage;
}

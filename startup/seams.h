// The wiring of the layers: startup hands each lower layer the calls it
// makes upward (the package reader's seam, the user interface seam, the
// engine's calls into the system integration).
#pragma once

// Connects every seam to its provider: the reader to the engine's data
// volumes and the folder variables, the user interface to the wizard's
// message boxes, pump and progress display, the engine to the shortcuts
// and the self-registration of components. Called first thing in a run,
// before anything can call through a seam (the Windows tests call it too).
void ConnectSeams();

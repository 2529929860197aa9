// The backdrop window behind the wizard: the program's top-level window,
// full-screen or a small captioned window, which also answers the
// single-instance probe of a second start. Windows only.
#pragma once

#include <windows.h>

#include "base/format.h"

// The window class of the backdrop; a second start finds the first by it.
static const char BackdropClassName[] = "SetrunClass";
// The single-instance probe, sent to a window of the backdrop class; the
// answer is the instance key of the program that owns it.
static const u32 InstanceProbeMessage = 0x8001;  // WM_APP + 1
static const u32 InstanceProbeWParam = 1;
static const u32 InstanceProbeLParam = 2;

// Registers the backdrop's window class. Nonzero on success.
int RegisterBackdropClass();
// Creates the backdrop window (BackdropWindow) and the wizard's frame dialog
// (FrameDialog) as the layout record asks, and shows them. 1 on success; 0
// with nothing left behind.
int CreateMainWindows();

// Seam: the dialog procedure of the wizard's frame, which the backdrop
// creates but does not own. Connected by startup.
extern DLGPROC FrameProcedure;

// The wizard: the frame and its panes, the page sequence and the restart
// question. Windows only.
#pragma once

#include <windows.h>

#include "base/format.h"

// Walks the current group's page sequence (or shows the forced page alone)
// until the wizard ends. A run the user left before the installation
// completed ends with InstallResult 15.
void RunWizard();
// Runs the restart question modally; 1 = restart now, 2 = not now.
int AskRestart();
// Ends the current page as if Next had been pressed, with page `kind` as the
// next one: 0, or 255 (nothing changed) when the sequence does not hold it.
int JumpToPage(u32 kind);
// JumpToPage(PageFinish): the engine's move after its finishing step.
void JumpToFinishPage();
// The dialog procedure of the frame dialog (created by the backdrop).
INT_PTR CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

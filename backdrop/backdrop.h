// The backdrop window behind the wizard.
#pragma once

int RegisterBackdropClass();  // 1 on success
int CreateMainWindows();      // backdrop and frame dialog; 1 on success

// The privileges the program was built to run with.
#pragma once

// 1 when the program's own manifest asks to run as the user who starts it
// (level "asInvoker", written by setrunc for a project with privileges =
// "user"): a per-user installation. 0 for "requireAdministrator", and when
// the program carries no manifest.
int ManifestRunsAsInvoker();

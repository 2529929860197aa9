// Self-registration of components: a library's own entry points
// (DllRegisterServer, DllUnregisterServer), a registry script imported with
// regedit, or a type library; at once, or through a RunOnce command when
// the component takes its place only at the next start of Windows.
#pragma once

#include "base/format.h"

// Registers the component of `entry`, whose target is in TargetPath, by its
// method (options 0x2000 registry script, 0x4000 type library, neither: the
// entry points) and its entry state: 23 and 25 at once; 500 (waiting for
// the next start) through a RunOnce command, except that a registry script
// is imported at once from `keptCopy` (the new file, waiting under its
// temporary name; TempPath, then TargetPath when null or empty); 501 (the
// existing file was kept) registers a registry script or type library
// again, and an entry-point library too (only /F gets there). Returns 0
// only when a RunOnce command was needed and could not be written; a
// registration that fails in itself is not detected.
int SelfRegister(u8* entry, const char* keptCopy);

// Calls DllRegisterServer (nonzero) or DllUnregisterServer (0) of the
// library at TargetPath under an exception guard. A library that does not
// load (also one built for another processor: only a setup program of the
// component's own architecture can load it), lacks the entry point or fails
// inside it is passed over.
void CallRegisterServer(int registerIt);

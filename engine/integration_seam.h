// The calls the engine makes into the system integration (shortcuts and the
// self-registration of components), which lies above it: handed down as
// function pointers that startup connects (ConnectSeams). An entry left
// null does nothing.
#pragma once

#include "base/files.h"

struct IntegrationCalls {
  // Creates the shortcuts of the current group's file entries and appends
  // the shortcut record to the open uninstall log `logFile` (InvalidFile:
  // nothing is recorded).
  void (*createShortcuts)(FileHandle logFile);
  // Registers the component of `entry` (target in TargetPath) according to
  // its entry state; `keptCopy` is its temporary copy when it waits for the
  // next start of Windows, else null. 0 only when a command for the next
  // start was needed and could not be written.
  int (*selfRegister)(u8* entry, const char* keptCopy);
  // Calls DllRegisterServer (nonzero) or DllUnregisterServer (0) of the
  // library at TargetPath; a library that does not load, lacks the entry
  // point or fails inside it is passed over.
  void (*callRegisterServer)(int registerIt);
};

extern IntegrationCalls Integration;

// The calls as the engine makes them.
inline void MakeShortcuts(FileHandle logFile) {
  if (Integration.createShortcuts) Integration.createShortcuts(logFile);
}
inline int RegisterComponent(u8* entry, const char* keptCopy) {
  return Integration.selfRegister ? Integration.selfRegister(entry, keptCopy) : 1;
}
inline void RegisterServer(int registerIt) {
  if (Integration.callRegisterServer) Integration.callRegisterServer(registerIt);
}

// Shortcuts of the installed files in the Start menu and on the desktop,
// made through the shell link object, and their record in the uninstall log
// (type 0x1236).
#pragma once

#include "base/files.h"

// Creates the shortcuts of every file entry of the current group (strings 1
// to 7 of the entry) and appends the shortcut record to the open uninstall
// log `logFile` at its current position. With InvalidFile the shortcuts are
// created and nothing is recorded. A shortcut that cannot be made is passed
// over without a message.
void CreateShortcuts(FileHandle logFile);

// One shortcut to `target` named `fileName` in the folder that `folderSpec`
// names (below the Programs folder, or "#Desktop#..."): 1 when it was
// created (and recorded, unless `logFile` is InvalidFile), 0 otherwise.
int CreateShortcut(const char* target, const char* folderSpec, const char* fileName,
                   const char* arguments, const char* iconPath, u32 iconIndex, u32 windowState,
                   FileHandle logFile);

// Writes the link file `linkPath` (capacity 260) through the shell link
// object; returns the COM result (negative: failure). When the shell saved
// it under another extension, `linkPath` takes that extension. `savedPath`
// (260 bytes) receives the path the shell reports, or an empty text.
long CreateShellLink(char* savedPath, const char* target, char* linkPath, const char* arguments,
                     const char* iconPath, u32 iconIndex, u32 windowState);

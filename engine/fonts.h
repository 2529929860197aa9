// Fonts: files installed into the fonts folder are made known to Windows
// (the running system, the Fonts key of the registry, every top-level
// window), and unregistered before an existing font file is replaced.
#pragma once

// Registers the font file at `path` (a full path): adds it to the running
// system, records it under the Fonts key as "<full name> (TrueType)" with
// the file name as data (only when the file has a full name), and tells all
// top-level windows. Failures are silent.
void InstallFont(const char* path);
// The same steps backwards: removes the resource and the Fonts value.
void RemoveFont(const char* path);

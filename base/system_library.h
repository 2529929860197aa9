// Loading of system libraries. The setup program runs from folders that other
// people can write to (a download folder, a shared disk): it never loads a
// library from its own folder or from the current folder.
#pragma once

// Loads the library `name` (a plain file name such as "version.dll") from the
// Windows system folder and returns its module handle (HMODULE), or null when
// it is not there or `name` is not a plain file name.
void* LoadSystemLibrary(const char* name);
// Narrows the library search of the whole process to the system folder where
// Windows offers it, and removes the current folder from the search in any
// case. Called first thing at start-up. A library that belongs to the
// installation (a self-registering component) is loaded by its full path
// with LoadLibraryExA(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH), so that the
// libraries it needs are looked for beside it.
void RestrictLibrarySearch();

// An exported function of a loaded library, or null. Cast the result to the
// function's own type.
typedef void (*LibraryProc)();
LibraryProc LibraryFunction(void* module, const char* name);

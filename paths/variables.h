// Folder variables ("#InstallDir#", "#Program Files#", ...) and their
// expansion in texts.
#pragma once

#include "package/format.h"

// Expands every folder variable of `source` into `destination` (capacity
// `destinationSize`, terminator included; source may be destination). A null
// destination or a size of 0 only measures. Returns the length of the whole
// expanded text, also when it did not fit; the destination is always
// terminated.
u32 ExpandVariables(char* destination, const char* source, u32 destinationSize);

// What the package reader takes from the layers above it, handed in by
// startup before the package is read: the reader includes none of their
// headers. (Message boxes and the pump come through base/user_interface.h.)
#pragma once

#include "base/files.h"

struct ReaderSeam {
  // Closes the current data source and opens the next data volume, leaving
  // the volume state (package/data_volumes.h) on it: the new handle, also
  // left in DataSource, or InvalidFile when the volume is missing or
  // unreadable, or the user gave up at the disk prompt.
  FileHandle (*openNextVolume)();
  // Expands the folder variables of `source` into `destination` (capacity
  // `destinationSize`, always terminated; source may be destination) and
  // returns the length of the whole expanded text.
  u32 (*expandVariables)(char* destination, const char* source, u32 destinationSize);
};

// Left null, the file data area has no further volume and a group's default
// folder keeps its folder variables as stored.
extern ReaderSeam Reader;

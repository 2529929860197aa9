// The data volumes of the file data area, as the engine opens them. The
// volume state itself belongs to the package reader (package/data_volumes.h);
// startup hands OpenNextVolume to the reader (package/reader_seam.h).
#pragma once

#include "package/data_volumes.h"

// Opens the next data volume (closing the current source): the new handle,
// or InvalidFile when the volume is missing or unreadable.
FileHandle OpenNextVolume();

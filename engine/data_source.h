// The data reader state: where the file data of the package is read from.
// The file data area begins behind the end of tables in the program file and
// may continue in data volumes named like the program file with the extension
// .D01, .D02, ...
#pragma once

#include "package/files.h"

extern FileHandle DataSource;     // program file or current volume, or InvalidFile
extern u32 VolumeNumber;          // 0 = the program file itself
extern u32 VolumeLength;          // length Lk of the current volume
extern u32 VolumeBase;            // sum of the lengths of earlier volumes
extern u32 VolumeBytesLeft;       // unread bytes of the current volume
extern char* DataSourcePath;      // 260: path of the current data source

// Opens the next data volume (closing the current source): the new handle,
// or InvalidFile when the volume is missing or unreadable.
FileHandle OpenNextVolume();

// The data reader state: where the file data of the package is read from.
// The file data area begins behind the end of tables in the program file and
// may continue in data volumes named like the program file with the extension
// .D01, .D02, ... The loader and ReadPackageData keep this state; opening the
// next volume (with its disk prompt) is the engine's, handed in through the
// reader seam (package/reader_seam.h).
#pragma once

#include "base/files.h"

extern FileHandle DataSource;     // program file or current volume, or InvalidFile
extern u32 VolumeNumber;          // 0 = the program file itself
extern u32 VolumeLength;          // length Lk of the current volume
extern u32 VolumeBase;            // sum of the lengths of earlier volumes
extern u32 VolumeBytesLeft;       // unread bytes of the current volume

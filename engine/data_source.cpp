// The file data area and its data volumes.
#include "engine/data_source.h"

#include "paths/path_text.h"
#include "startup/run_state.h"

FileHandle DataSource = InvalidFile;
u32 VolumeNumber;
u32 VolumeLength;
u32 VolumeBase;
u32 VolumeBytesLeft;
char* DataSourcePath;

// A volume whose length word cannot be read is reopened a few times (a disk
// that is still spinning up); after that it counts as missing.
static const int VolumeReadAttempts = 3;

// ".D" and the volume number with at least two digits.
static void VolumeExtension(char* out, u32 number) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = (char)('0' + number % 10);
    number /= 10;
  } while (number);
  if (n < 2) digits[n++] = '0';
  out[0] = '.';
  out[1] = 'D';
  int at = 2;
  while (n) out[at++] = digits[--n];
  out[at] = 0;
}

FileHandle OpenNextVolume() {
  if (DataSource != InvalidFile) CloseFile(DataSource);
  DataSource = InvalidFile;
  ++VolumeNumber;
  char extension[16];
  VolumeExtension(extension, VolumeNumber);
  VolumeBase += VolumeLength;
  if (!DataSourcePath || !SetExtension(DataSourcePath, extension, PathSize)) return InvalidFile;
  for (int attempt = 0; attempt < VolumeReadAttempts; ++attempt) {
    FileHandle volume = OpenExisting(DataSourcePath, OpenRead);
    if (volume == InvalidFile) return InvalidFile;
    u8 word[4];
    if (ReadExact(volume, word, 4) == 0) {
      VolumeLength = VolumeBytesLeft = ReadU32(word);
      DataSource = volume;
      return volume;
    }
    CloseFile(volume);
  }
  return InvalidFile;
}

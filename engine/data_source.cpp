// The file data area and its data volumes.
#include "engine/data_source.h"

#include "engine/engine_os.h"
#include "engine/install.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "paths/path_text.h"
#include "base/run_state.h"
#include "base/text_format.h"
#include "base/user_interface.h"

// A volume whose length word cannot be read is reopened a few times (a disk
// that is still spinning up); after that it counts as missing.
static const int VolumeReadAttempts = 3;
static const u32 PromptBufferSize = 1024;

// ".D" and the volume number with at least two digits.
static void VolumeExtension(char* out, u32 number) {
  out[0] = '.';
  out[1] = 'D';
  WriteDecimal(out + 2, number, 2);
}

// Opens the volume at DataSourcePath and reads its length word.
static FileHandle OpenVolume() {
  for (int attempt = 0; attempt < VolumeReadAttempts; ++attempt) {
    TouchPath(DataSourcePath);
    FileHandle volume = OpenExisting(DataSourcePath, OpenRead);
    if (volume == InvalidFile) return InvalidFile;
    u8 word[4];
    if (ReadExact(volume, word, 4) == 0) {
      VolumeLength = VolumeBytesLeft = ReadU32(word);
      return volume;
    }
    CloseFile(volume);
  }
  return InvalidFile;
}

// The disk prompt: 1 try again, 0 the user gave up (the installation is
// then abandoned).
static int AskForVolume() {
  char text[PromptBufferSize];
  FormatText(text, sizeof text, GetText(7, 28), "", (i32)(VolumeNumber + 1));
  if (ShowMessage(text, StyleDiskPrompt) == AnswerOk) return 1;
  const char* question = GetText(7, 13);
  if (*question && ShowMessage(question, StyleQuestion) != AnswerYes) return 1;
  PageResult = PageResultCancel;
  InstallResult = CodeAbandoned;
  AbortInstallation();
  UserCancelled = 1;
  return 0;
}

FileHandle OpenNextVolume() {
  if (DataSource != InvalidFile) CloseFile(DataSource);
  DataSource = InvalidFile;
  ++VolumeNumber;
  char extension[16];
  VolumeExtension(extension, VolumeNumber);
  VolumeBase += VolumeLength;
  VolumeLength = VolumeBytesLeft = 0;
  ForgetReadAhead();
  if (!DataSourcePath || !SetExtension(DataSourcePath, extension, PathSize)) return InvalidFile;
  for (;;) {
    FileHandle volume = OpenVolume();
    if (volume != InvalidFile) {
      DataSource = volume;
      return volume;
    }
    // Disk prompts only in the relaunched copy, which runs from the hard disk
    // while the user changes disks.
    if (!DeleteSelfAtRestart || !AskForVolume()) return InvalidFile;
  }
}

int SeekFileData(u32 offset) {
  while ((uint64_t)offset >= (uint64_t)VolumeBase + VolumeLength) {
    VolumeBytesLeft = 0;
    if (OpenNextVolume() == InvalidFile) {
      if (DeleteSelfAtRestart) return CodeAbandoned;
      // The decompression that follows fails with a read error.
      return 0;
    }
  }
  // Volumes are read in increasing order only: data in front of the current
  // volume cannot be reached any more.
  if (offset < VolumeBase) return CodeReadError;
  u32 inVolume = offset - VolumeBase;
  u32 position = inVolume + 4;
  if (VolumeNumber == 0) position += DataAreaOffset;
  SeekDataSource(position);
  VolumeBytesLeft = VolumeLength - inVolume;
  return 0;
}

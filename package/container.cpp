// Finding the package in the program file and walking its record stream.
#include <string.h>

#include "package/data_volumes.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "base/run_state.h"
#include "base/user_interface.h"

u8* LayoutRecord;
u32 LayoutLength;
u8* ImageTable;
u32 ImageTableLength;
u8* BackdropImage;
u32 BackdropImageLength;
u8* BackdropTitle;
u32 BackdropTitleLength;
u8* TitleStyle;
u32 TitleStyleLength;
u8* UninstallerImage;
u32 UninstallerLength;
GroupTables Groups[MaxGroups];
u32 GroupCount;
u32 DataAreaOffset;
u8* ScanBuffer;
static u32 ScanBufferSize;

int FindPackageStart(FileHandle file, u32* packageStart) {
  u32 length = FileLength(file);
  u32 window = length < MarkerWindow ? length : MarkerWindow;
  if (ScanBuffer && ScanBufferSize < window + 8) FreeBlock(&ScanBuffer);
  if (!ScanBuffer) {
    if (!AllocZeroed(window + 8, &ScanBuffer)) return 0;
    ScanBufferSize = window + 8;
  } else {
    memset(ScanBuffer, 0, ScanBufferSize);
  }
  // The buffer starts 8 bytes before the earliest place of the marker.
  u32 got = 0;
  if (length > MarkerScanStart) {
    got = length - MarkerScanStart;
    if (got > window) got = window;
    SeekFile(file, MarkerScanStart);
    ReadExact(file, ScanBuffer, got);
  }
  const u32 first = MarkerEarliest - MarkerScanStart;
  for (u32 p = first; p + PackageMarkerLength <= got; ++p) {
    u32 k = 0;
    while (k < PackageMarkerLength &&
           (u8)(ScanBuffer[p + k] ^ PackageMarkerMask) == PackageMarkerMasked[k])
      ++k;
    if (k == PackageMarkerLength) {
      *packageStart = MarkerScanStart + p + PackageMarkerLength;
      return 1;
    }
  }
  return 0;
}

// Bytes the package tables hold now (records kept, not the folder buffers).
static uint64_t HeldTableBytes() {
  uint64_t held = (uint64_t)LayoutLength + ImageTableLength + BackdropImageLength +
                  BackdropTitleLength + TitleStyleLength + UninstallerLength;
  for (const GroupTables& group : Groups)
    held += (uint64_t)group.recordLength + group.fileListLength + group.registryLength;
  return held;
}

int ReadRecordPayload(FileHandle file, const RecordHeader* header, u8** data, u32* length) {
  *data = nullptr;
  const uint64_t held = HeldTableBytes();
  const int compressed = header->flags & RecordCompressed;
  u32 decoded = header->size;
  u8 word[4];
  int failed = 0;
  if (compressed) {
    // A compressed payload cannot be shorter than its length word.
    if (header->size < 4) failed = 31;
    else if (ReadPackageData(&file, word, 4)) failed = 1;
    else decoded = ReadU32(word);
  }
  if (length) *length = decoded;
  if (failed) return failed;
  // The payload must lie inside the file; its decoded length must be one the
  // stream can produce and the tables can hold.
  u32 position = TellFile(file);
  u32 fileLength = FileLength(file);
  u32 stored = compressed ? header->size - 4 : header->size;
  if (position > fileLength || stored > fileLength - position) return 1;
  if (compressed && decoded / MaxDeflateRatio > stored) return 31;
  if (held + decoded > MaxTableBytes) return 5;
  if (compressed) {
    // The block grows with what the stream produces; a stream that ends
    // short of the stated length, or runs past it, does not decode.
    int status = InflateRecord(&file, stored, decoded, data);
    if (status == InflateOk) return 0;
    return status == InflateNoMemory ? 5 : status == InflateReadError ? 1 : 31;
  }
  u8* block = nullptr;
  if (!AllocBlock(decoded, &block)) return 5;
  if (decoded && ReadPackageData(&file, block, decoded)) {
    FreeBlock(&block);
    return 1;
  }
  *data = block;
  return 0;
}

// A second record of a kind replaces the first. A slot whose payload could
// not be read is left empty, with length 0.
static int ReadInto(FileHandle file, const RecordHeader* header, u8** slot, u32* length) {
  FreeBlock(slot);
  *length = 0;  // the replaced record no longer counts against the tables
  int error = ReadRecordPayload(file, header, slot, length);
  if (error) *length = 0;
  return error;
}

// Reads a record into its slot and applies the record's structural check. A
// record that fails it is released at once: the tables that stay in place
// after a failed load hold only checked records.
static int ReadChecked(FileHandle file, const RecordHeader* header, u8** slot, u32* length) {
  int error = ReadInto(file, header, slot, length);
  if (error) return error;
  if (CheckRecord(header->type, {*slot, *length})) return 0;
  FreeBlock(slot);
  *length = 0;
  return 31;
}

i32 ChooseBackdropVariant(const u8* pairs, i32 count, i32 screenWidth, i32 screenHeight) {
  i32 chosen = -1, bw = 0, bh = 0;
  for (i32 i = 0; i < count; ++i) {
    i32 w = (i32)ReadU32(pairs + 8 * i), h = (i32)ReadU32(pairs + 8 * i + 4);
    bool take;
    if (w == screenWidth && h == screenHeight) return i;
    if (chosen < 0) take = true;
    else if (w < screenWidth && h < screenHeight) take = w > bw && h > bh;
    else take = (w < bw && h < bh) || (bw < screenWidth && bh < screenHeight);
    if (take) {
      chosen = i;
      bw = w;
      bh = h;
    }
  }
  return chosen;
}

// The state of one walk over the record stream.
struct LoadState {
  i32 group;            // index of the group record read last
  i32 variantCountdown; // backdrop images still to skip; -1 = take none
  u16 forcedGroup;
  int complete;
  int hasLayout;
};

static int HandleLayout(FileHandle file, const RecordHeader* header) {
  int error = ReadChecked(file, header, &LayoutRecord, &LayoutLength);
  if (error) return error;
  u32 flags = ReadU32(LayoutRecord + LayoutFlags);
  if (flags & LayoutFlagSilent) {
    if (KeepInteractive) WriteU32(LayoutRecord + LayoutFlags, flags & ~LayoutFlagSilent);
    else SilentMode = 1;
  }
  return 0;
}

static int HandleGroup(FileHandle file, const RecordHeader* header, LoadState* state) {
  if (state->group + 1 >= (i32)MaxGroups) return 31;
  GroupTables* group = &Groups[++state->group];
  int error = ReadChecked(file, header, &group->record, &group->recordLength);
  if (error) return error;
  RecordView record = {group->record, group->recordLength};
  if (!group->folder && !AllocBlock(PathSize, &group->folder)) return 12;
  DetectInstallDir(record);
  CopyText(group->folder, InstallDir, PathSize);
  return 0;
}

static int HandleResolutionList(FileHandle file, const RecordHeader* header,
                                LoadState* state) {
  u8* list = nullptr;
  u32 length = 0;
  int error = ReadRecordPayload(file, header, &list, &length);
  if (error) return error;
  if (!CheckRecord(header->type, {list, length})) {
    FreeBlock(&list);
    return 31;
  }
  i32 count = (i32)ReadU32(list);
  state->variantCountdown =
      count <= 0 ? -1 : ChooseBackdropVariant(list + 4, count, ScreenWidth, ScreenHeight);
  FreeBlock(&list);
  return 0;
}

static int HandleEndOfTables(FileHandle file, LoadState* state) {
  DataAreaOffset = TellFile(file);
  u8 word[4];
  if (ReadPackageData(&file, word, 4)) return 1;
  u32 dataLength = ReadU32(word);
  VolumeLength = VolumeBytesLeft = dataLength;
  VolumeBase = 0;
  // 64-bit sums: a data length near 4 GB must not wrap round to "complete".
  uint64_t fileLength = FileLength(file);
  uint64_t tablesEnd = (uint64_t)DataAreaOffset + 4;
  if (ContinueGroup != 0) {
    if (fileLength == tablesEnd) state->complete = 1;
  } else if (fileLength >= tablesEnd + dataLength) {
    state->complete = 1;
  }
  return 0;
}

static int HandleRecord(FileHandle file, const RecordHeader* header, LoadState* state) {
  const bool continuation = ContinueGroup != 0;
  switch (header->type) {
    case RecordLayout:
      state->hasLayout = 1;
      return HandleLayout(file, header);
    case RecordImageTable:
      return continuation ? 0 : ReadChecked(file, header, &ImageTable, &ImageTableLength);
    case RecordBackdropImage:
      if (continuation) return 0;
      if (state->variantCountdown != 0) {
        if (state->variantCountdown > 0) --state->variantCountdown;
        return 0;
      }
      state->variantCountdown = -1;
      return ReadChecked(file, header, &BackdropImage, &BackdropImageLength);
    case RecordBackdropTitle:
      return ReadChecked(file, header, &BackdropTitle, &BackdropTitleLength);
    case RecordFileList: {
      if (state->group < 0) return 31;
      GroupTables* group = &Groups[state->group];
      return ReadChecked(file, header, &group->fileList, &group->fileListLength);
    }
    case RecordForcedPage: {
      ForcedPageMode = 1;
      u8 words[4];
      if (ReadPackageData(&file, words, 2)) return 1;
      ForcedPage = ReadU16(words);
      if (ReadPackageData(&file, words + 2, 2)) return 1;
      state->forcedGroup = ReadU16(words + 2);
      state->complete = 1;
      return 0;
    }
    case RecordTitleStyle:
      return ReadChecked(file, header, &TitleStyle, &TitleStyleLength);
    case RecordGroup:
      return HandleGroup(file, header, state);
    case RecordUninstaller:
      return ReadChecked(file, header, &UninstallerImage, &UninstallerLength);
    case RecordResolutionList:
      return continuation ? 0 : HandleResolutionList(file, header, state);
    case RecordRegistryEntries: {
      if (state->group < 0) return 31;
      GroupTables* group = &Groups[state->group];
      return ReadChecked(file, header, &group->registryEntries, &group->registryLength);
    }
    case RecordEndOfTables:
      return HandleEndOfTables(file, state);
    default:
      return 0;  // unknown records are stepped over by their size
  }
}

int LoadPackage() {
  CopyText(DataSourcePath, ProgramPath, PathSize);
  FileHandle file = OpenExisting(DataSourcePath, OpenRead);
  if (file == InvalidFile) return 0;
  u32 position;
  if (!FindPackageStart(file, &position)) {
    CloseFile(file);
    return 0;
  }
  SeekFile(file, position);
  LoadState state = {-1, -1, 0, 0, 0};
  int error = 0;
  for (;;) {
    u8 raw[RecordHeaderSize];
    if (ReadPackageData(&file, raw, RecordHeaderSize)) {
      error = 1;
      break;
    }
    RecordHeader header = {ReadU16(raw), ReadU16(raw + 2), ReadU32(raw + 4)};
    if (header.size == 0 && header.type != RecordEndOfTables) continue;
    u32 payloadStart = TellFile(file);
    // The end header's size field is not used (the data length word is), so
    // only the other records must fit the 32-bit file space.
    if (header.type != RecordEndOfTables && header.size > 0xFFFFFFFFu - payloadStart) {
      error = 1;
      break;
    }
    u32 next = payloadStart + header.size;
    error = HandleRecord(file, &header, &state);
    if (error || header.type == RecordEndOfTables) break;
    SeekFile(file, next);
  }
  CloseFile(file);
  if (error) return 0;
  GroupCount = (u32)(state.group + 1);
  // A package without layout or groups, or whose forced group does not exist,
  // cannot be installed: it is treated as incomplete.
  bool usable = state.hasLayout && GroupCount > 0 && state.forcedGroup < GroupCount;
  if (GroupCount > 0) SelectGroup(usable ? state.forcedGroup : 0);
  if (usable && state.complete) return 1;
  const char* notice = GetText(7, 31);
  if (*notice && !SilentMode) ShowMessage(notice, StyleInformation);
  return 0;
}

void FreePackage() {
  FreeBlock(&LayoutRecord);
  FreeBlock(&ImageTable);
  FreeBlock(&BackdropImage);
  FreeBlock(&BackdropTitle);
  FreeBlock(&TitleStyle);
  FreeBlock(&UninstallerImage);
  FreeBlock(&ScanBuffer);
  LayoutLength = ImageTableLength = BackdropImageLength = BackdropTitleLength = 0;
  TitleStyleLength = UninstallerLength = ScanBufferSize = 0;
  for (GroupTables& group : Groups) {
    FreeBlock(&group.record);
    FreeBlock(&group.folder);
    FreeBlock(&group.fileList);
    FreeBlock(&group.registryEntries);
    group.recordLength = group.fileListLength = group.registryLength = 0;
  }
  GroupCount = 0;
  // The groups are gone: a later load must not save InstallDir into a slot.
  CurrentGroup = -1;
  CurrentGroupRecord = {nullptr, 0};
  FileCount = 0;
  FirstFileEntry = nullptr;
}

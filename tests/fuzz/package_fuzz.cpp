// libFuzzer target over the package reader.
//
// Input: one byte of run options, then everything that follows the program
// image (normally the marker and the record stream). The target writes a
// 1,020-byte stand-in program image and the rest of the input to a file,
// loads it with LoadPackage, walks every table the way the rest of the
// program reads them, decompresses the first file's data and frees the
// package. Broken invariants abort, so the fuzzer reports them.
//
// Option bits: 0 continuation run, 1 /V, 2-3 screen size, 4 the first file's
// data is inflated into memory instead of a file, 5 the last quarter of the
// input is data volume 1 (setup.D01, its own length word first) instead of
// the end of the program file.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/package_bytes.h"

namespace {

std::string& ProgramFile() {
  static std::string path;
  return path;
}
std::string& VolumeFile() {
  static std::string path;
  return path;
}
char ProgramPathBuffer[260];

volatile uint32_t Sink;

void Check(bool condition) {
  if (!condition) abort();
}

// Reads every byte of a block: the sanitizers check its stated length.
void Touch(const u8* data, u32 length) {
  if (!data) return;
  uint32_t sum = 0;
  for (u32 i = 0; i < length; ++i) sum += data[i];
  Sink = sum;
}

void TouchText(const char* text) {
  Check(text != nullptr);
  Touch((const u8*)text, (u32)strlen(text) + 1);
}

void WalkFileList(const GroupTables& group) {
  if (!group.fileList) return;
  RecordView list = {group.fileList, group.fileListLength};
  Check(CheckFileList(list));
  const u8* end = group.fileList + group.fileListLength;
  const u32 count = ReadU32(group.fileList);
  const u8* entry = group.fileList + 4;
  for (u32 i = 0; i < count; ++i) {
    Check(end - entry >= (long)EntryFixedSize);
    u32 length = ReadU16(entry);
    Check(length >= EntryFixedSize && length <= (u32)(end - entry));
    for (u32 n = 0; n <= 10; ++n) {
      const char* text = EntryString(entry, n);
      TouchText(text);
      if (*text) Check((const u8*)text >= entry && (const u8*)text + strlen(text) < entry + length);
    }
    entry += length;
  }
}

void WalkTables() {
  Check(GroupCount <= MaxGroups);
  Touch(LayoutRecord, LayoutLength);
  Touch(ImageTable, ImageTableLength);
  if (ImageTable) {
    // The wizard reaches each image by its number through the lookup.
    const RecordView table = {ImageTable, ImageTableLength};
    Check(CheckImageTable(table));
    RecordView image;
    for (u32 n = 0; n < 40; ++n)
      if (ImageTableImage(table, n, &image)) Touch(image.data, image.length);
  }
  Touch(BackdropImage, BackdropImageLength);
  Touch(BackdropTitle, BackdropTitleLength);
  Touch(TitleStyle, TitleStyleLength);
  Touch(UninstallerImage, UninstallerLength);
  Sink = LayoutFlagsValue();
  for (u32 g = 0; g < MaxGroups; ++g) {
    const GroupTables& group = Groups[g];
    Touch(group.record, group.recordLength);
    Touch(group.registryEntries, group.registryLength);
    if (group.folder) Check(strlen(group.folder) < PathSize);
    if (g < GroupCount) {
      Check(group.record && group.folder);
      Check(CheckGroupRecord({group.record, group.recordLength}));
    }
    WalkFileList(group);
  }
  for (u32 g = 0; g < GroupCount; ++g) {
    Check(SelectGroup((i32)g) == 1);
    Check(CurrentGroup == (i32)g);
    Check(strlen(InstallDir) < PathSize);
    Check(FileCount == 0 || FirstFileEntry != nullptr);
    for (u32 t = 0; t <= 10; ++t) {
      for (u32 n = 0; n < 40; ++n) TouchText(GetText(t, n));
      TouchText(GetText(t, 0xFFFF));
      TouchText(GetText(t, 0x10000));
    }
    TouchText(GetText(0xFFFFFFFFu, 0));
    for (u32 i = 0; i < 8; ++i) {
      const char* text = RecordText(CurrentGroupRecord, GroupTextFields[i]);
      if (text) TouchText(text);
    }
  }
  Check(SelectGroup((i32)GroupCount) == 0);
}

// The first entry's data, read from the file data area the way the
// installation reads it.
void InflateFirstFile(bool toMemory) {
  if (GroupCount == 0 || !Groups[0].fileList || ReadU32(Groups[0].fileList) == 0) return;
  SelectGroup(0);
  const u8* entry = FirstFileEntry;
  u32 offset = ReadU32(entry + EntryDataOffset), packed = ReadU32(entry + EntryPackedSize);
  u32 size = ReadU32(entry + EntrySize);
  if (offset >= VolumeLength || packed > (1u << 20)) return;
  CopyText(DataSourcePath, ProgramPath, PathSize);
  DataSource = OpenExisting(DataSourcePath, OpenRead);
  if (DataSource == InvalidFile) return;
  SeekFile(DataSource, DataAreaOffset + 4 + offset);
  ForgetReadAhead();
  VolumeBytesLeft = VolumeLength - offset;
  if (toMemory) {
    u32 capacity = size < (1u << 20) ? size : (1u << 20);
    u8* block = nullptr;
    if (AllocZeroed(capacity, &block)) {
      InflateToMemory(block, capacity, &DataSource, packed);
      FreeBlock(&block);
    }
  } else {
    FileHandle out = OpenExisting("/dev/null", OpenWrite);
    u32 written = 0, checksum = 0;
    int status = InflateToFile(out, &DataSource, packed, &written, &checksum);
    if (status == 0 && packed) Sink = written ^ checksum;
    // SETRUN_FUZZ_VERBOSE=1 shows what the seeds reach.
    if (getenv("SETRUN_FUZZ_VERBOSE"))
      fprintf(stderr, "first file: status %d, volume %u, %u bytes, sum %s\n", status, VolumeNumber,
              written, checksum == ReadU32(entry + EntryChecksum) ? "right" : "wrong");
    CloseFile(out);
  }
  if (DataSource != InvalidFile) CloseFile(DataSource);
  DataSource = InvalidFile;
}

char Folder[64];

void RemoveFiles() {
  unlink(ProgramFile().c_str());
  unlink(VolumeFile().c_str());
  rmdir(Folder);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  snprintf(Folder, sizeof Folder, "/dev/shm/setrun-fuzz-%d", (int)getpid());
  if (mkdir(Folder, 0700) != 0) snprintf(Folder, sizeof Folder, "/tmp/setrun-fuzz-%d", (int)getpid());
  mkdir(Folder, 0700);
  ProgramFile() = std::string(Folder) + "/setup.exe";
  VolumeFile() = std::string(Folder) + "/setup.D01";
  atexit(RemoveFiles);
  snprintf(ProgramPathBuffer, sizeof ProgramPathBuffer, "%s", ProgramFile().c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  size_t programEnd = size;
  if (options & 0x20) {
    programEnd = size - (size - 1) / 4;
    if (!pkgbytes::WriteAll(VolumeFile(), pkgbytes::Bytes(data + programEnd, data + size))) return 0;
  } else {
    unlink(VolumeFile().c_str());
  }
  pkgbytes::Bytes file = pkgbytes::Stub(1020);
  file.insert(file.end(), data + 1, data + programEnd);
  if (!pkgbytes::WriteAll(ProgramFile(), file)) return 0;

  pkgbytes::ResetReader(ProgramPathBuffer);
  static const i32 screens[4][2] = {{1024, 768}, {800, 600}, {1280, 1024}, {1152, 864}};
  ContinueGroup = (options & 1) ? 1 : 0;
  KeepInteractive = (options & 2) ? 1 : 0;
  ScreenWidth = screens[(options >> 2) & 3][0];
  ScreenHeight = screens[(options >> 2) & 3][1];

  const int complete = LoadPackage();
  if (getenv("SETRUN_FUZZ_VERBOSE"))
    fprintf(stderr, "options %02x: LoadPackage %d, %u groups\n", options, complete, GroupCount);
  if (complete) {
    Check(LayoutRecord != nullptr && GroupCount >= 1);
    Check(CurrentGroup >= 0 && (u32)CurrentGroup < GroupCount);
    if (KeepInteractive) Check((LayoutFlagsValue() & LayoutFlagSilent) == 0);
  }
  if (ContinueGroup) Check(ImageTable == nullptr && BackdropImage == nullptr);
  WalkTables();
  if (complete) InflateFirstFile((options & 0x10) != 0);
  FreePackage();
  Check(LayoutRecord == nullptr && GroupCount == 0 && ScanBuffer == nullptr);
  return 0;
}

// Engine state shared by the installation loop, the finishing step and the
// data reader: result details, kept copies of deferred entries, the abort.
#include <string.h>

#include "engine/data_source.h"
#include "engine/engine_os.h"
#include "engine/install.h"
#include "package/inflate.h"
#include "package/tables.h"
#include "base/run_state.h"
#include "base/text_format.h"
#include "base/user_interface.h"

int EngineBusy;
int FolderChecked;

// Heap copies of the temporary paths of deferred entries, one slot per file
// entry of the current group; allocated when the first copy is kept.
static char** KeptCopies;
static u32 KeptSlots;

static const u32 ChecksumChunk = 16384;
static const u32 QuestionBufferSize = 1024;

void SetErrorDetail(const char* text) {
  if (!ErrorDetail) return;
  CopyText(ErrorDetail, text ? text : "", PathSize);
}

i32 MapInflateError(int status, const char* name) {
  SetErrorDetail(name);
  switch (status) {
    case InflateNoMemory: return CodeNoMemory;
    case InflateReadError: return CodeReadError;
    case InflateWriteError: return CodeWriteError;
    default: return CodeInvalidData;
  }
}

int ConfirmDataError() {
  if (AcceptDamagedFiles) return 1;
  char* buffer = nullptr;
  int keep = 0;
  if (AllocBlock(QuestionBufferSize, &buffer)) {
    FormatText(buffer, QuestionBufferSize, GetText(7, 32), TargetPath, 0);
    keep = ShowMessage(buffer, StyleQuestion) == AnswerYes;
    FreeBlock(&buffer);
  }
  if (keep) return 1;
  InstallResult = CodeDamaged;
  SetErrorDetail(TargetPath);
  return 0;
}

u8* FirstEntry() {
  if (CurrentGroup < 0 || (u32)CurrentGroup >= MaxGroups) return nullptr;
  u8* list = Groups[CurrentGroup].fileList;
  if (!list || FileCount == 0) return nullptr;
  return list + 4;
}

u8* NextEntry(u8* entry) { return entry + ReadU16(entry + EntryLength); }

const char* KeptCopy(u32 index) {
  return KeptCopies && index < KeptSlots ? KeptCopies[index] : nullptr;
}

int SetKeptCopy(u32 index, const char* path) {
  if (!KeptCopies) {
    // One pointer per entry; a count this large cannot come from a loaded list.
    if (FileCount > 0x1000000u) return 0;
    if (!AllocZeroed(FileCount * (u32)sizeof(char*), &KeptCopies)) return 0;
    KeptSlots = FileCount;
  }
  if (index >= KeptSlots) return 0;
  u32 length = (u32)strlen(path) + 1;
  char* copy = nullptr;
  if (!AllocBlock(length, &copy)) return 0;
  memcpy(copy, path, length);
  FreeBlock(&KeptCopies[index]);
  KeptCopies[index] = copy;
  return 1;
}

void ReleaseKeptCopy(u32 index) {
  if (KeptCopies && index < KeptSlots) FreeBlock(&KeptCopies[index]);
}

void DiscardKeptCopies() {
  if (!KeptCopies) return;
  for (u32 i = 0; i < KeptSlots; ++i) {
    if (!KeptCopies[i]) continue;
    RemoveFile(KeptCopies[i]);
    FreeBlock(&KeptCopies[i]);
  }
  FreeBlock(&KeptCopies);
  KeptSlots = 0;
}

void AbortInstallation() {
  if (DataSource != InvalidFile) CloseFile(DataSource);
  DataSource = InvalidFile;
  DiscardKeptCopies();
  EngineBusy = 0;
}

u32 FileChecksum(FileHandle file) {
  u8* buffer = nullptr;
  if (!AllocBlock(ChecksumChunk, &buffer)) return 0;
  u32 sum = 0;
  u32 length = FileLength(file), position = TellFile(file);
  u32 left = length > position ? length - position : 0;
  while (left) {
    u32 chunk = left < ChecksumChunk ? left : ChecksumChunk;
    if (ReadExact(file, buffer, chunk)) break;
    sum = RotateAddSum(sum, buffer, chunk);
    left -= chunk;
  }
  FreeBlock(&buffer);
  return sum;
}

// The package tables: what LoadPackage read from the package, released
// together by FreePackage. Records keep their offsets (see records.h).
#pragma once

#include "base/files.h"
#include "base/records.h"

struct GroupTables {
  u8* record;           // group record (0x143E)
  u32 recordLength;
  char* folder;         // 260: the group's installation folder
  u8* fileList;         // file list (0x143A), or null
  u32 fileListLength;
  u8* registryEntries;  // registry entries (0x1445), or null
  u32 registryLength;
};

extern u8* LayoutRecord;
extern u32 LayoutLength;
extern u8* ImageTable;
extern u32 ImageTableLength;
extern u8* BackdropImage;
extern u32 BackdropImageLength;
extern u8* BackdropTitle;
extern u32 BackdropTitleLength;
extern u8* TitleStyle;
extern u32 TitleStyleLength;
extern u8* UninstallerImage;
extern u32 UninstallerLength;
extern GroupTables Groups[MaxGroups];
extern u32 GroupCount;
extern u32 DataAreaOffset;     // file offset of the data length word L0
extern u8* ScanBuffer;         // marker search buffer, kept until FreePackage

// The current group (SelectGroup).
extern RecordView CurrentGroupRecord;
extern u32 FileCount;          // entries of the current file list
extern const u8* FirstFileEntry;  // first entry, or null

// Record loading.
int FindPackageStart(FileHandle file, u32* packageStart);
struct RecordHeader {
  u16 type;
  u16 flags;
  u32 size;
};
// 0, or 1 read failure, 5 out of memory or beyond MaxTableBytes (records.h)
// with the tables held now, 31 the compressed payload does not decode to
// exactly its stated length. `length` (optional) receives the decoded length
// even on failure. A compressed payload's block grows with the bytes its
// stream produces; the stated length alone never takes memory.
int ReadRecordPayload(FileHandle file, const RecordHeader* header, u8** data, u32* length);
// 1 when the package was read completely, 0 otherwise.
int LoadPackage();
void FreePackage();

// Text lookup and group selection.
const char* GetText(u32 group, u32 number);  // never null
// 1 when the group exists and is now current, 0 otherwise.
int SelectGroup(i32 index);
u32 LayoutFlagsValue();  // u32 at offset 0 of the layout record

// The default installation folder of a group record, left in InstallDir.
void DetectInstallDir(RecordView groupRecord);
// Rewrites an existing path with the letter case stored on disk.
void CorrectPathCase(char* path);
// Windows only: the registry root key (an HKEY) that a group record's
// GroupRegistryRoot field names: 0 the classes root, 2 the local machine,
// 3 the users, anything else the current user.
void* GroupRegistryRootKey(RecordView groupRecord);

// Chooses the backdrop variant for the screen size: index, or -1 for none.
i32 ChooseBackdropVariant(const u8* pairs, i32 count, i32 screenWidth, i32 screenHeight);

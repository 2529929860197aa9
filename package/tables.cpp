// Text lookup and the selection of the current install group.
#include "package/tables.h"
#include "base/run_state.h"

RecordView CurrentGroupRecord;
u32 FileCount;
const u8* FirstFileEntry;

const char* GetText(u32 group, u32 number) {
  if (!CurrentGroupRecord.data) return "";
  const char* text = GroupRecordText(CurrentGroupRecord, group, (u16)number);
  return text ? text : "";
}

u32 LayoutFlagsValue() { return LayoutRecord ? ReadU32(LayoutRecord + LayoutFlags) : 0; }

int SelectGroup(i32 index) {
  if (index < 0 || (u32)index >= GroupCount) return 0;
  if (CurrentGroup >= 0 && (u32)CurrentGroup < GroupCount && Groups[CurrentGroup].folder)
    CopyText(Groups[CurrentGroup].folder, InstallDir, PathSize);
  CurrentGroup = index;
  const GroupTables& group = Groups[index];
  if (group.fileList) {
    FileCount = ReadU32(group.fileList);
    FirstFileEntry = FileCount ? group.fileList + 4 : nullptr;
  } else {
    FileCount = 0;
    FirstFileEntry = nullptr;
  }
  CurrentGroupRecord = {group.record, group.recordLength};
  if (group.folder) CopyText(InstallDir, group.folder, PathSize);
  return 1;
}

// libFuzzer target: the uninstaller reads a log and plans its removal. Any
// input is read without a fault; a readable log's items lie inside the input
// and every planned step names an item that exists.
#include <stdlib.h>
#include <string.h>

#include "uninstaller/log.h"
#include "uninstaller/plan.h"

static int Inside(const LogText& t, const u8* data, size_t size) {
  return (const u8*)t.text >= data && t.length <= size && (const u8*)t.text + t.length <= data + size;
}

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  if (size > MaxLogBytes) return 0;
  UninstallLog log;
  if (ReadUninstallLog(data, (u32)size, &log) != LogReadable) return 0;
  for (u32 i = 0; i < log.fileCount; ++i) {
    if (!Inside(log.files[i].folder, data, size) || !Inside(log.files[i].name, data, size)) abort();
    char path[260];
    LoggedFilePath(&log.files[i], "C:\\Program Files\\Tool\\", path, sizeof path);
    CompareWithLog(&log, &log.files[i], 0, 0);
  }
  RemovalPlan plan;
  if (BuildRemovalPlan(&log, "C:\\Program Files\\Tool\\", &plan)) {
    for (u32 i = 0; i < plan.stepCount; ++i) {
      const RemovalStep& s = plan.steps[i];
      u32 limit = s.kind == StepShortcut ? log.shortcutCount
                  : s.kind == StepFile   ? log.fileCount
                  : s.kind == StepRegistry ? log.registryCount
                                           : plan.folderCount;
      if (s.item >= limit) abort();
      if (s.kind == StepFolder && strlen(plan.folders[s.item]) >= FolderPathSize) abort();
    }
    FreeRemovalPlan(&plan);
  }
  FreeUninstallLog(&log);
  return 0;
}

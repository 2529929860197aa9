#include "uninstaller/plan.h"

#include <string.h>

#include "base/files.h"

static int CopyLogText(char* out, u32 size, LogText t) {
  if (t.length >= size) return 0;
  memcpy(out, t.text, t.length);
  out[t.length] = 0;
  return 1;
}

int ShortcutFolder(const LoggedShortcut* shortcut, char* out) {
  LogText folder = shortcut->actualFolder.length ? shortcut->actualFolder : shortcut->folder;
  if (!CopyLogText(out, FolderPathSize, folder)) return 0;
  u32 n = (u32)strlen(out);
  if (n > 3 && out[n - 1] == '\\') out[n - 1] = 0;
  return 1;
}

int ShortcutPath(const LoggedShortcut* shortcut, char* out) {
  if (!ShortcutFolder(shortcut, out)) return 0;
  u32 n = (u32)strlen(out);
  if (n && out[n - 1] != '\\') {
    if (n + 1 >= FolderPathSize) return 0;
    out[n++] = '\\';
  }
  if (shortcut->name.length >= FolderPathSize - n) return 0;
  memcpy(out + n, shortcut->name.text, shortcut->name.length);
  out[n + shortcut->name.length] = 0;
  return 1;
}

namespace {

struct Builder {
  RemovalPlan* plan;
  u32 folderCapacity;
};

// Cuts the path at its last backslash; 0 when nothing but a root is left.
int ToParent(char* path) {
  char* last = strrchr(path, '\\');
  if (!last) return 0;
  *last = 0;
  // "C:" or "\\server\share" are no folders to remove.
  u32 n = (u32)strlen(path);
  if (n <= 2 || !strchr(path + 2, '\\')) return 0;
  return 1;
}

void AddFolder(Builder* b, const char* path) {
  u32 n = (u32)strlen(path);
  if (n == 0 || n >= FolderPathSize) return;
  RemovalPlan* p = b->plan;
  for (u32 i = 0; i < p->folderCount; ++i)
    if (SameText(p->folders[i], (u32)strlen(p->folders[i]), path, n)) return;
  if (p->folderCount == b->folderCapacity) return;
  CopyText(p->folders[p->folderCount++], path, FolderPathSize);
}

u32 Depth(const char* path) {
  u32 n = 0;
  for (; *path; ++path) n += *path == '\\';
  return n;
}

}  // namespace

int BuildRemovalPlan(const UninstallLog* log, const char* uninstallerFolder, RemovalPlan* plan) {
  memset(plan, 0, sizeof *plan);
  // Folders: per shortcut its own and `depth` above; per file at most as many
  // as its path has backslashes (a path holds at most 259 characters).
  u32 own = Depth(uninstallerFolder);
  uint64_t folderCapacity = 0;
  for (u32 i = 0; i < log->shortcutCount; ++i) folderCapacity += 1u + log->shortcuts[i].depth;
  for (u32 i = 0; i < log->fileCount; ++i) {
    const LogText& f = log->files[i].folder;
    if (f.length && f.text[0] == '.') {
      u32 d = 1;
      for (u32 k = 0; k < f.length; ++k) d += f.text[k] == '\\';
      folderCapacity += d;
    } else {
      folderCapacity += 1;
    }
  }
  uint64_t steps = (uint64_t)log->shortcutCount + log->fileCount + log->registryCount +
                   folderCapacity;
  uint64_t bytes = steps * sizeof(RemovalStep) + folderCapacity * FolderPathSize;
  if (bytes > 0x7FFFFFFF) return 0;
  u8* block = nullptr;
  if (!AllocZeroed((u32)bytes + 1, &block)) return 0;
  plan->block = block;
  plan->folders = (char(*)[FolderPathSize])block;
  plan->steps = (RemovalStep*)(block + folderCapacity * FolderPathSize);
  Builder b = {plan, (u32)folderCapacity};

  for (u32 k = log->installations; k-- > 0;) {
    for (u32 i = log->shortcutCount; i-- > 0;)
      if (log->shortcuts[i].installation == k) plan->steps[plan->stepCount++] = {StepShortcut, i};
    for (u32 i = log->fileCount; i-- > 0;)
      if (log->files[i].installation == k) plan->steps[plan->stepCount++] = {StepFile, i};
    for (u32 i = log->registryCount; i-- > 0;)
      if (log->registry[i].installation == k) plan->steps[plan->stepCount++] = {StepRegistry, i};
  }

  char path[520];
  for (u32 i = 0; i < log->shortcutCount; ++i) {
    if (!ShortcutFolder(&log->shortcuts[i], path)) continue;
    AddFolder(&b, path);
    for (u32 up = 0; up < log->shortcuts[i].depth && ToParent(path); ++up) AddFolder(&b, path);
  }
  for (u32 i = 0; i < log->fileCount; ++i) {
    const LoggedFile& f = log->files[i];
    if (!LoggedFilePath(&f, uninstallerFolder, path, sizeof path)) continue;
    if (!ToParent(path)) continue;
    AddFolder(&b, path);
    if (f.folder.text[0] != '.') continue;
    // Up to the uninstaller's own folder (its depth without the trailing
    // backslash is own - 1 backslashes).
    while (Depth(path) + 1 > own && ToParent(path)) AddFolder(&b, path);
  }
  // Deepest first, so that a folder is empty by the time it comes.
  u32 first = plan->stepCount;
  for (u32 i = 0; i < plan->folderCount; ++i) plan->steps[plan->stepCount++] = {StepFolder, i};
  for (u32 i = first + 1; i < plan->stepCount; ++i) {
    RemovalStep s = plan->steps[i];
    u32 d = Depth(plan->folders[s.item]);
    u32 j = i;
    for (; j > first && Depth(plan->folders[plan->steps[j - 1].item]) < d; --j)
      plan->steps[j] = plan->steps[j - 1];
    plan->steps[j] = s;
  }
  return 1;
}

void FreeRemovalPlan(RemovalPlan* plan) {
  FreeBlock(&plan->block);
  memset(plan, 0, sizeof *plan);
}

// Outside Windows (the package builder's inspector, unit tests, fuzzing) no
// earlier installation can be detected: a group's folder is its default
// folder as stored, unexpanded.
#include <strings.h>

#include "package/tables.h"
#include "base/run_state.h"

void DetectInstallDir(RecordView record) {
  const char* folder = RecordText(record, GroupDefaultFolder);
  if (folder && strcasecmp(folder, "#parent#") != 0) CopyText(InstallDir, folder, PathSize);
}

void CorrectPathCase(char*) {}

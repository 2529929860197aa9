/* Stands in for the programs a setup program starts: appends one line
   "<own file name>|<command line>|<current folder>" to the log named by the
   environment variable SETRUN_RECORDER_LOG (default C:\setrun-recorder.log)
   and ends with exit code 0.
   Words anywhere on its command line change what it does next:
     --sleep-ms=N    waits N milliseconds, then appends "<name>|end";
     --until=NAME    waits until the log holds a line that begins with NAME|,
                     then appends "<name>|end" (or "<name>|timeout" after
                     two minutes).
   Programs started by the setup program and waited for (or not) show in the
   order of these lines. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

static char log_path[MAX_PATH];

static void append(const char* text) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    HANDLE file = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD done;
      WriteFile(file, text, (DWORD)strlen(text), &done, NULL);
      WriteFile(file, "\r\n", 2, &done, NULL);
      CloseHandle(file);
      return;
    }
    Sleep(50);  /* another recorder is writing */
  }
}

static int log_has_line(const char* name) {
  HANDLE file = CreateFileA(log_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  static char text[1 << 16];
  DWORD done = 0;
  ReadFile(file, text, sizeof text - 1, &done, NULL);
  CloseHandle(file);
  text[done] = 0;
  size_t n = strlen(name);
  for (const char* line = text; *line;) {
    if (_strnicmp(line, name, n) == 0 && line[n] == '|') return 1;
    const char* next = strchr(line, '\n');
    if (!next) break;
    line = next + 1;
  }
  return 0;
}

/* The value of "--word=" on the command line, up to the next blank or
   quotation mark, or an empty text. */
static void option(const char* line, const char* word, char* out, size_t size) {
  out[0] = 0;
  const char* at = strstr(line, word);
  if (!at) return;
  at += strlen(word);
  size_t n = 0;
  while (at[n] && at[n] != ' ' && at[n] != '"' && n + 1 < size) ++n;
  memcpy(out, at, n);
  out[n] = 0;
}

int main(void) {
  if (!GetEnvironmentVariableA("SETRUN_RECORDER_LOG", log_path, MAX_PATH) || !log_path[0])
    strcpy(log_path, "C:\\setrun-recorder.log");
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  const char* name = strrchr(self, '\\') ? strrchr(self, '\\') + 1 : self;
  char folder[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, folder);
  const char* line = GetCommandLineA();
  static char record[1 << 15];
  lstrcpynA(record, name, sizeof record);
  lstrcatA(record, "|");
  if (strlen(record) + strlen(line) + strlen(folder) + 2 < sizeof record) {
    lstrcatA(record, line);
    lstrcatA(record, "|");
    lstrcatA(record, folder);
  }
  append(record);

  char value[MAX_PATH];
  char ending[MAX_PATH + 16];
  option(line, "--sleep-ms=", value, sizeof value);
  if (value[0]) {
    Sleep((DWORD)atoi(value));
    lstrcpyA(ending, name);
    lstrcatA(ending, "|end");
    append(ending);
  }
  option(line, "--until=", value, sizeof value);
  if (value[0]) {
    int seen = 0;
    for (int i = 0; i < 2400 && !(seen = log_has_line(value)); ++i) Sleep(50);
    lstrcpyA(ending, name);
    lstrcatA(ending, seen ? "|end" : "|timeout");
    append(ending);
  }
  return 0;
}

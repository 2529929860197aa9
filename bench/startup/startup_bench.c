/* Start-up benchmark (not a test): the time from starting a program to its
 * first window drawn, for several programs, round by round interleaved.
 *
 *   startup_bench ROUNDS LABEL=PROGRAM [LABEL=PROGRAM ...]
 *
 * A program counts as drawn when a visible window of its process holds a
 * visible control with id 1000 (a setup program's first page has its text
 * there; trivial_window.exe has a static text with that id) and neither that
 * control nor its parent has anything left to paint (no update region).
 * The program is then ended (TerminateProcess) and waited for before the next
 * start. Prints one line per program: median, lowest and highest wall time
 * in ms, and the median's difference to the first program's (the baseline). */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_PROGRAMS 8
#define MAX_ROUNDS 200
#define LIMIT_MS 60000

struct Search {
  DWORD pid;
  HWND found;
};

static BOOL CALLBACK FindControl(HWND window, LPARAM data) {
  struct Search* s = (struct Search*)data;
  if (GetDlgCtrlID(window) == 1000 && IsWindowVisible(window)) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

static BOOL CALLBACK FindTopLevel(HWND window, LPARAM data) {
  struct Search* s = (struct Search*)data;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != s->pid || !IsWindowVisible(window)) return TRUE;
  EnumChildWindows(window, FindControl, data);
  return s->found == NULL;
}

/* 1 when the process shows control 1000 fully painted. */
static int Drawn(DWORD pid) {
  struct Search s = {pid, NULL};
  EnumWindows(FindTopLevel, (LPARAM)&s);
  if (!s.found) return 0;
  HWND parent = GetParent(s.found);
  return !GetUpdateRect(s.found, NULL, FALSE) && !(parent && GetUpdateRect(parent, NULL, FALSE));
}

/* Wall time in ms from CreateProcess to the first window drawn; < 0 on failure. */
static double StartOnce(const char* program) {
  char command[MAX_PATH + 2];
  snprintf(command, sizeof command, "\"%s\"", program);
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(program, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return -1;
  double ms = -1;
  for (;;) {
    QueryPerformanceCounter(&now);
    double elapsed = (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    if (Drawn(pi.dwProcessId)) {
      ms = elapsed;
      break;
    }
    if (elapsed > LIMIT_MS || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
    Sleep(1);
  }
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, LIMIT_MS);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ms;
}

static int Compare(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: startup_bench ROUNDS LABEL=PROGRAM [LABEL=PROGRAM ...]\n");
    return 2;
  }
  int rounds = atoi(argv[1]);
  int count = argc - 2;
  if (rounds < 1 || rounds > MAX_ROUNDS || count > MAX_PROGRAMS) return 2;
  static double times[MAX_PROGRAMS][MAX_ROUNDS];
  const char* labels[MAX_PROGRAMS];
  const char* programs[MAX_PROGRAMS];
  for (int p = 0; p < count; ++p) {
    char* equals = strchr(argv[p + 2], '=');
    if (!equals) return 2;
    *equals = 0;
    labels[p] = argv[p + 2];
    programs[p] = equals + 1;
  }
  /* One start of each first: the loader's and the system's caches warm up. */
  for (int p = 0; p < count; ++p) StartOnce(programs[p]);
  for (int r = 0; r < rounds; ++r) {
    for (int p = 0; p < count; ++p) {
      times[p][r] = StartOnce(programs[p]);
      if (times[p][r] < 0) {
        fprintf(stderr, "%s: %s did not show its window\n", labels[p], programs[p]);
        return 1;
      }
    }
  }
  printf("%d rounds; wall time from the start to the first window drawn\n", rounds);
  printf("%-34s %9s %9s %9s %12s\n", "", "median ms", "lowest", "highest", "- baseline");
  double baseline = 0;
  for (int p = 0; p < count; ++p) {
    qsort(times[p], (size_t)rounds, sizeof(double), Compare);
    double median = times[p][rounds / 2];
    if (p == 0) baseline = median;
    printf("%-34s %9.1f %9.1f %9.1f %12.1f\n", labels[p], median, times[p][0], times[p][rounds - 1],
           median - baseline);
  }
  return 0;
}

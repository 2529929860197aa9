/* Test driver for the setup program's windows: runs beside it under Wine and
 * works through a script of commands, one per line, as a user would: waits
 * for windows, reads and types control texts, presses buttons, answers
 * message boxes, takes screenshots and collects the exit code.
 *
 *   wizard_driver [-o OUT] [-k] [-f SCRIPT] ["COMMAND" ...]
 *
 * Each COMMAND argument is one script line; -f reads lines from a file
 * first. Every command writes one line: "ok STEP VERB key=value ..." or
 * "FAIL STEP VERB: reason"; a failure stops the script and is followed by
 * the window tree ("| " lines). -k ends the watched process when a step
 * fails (exit code 199), so that a failed test leaves nothing running.
 * Exit code: 0 when every step succeeded, 1 when one failed, 2 on a usage
 * error. Paths starting with "/" name host files through Wine's drive Z:.
 * The command language is described in tests/wizard/README.md. */
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMaxWords = 32, kMaxLine = 8192, kMaxWindows = 512, kKilledCode = 199 };

static FILE* output;
static DWORD wait_limit = 30000;      /* ms each wait and each click may take */
static int step;
static const char* verb = "";
static HANDLE process;                /* the watched setup program */
static DWORD process_id;
static HWND backdrop, frame, page;    /* the wizard as last found */
static HWND scope;                    /* where control ids are looked up */
static HWND found_window;             /* the last window of "window" */

/* ---- output ------------------------------------------------------------ */

/* Writes text in double quotes; quotes, backslashes, control and non-ASCII
 * bytes are escaped so that every result stays on one line. */
static void PutQuoted(const char* text) {
  fputc('"', output);
  for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
    if (*p == '"' || *p == '\\') fprintf(output, "\\%c", *p);
    else if (*p == '\n') fputs("\\n", output);
    else if (*p == '\t') fputs("\\t", output);
    else if (*p < 0x20 || *p >= 0x7F) fprintf(output, "\\x%02x", *p);
    else fputc(*p, output);
  }
  fputc('"', output);
}

static void Ok(const char* format, ...) {
  fprintf(output, "ok %d %s", step, verb);
  if (format && *format) {
    va_list args;
    va_start(args, format);
    fputc(' ', output);
    vfprintf(output, format, args);
    va_end(args);
  }
}

static void EndLine(void) {
  fputc('\n', output);
  fflush(output);
}

/* Reports a failed step; the caller returns 0 and the tree follows. */
static int Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fprintf(output, "FAIL %d %s: ", step, verb);
  vfprintf(output, format, args);
  va_end(args);
  EndLine();
  return 0;
}

/* ---- windows ----------------------------------------------------------- */

/* Window handles as the output shows them. */
static unsigned long Handle(HWND w) {
  return (unsigned long)(ULONG_PTR)w;
}

static int ClassIs(HWND w, const char* name) {
  char cls[64];
  return GetClassNameA(w, cls, sizeof cls) && lstrcmpiA(cls, name) == 0;
}

/* The text of a window by WM_GETTEXT (edit and rich-edit controls keep theirs
 * outside the caption), with line breaks as "\n"; NULL when the window did
 * not answer within `ms`. The caller frees it. */
static char* ReadText(HWND w, UINT ms) {
  DWORD_PTR length = 0, got = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, ms, &length)) return NULL;
  if (length > (1u << 20)) length = 1u << 20;
  size_t size = length * 2 + 2;       /* rich edit may count a break as one */
  char* text = (char*)calloc(size, 1);
  if (!text) return NULL;
  if (!SendMessageTimeoutA(w, WM_GETTEXT, size, (LPARAM)text, SMTO_ABORTIFHUNG, ms, &got)) {
    free(text);
    return NULL;
  }
  text[size - 1] = 0;
  char* to = text;
  for (const char* from = text; *from; ++from) {
    if (*from == '\r') {
      *to++ = '\n';
      if (from[1] == '\n') ++from;
    } else {
      *to++ = *from;
    }
  }
  *to = 0;
  return text;
}

static int BelongsToSetup(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return !process_id || pid == process_id;
}

static int HasChildClass(HWND parent, const char* name) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (ClassIs(c, name)) return 1;
  return 0;
}

static HWND ChildWithId(HWND parent, int id) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (GetDlgCtrlID(c) == id) return c;
  return NULL;
}

/* Depth-first search below `root` for a control with `id`; a visible one is
 * preferred to a hidden one. */
static HWND FindControl(HWND root, int id, HWND* hidden) {
  for (HWND c = GetWindow(root, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(c) == id) {
      if (IsWindowVisible(c)) return c;
      if (!*hidden) *hidden = c;
    }
    HWND below = FindControl(c, id, hidden);
    if (below) return below;
  }
  return NULL;
}

static HWND ControlById(HWND root, int id) {
  HWND hidden = NULL;
  HWND w = FindControl(root, id, &hidden);
  return w ? w : hidden;
}

typedef struct {
  HWND list[kMaxWindows];
  int count;
  DWORD thread;                       /* 0: every thread */
  int visible_only, setup_only;
} WindowList;

static BOOL CALLBACK AddTopLevel(HWND w, LPARAM data) {
  WindowList* l = (WindowList*)data;
  if (l->count >= kMaxWindows) return FALSE;
  if (l->thread && GetWindowThreadProcessId(w, NULL) != l->thread) return TRUE;
  if (l->visible_only && !IsWindowVisible(w)) return TRUE;
  if (l->setup_only && !BelongsToSetup(w)) return TRUE;
  l->list[l->count++] = w;
  return TRUE;
}

static void TopLevels(WindowList* l, DWORD thread, int visible_only, int setup_only) {
  l->count = 0;
  l->thread = thread;
  l->visible_only = visible_only;
  l->setup_only = setup_only;
  EnumWindows(AddTopLevel, (LPARAM)l);
}

static int Listed(const WindowList* l, HWND w) {
  for (int i = 0; i < l->count; ++i)
    if (l->list[i] == w) return 1;
  return 0;
}

/* The wizard's frame: a dialog that holds dialogs (the panes), either a
 * child of the backdrop (windowed mode) or a popup it owns (full screen). */
static HWND FrameOf(HWND back) {
  for (HWND c = GetWindow(back, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (ClassIs(c, "#32770") && HasChildClass(c, "#32770")) return c;
  WindowList tops;
  TopLevels(&tops, 0, 1, 1);
  for (int i = 0; i < tops.count; ++i) {
    HWND w = tops.list[i];
    if (GetWindow(w, GW_OWNER) == back && ClassIs(w, "#32770") && HasChildClass(w, "#32770"))
      return w;
  }
  return NULL;
}

/* The page window among the frame's panes: the visible dialog with controls
 * that is neither the button bar (1, 2, 1045) nor the header pane (1046,
 * 1047); the side pane has no controls. */
static HWND PageOf(HWND fr) {
  for (HWND c = GetWindow(fr, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!ClassIs(c, "#32770") || !IsWindowVisible(c) || !GetWindow(c, GW_CHILD)) continue;
    if (ChildWithId(c, 1) || ChildWithId(c, 2) || ChildWithId(c, 1045)) continue;
    if (ChildWithId(c, 1046) || ChildWithId(c, 1047)) continue;
    return c;
  }
  return NULL;
}

/* The page title: control 1046 of the header pane, when it shows. */
static char* PageTitle(HWND fr) {
  for (HWND c = GetWindow(fr, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    HWND title = ChildWithId(c, 1046);
    if (title && IsWindowVisible(title)) return ReadText(title, wait_limit);
  }
  return NULL;
}

/* ---- the tree shown with every failure -------------------------------- */

static void DumpWindow(HWND w, int depth, int top) {
  char cls[64] = "";
  RECT r = {0, 0, 0, 0};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowRect(w, &r);
  char* text = ReadText(w, 500);
  if (text && strlen(text) > 60) strcpy(text + 57, "...");
  fprintf(output, "| %*s0x%lx %s", depth * 2, "", Handle(w), cls);
  if (top) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    fprintf(output, " pid=%lu", (unsigned long)pid);
    if (GetWindow(w, GW_OWNER)) fprintf(output, " owner=0x%lx", Handle(GetWindow(w, GW_OWNER)));
  } else {
    fprintf(output, " id=%d", GetDlgCtrlID(w));
  }
  fputc(' ', output);
  PutQuoted(text ? text : "(no answer)");
  fprintf(output, " (%ld,%ld %ldx%ld)%s%s\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
          IsWindowVisible(w) ? " visible" : " hidden", IsWindowEnabled(w) ? " enabled" : " disabled");
  free(text);
  for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) DumpWindow(c, depth + 1, 0);
}

/* Every top-level window of the setup program (only the visible ones of
 * every program when none is watched yet). */
static void DumpTree(void) {
  WindowList tops;
  TopLevels(&tops, 0, !process_id, 1);
  fprintf(output, "| windows%s:\n", process_id ? " of the setup program" : " on screen");
  for (int i = 0; i < tops.count; ++i) {
    if (ClassIs(tops.list[i], "IME") || ClassIs(tops.list[i], "MSCTFIME UI")) continue;
    DumpWindow(tops.list[i], 1, 1);
  }
  if (tops.count == 0) fputs("|   (none)\n", output);
  fflush(output);
}

/* ---- helpers of the commands ------------------------------------------ */

static void Watch(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (process_id == pid) return;
  if (process) CloseHandle(process);
  process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
  process_id = pid;
}

/* Waits until probe(context) gives a window, or the time limit passes. */
static HWND Poll(HWND (*probe)(void*), void* context) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = probe(context);
    if (w || GetTickCount() - start >= wait_limit) return w;
    Sleep(50);
  }
}

static const char* Option(int argc, char** argv, const char* key) {
  size_t n = strlen(key);
  for (int i = 0; i < argc; ++i)
    if (strncmp(argv[i], key, n) == 0 && argv[i][n] == '=') return argv[i] + n + 1;
  return NULL;
}

static int HasWord(int argc, char** argv, const char* word) {
  for (int i = 0; i < argc; ++i)
    if (strcmp(argv[i], word) == 0) return 1;
  return 0;
}

static int ParseNumber(const char* text, long* value) {
  char* end;
  *value = strtol(text, &end, 0);
  return *text && !*end;
}

/* A target: backdrop, frame, page, window (the last found by "window"), or a
 * control id looked up below the scope. NULL when it does not exist now;
 * `why` says what is missing. */
static HWND Target(const char* name, const char** why) {
  long id;
  *why = NULL;
  if (strcmp(name, "backdrop") == 0) return IsWindow(backdrop) ? backdrop : (*why = "no wizard found yet", NULL);
  if (strcmp(name, "frame") == 0) return IsWindow(frame) ? frame : (*why = "no wizard found yet", NULL);
  if (strcmp(name, "page") == 0) {
    if (!IsWindow(frame)) return *why = "no wizard found yet", NULL;
    return PageOf(frame);
  }
  if (strcmp(name, "window") == 0) return IsWindow(found_window) ? found_window : (*why = "no window found yet", NULL);
  if (!ParseNumber(name, &id)) return *why = "not a control id or window name", NULL;
  if (!IsWindow(scope)) return *why = "no wizard or window to look in: use wizard or window first", NULL;
  return ControlById(scope, (int)id);
}

/* How a target is named in messages: "control 1004", or the window's name. */
static const char* Named(const char* target) {
  static char named[64];
  long id;
  if (!ParseNumber(target, &id)) return target;
  snprintf(named, sizeof named, "control %s", target);
  return named;
}

static int EnabledWithParents(HWND w) {
  for (; w; w = GetAncestor(w, GA_PARENT))
    if (!IsWindowEnabled(w)) return 0;
  return 1;
}

/* Sends are numbered: a send that opened a window is answered later, maybe
 * while a later send waits, and must not count as that one's answer. */
static ULONG_PTR sends;
static int sent_back;
static VOID CALLBACK SentBack(HWND w, UINT message, ULONG_PTR data, LRESULT result) {
  (void)w, (void)message, (void)result;
  if (data == sends) sent_back = 1;
}

/* Sends a message as a click would arrive and waits until the setup program
 * has handled it, or until handling it opened a new window of the program
 * (a message box or dialog, whose modal loop would hold a plain send), or the
 * target is gone. Writes how it ended into `how`; 0 when none of these
 * happened within the time limit. */
static int Deliver(HWND target, UINT message, WPARAM wparam, LPARAM lparam, char* how, size_t size) {
  DWORD thread = GetWindowThreadProcessId(target, NULL);
  WindowList before, now;
  TopLevels(&before, thread, 1, 0);
  sent_back = 0;
  if (!SendMessageCallbackA(target, message, wparam, lparam, SentBack, ++sends)) {
    snprintf(how, size, "the message could not be sent (error %lu)", GetLastError());
    return 0;
  }
  DWORD start = GetTickCount();
  for (;;) {
    MSG m;
    while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    if (sent_back) return snprintf(how, size, "handled"), 1;
    if (!IsWindow(target)) return snprintf(how, size, "gone"), 1;
    TopLevels(&now, thread, 1, 0);
    for (int i = 0; i < now.count; ++i)
      if (!Listed(&before, now.list[i])) return snprintf(how, size, "opened=0x%lx", Handle(now.list[i])), 1;
    if (GetTickCount() - start >= wait_limit) {
      snprintf(how, size, "not handled within %lu ms", (unsigned long)wait_limit);
      return 0;
    }
    MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
  }
}

/* Host paths ("/...") become paths on Wine's drive Z:. */
static void WindowsPath(const char* path, char* out, size_t size) {
  if (path[0] == '/') snprintf(out, size, "Z:%s", path);
  else snprintf(out, size, "%s", path);
  for (char* p = out; *p; ++p)
    if (*p == '/') *p = '\\';
}

/* ---- the commands ------------------------------------------------------ */

static int CmdTimeout(int argc, char** argv) {
  long ms;
  if (argc != 1 || !ParseNumber(argv[0], &ms) || ms <= 0) return Fail("usage: timeout MILLISECONDS");
  wait_limit = (DWORD)ms;
  Ok("ms=%lu", (unsigned long)wait_limit);
  EndLine();
  return 1;
}

static int CmdStart(int argc, char** argv) {
  if (argc < 1) return Fail("usage: start PROGRAM [ARGUMENTS...]");
  char line[kMaxLine], program[MAX_PATH];
  WindowsPath(argv[0], program, sizeof program);
  snprintf(line, sizeof line, "\"%s\"", program);
  for (int i = 1; i < argc; ++i) {
    size_t n = strlen(line);
    snprintf(line + n, sizeof line - n, strpbrk(argv[i], " \t") || !*argv[i] ? " \"%s\"" : " %s", argv[i]);
  }
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
    return Fail("cannot start %s (error %lu)", program, GetLastError());
  CloseHandle(pi.hThread);
  if (process) CloseHandle(process);
  process = pi.hProcess;
  process_id = pi.dwProcessId;
  Ok("pid=%lu", (unsigned long)process_id);
  EndLine();
  return 1;
}

static const char* wanted_title;

static HWND ProbeWizard(void* unused) {
  (void)unused;
  WindowList tops;
  TopLevels(&tops, 0, 1, 1);
  for (int i = 0; i < tops.count; ++i) {
    HWND w = tops.list[i];
    if (!ClassIs(w, "SetrunClass")) continue;
    if (wanted_title) {
      char caption[512];
      GetWindowTextA(w, caption, sizeof caption);
      if (strcmp(caption, wanted_title) != 0) continue;
    }
    HWND fr = FrameOf(w);
    if (fr && PageOf(fr)) {
      backdrop = w;
      frame = fr;
      return w;
    }
  }
  return NULL;
}

static void ReportPage(void) {
  char* title = PageTitle(frame);
  fprintf(output, " page=0x%lx title=", Handle(page));
  PutQuoted(title ? title : "");
  free(title);
}

static int CmdWizard(int argc, char** argv) {
  wanted_title = Option(argc, argv, "title");
  if (!Poll(ProbeWizard, NULL))
    return Fail("no wizard (a window of class SetrunClass%s%s%s holding a frame with a page) within %lu ms",
                wanted_title ? " with the caption \"" : "", wanted_title ? wanted_title : "",
                wanted_title ? "\"" : "", (unsigned long)wait_limit);
  Watch(backdrop);
  page = PageOf(frame);
  scope = frame;
  Ok("backdrop=0x%lx frame=0x%lx mode=%s pid=%lu", Handle(backdrop), Handle(frame),
     GetParent(frame) == backdrop && (GetWindowLongA(frame, GWL_STYLE) & WS_CHILD) ? "windowed" : "full-screen",
     (unsigned long)process_id);
  ReportPage();
  EndLine();
  return 1;
}

static HWND ProbeNewPage(void* unused) {
  (void)unused;
  HWND now = IsWindow(frame) ? PageOf(frame) : NULL;
  return now != page ? now : NULL;
}

static int CmdWaitPage(int argc, char** argv) {
  (void)argv;
  if (argc != 0) return Fail("usage: wait-page");
  if (!IsWindow(frame)) return Fail("no wizard found yet");
  HWND next = Poll(ProbeNewPage, NULL);
  if (!next) return Fail("no page other than 0x%lx within %lu ms", Handle(page), (unsigned long)wait_limit);
  page = next;
  scope = frame;
  Ok("");
  ReportPage();
  EndLine();
  return 1;
}

typedef struct {
  const char *cls, *title;
  long has;
  int child;
} WindowQuery;

static int MatchesQuery(HWND w, const WindowQuery* q) {
  if (!IsWindowVisible(w)) return 0;
  if (q->cls && !ClassIs(w, q->cls)) return 0;
  if (q->title) {
    char caption[512];
    GetWindowTextA(w, caption, sizeof caption);
    if (strcmp(caption, q->title) != 0) return 0;
  }
  return q->has < 0 || ChildWithId(w, (int)q->has);
}

static HWND SearchBelow(HWND parent, const WindowQuery* q) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (MatchesQuery(c, q)) return c;
    HWND below = SearchBelow(c, q);
    if (below) return below;
  }
  return NULL;
}

static HWND ProbeWindow(void* context) {
  const WindowQuery* q = (const WindowQuery*)context;
  WindowList tops;
  TopLevels(&tops, 0, 1, 1);
  for (int i = 0; i < tops.count; ++i) {
    HWND w = q->child ? SearchBelow(tops.list[i], q) : (MatchesQuery(tops.list[i], q) ? tops.list[i] : NULL);
    if (w) return w;
  }
  return NULL;
}

static int CmdWindow(int argc, char** argv) {
  WindowQuery q = {Option(argc, argv, "class"), Option(argc, argv, "title"), -1, HasWord(argc, argv, "child")};
  const char* has = Option(argc, argv, "has");
  if (has && !ParseNumber(has, &q.has)) return Fail("has= takes a control id");
  if (!q.cls && !q.title) return Fail("usage: window [class=CLASS] [title=CAPTION] [has=ID] [child]");
  HWND w = Poll(ProbeWindow, &q);
  if (!w)
    return Fail("no visible %s window%s%s%s%s%s%s%s within %lu ms", q.child ? "child" : "top-level",
                q.cls ? " of class " : "", q.cls ? q.cls : "", q.title ? " with the caption \"" : "",
                q.title ? q.title : "", q.title ? "\"" : "", has ? " holding control " : "", has ? has : "",
                (unsigned long)wait_limit);
  if (!process_id) Watch(w);
  found_window = scope = w;
  char cls[64] = "";
  GetClassNameA(w, cls, sizeof cls);
  char* text = ReadText(w, wait_limit);
  Ok("window=0x%lx class=", Handle(w));
  PutQuoted(cls);
  fputs(" title=", output);
  PutQuoted(text ? text : "");
  EndLine();
  free(text);
  return 1;
}

static int CmdText(int argc, char** argv) {
  const char* why;
  if (argc != 1) return Fail("usage: text TARGET");
  HWND w = Target(argv[0], &why);
  if (!w) return Fail("%s: %s", Named(argv[0]), why ? why : "no such control");
  char* text = ReadText(w, wait_limit);
  if (!text) return Fail("%s did not answer within %lu ms", Named(argv[0]), (unsigned long)wait_limit);
  Ok("target=%s text=", argv[0]);
  PutQuoted(text);
  EndLine();
  free(text);
  return 1;
}

typedef struct {
  int exists, visible, enabled, checked, readonly, focused;
  char cls[64];
} ControlState;

static void ReadState(HWND w, ControlState* s) {
  memset(s, 0, sizeof *s);
  s->checked = -1;
  if (!w || !IsWindow(w)) return;
  s->exists = 1;
  s->visible = IsWindowVisible(w) != 0;
  s->enabled = IsWindowEnabled(w) != 0;
  GetClassNameA(w, s->cls, sizeof s->cls);
  LONG style = GetWindowLongA(w, GWL_STYLE);
  if (lstrcmpiA(s->cls, "Button") == 0) {
    LONG kind = style & BS_TYPEMASK;
    if (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_RADIOBUTTON ||
        kind == BS_AUTORADIOBUTTON || kind == BS_3STATE || kind == BS_AUTO3STATE) {
      DWORD_PTR check = 0;
      if (SendMessageTimeoutA(w, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, wait_limit, &check))
        s->checked = (int)check;
    }
  }
  s->readonly = (ClassIs(w, "Edit") || strncmp(s->cls, "RichEdit", 8) == 0 || ClassIs(w, "RICHEDIT")) &&
                (style & ES_READONLY);
  GUITHREADINFO gui;
  memset(&gui, 0, sizeof gui);
  gui.cbSize = sizeof gui;
  s->focused = GetGUIThreadInfo(GetWindowThreadProcessId(w, NULL), &gui) && gui.hwndFocus == w;
}

static int CmdState(int argc, char** argv) {
  const char* why;
  if (argc != 1) return Fail("usage: state TARGET");
  HWND w = Target(argv[0], &why);
  if (!w) return Fail("%s: %s", Named(argv[0]), why ? why : "no such control");
  ControlState s;
  ReadState(w, &s);
  Ok("target=%s class=", argv[0]);
  PutQuoted(s.cls);
  fprintf(output, " visible=%d enabled=%d", s.visible, s.enabled);
  if (s.checked >= 0) fprintf(output, " checked=%d", s.checked);
  fprintf(output, " readonly=%d focused=%d", s.readonly, s.focused);
  EndLine();
  return 1;
}

static const char* const kConditions[] = {"exists", "gone", "visible", "hidden", "enabled", "disabled",
                                          "checked", "unchecked", "readonly", "writable", "focused"};

static int Holds(const ControlState* s, int condition) {
  switch (condition) {
    case 0: return s->exists;
    case 1: return !s->exists;
    case 2: return s->exists && s->visible;
    case 3: return s->exists && !s->visible;
    case 4: return s->exists && s->enabled;
    case 5: return s->exists && !s->enabled;
    case 6: return s->checked == 1;
    case 7: return s->checked == 0;
    case 8: return s->exists && s->readonly;
    case 9: return s->exists && !s->readonly;
    default: return s->focused;
  }
}

static int CmdWaitState(int argc, char** argv) {
  int condition = -1;
  const char* why;
  for (int i = 0; argc == 2 && i < (int)(sizeof kConditions / sizeof *kConditions); ++i)
    if (strcmp(argv[1], kConditions[i]) == 0) condition = i;
  if (condition < 0)
    return Fail("usage: wait-state TARGET exists|gone|visible|hidden|enabled|disabled|checked|"
                "unchecked|readonly|writable|focused");
  DWORD start = GetTickCount();
  ControlState s;
  for (;;) {
    ReadState(Target(argv[0], &why), &s);
    if (Holds(&s, condition)) break;
    if (GetTickCount() - start >= wait_limit)
      return Fail("%s did not become %s within %lu ms (exists=%d visible=%d enabled=%d checked=%d readonly=%d)",
                  Named(argv[0]), argv[1], (unsigned long)wait_limit, s.exists, s.visible, s.enabled, s.checked,
                  s.readonly);
    Sleep(50);
  }
  Ok("target=%s state=%s", argv[0], argv[1]);
  EndLine();
  return 1;
}

static int CmdWaitText(int argc, char** argv) {
  int part = argc == 3 && strcmp(argv[1], "contains") == 0;
  if (argc != 2 && !part) return Fail("usage: wait-text TARGET [contains] TEXT");
  const char* wanted = argv[argc - 1];
  const char* why = NULL;
  char* last = NULL;
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = Target(argv[0], &why);
    char* text = w ? ReadText(w, wait_limit) : NULL;
    if (text) {
      free(last);
      last = text;
      if (part ? strstr(text, wanted) != NULL : strcmp(text, wanted) == 0) break;
    }
    if (GetTickCount() - start >= wait_limit) {
      fprintf(output, "FAIL %d %s: %s did not read %s", step, verb, Named(argv[0]), part ? "a text containing " : "");
      PutQuoted(wanted);
      fprintf(output, " within %lu ms; ", (unsigned long)wait_limit);
      if (last) fputs("it read ", output), PutQuoted(last);
      else fputs(why ? why : "no such control", output);
      EndLine();
      free(last);
      return 0;
    }
    Sleep(50);
  }
  Ok("target=%s text=", argv[0]);
  PutQuoted(last);
  EndLine();
  free(last);
  return 1;
}

static int CmdSetText(int argc, char** argv) {
  const char* why;
  if (argc != 2) return Fail("usage: set-text TARGET TEXT");
  HWND w = Target(argv[0], &why);
  if (!w) return Fail("%s: %s", Named(argv[0]), why ? why : "no such control");
  ControlState s;
  ReadState(w, &s);
  if (!s.visible || !EnabledWithParents(w) || s.readonly)
    return Fail("%s cannot be typed into (visible=%d enabled=%d readonly=%d)", Named(argv[0]), s.visible,
                EnabledWithParents(w), s.readonly);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(w, WM_SETTEXT, 0, (LPARAM)argv[1], SMTO_NORMAL, wait_limit, &result) || !result)
    return Fail("%s did not take the text", Named(argv[0]));
  Ok("target=%s text=", argv[0]);
  PutQuoted(argv[1]);
  EndLine();
  return 1;
}

/* Presses a button as a click does (BM_CLICK: check boxes and radio buttons
 * change their state too); a hidden or disabled one cannot be pressed. */
static int CmdClick(int argc, char** argv) {
  const char* why;
  char how[64];
  if (argc != 1) return Fail("usage: click TARGET");
  HWND w = Target(argv[0], &why);
  if (!w) return Fail("%s: %s", Named(argv[0]), why ? why : "no such control");
  if (!IsWindowVisible(w)) return Fail("%s is hidden", Named(argv[0]));
  if (!EnabledWithParents(w)) return Fail("%s is disabled", Named(argv[0]));
  if (!Deliver(w, BM_CLICK, 0, 0, how, sizeof how)) return Fail("%s: %s", Named(argv[0]), how);
  Ok("target=%s %s", argv[0], how);
  EndLine();
  return 1;
}

/* The close box of a window: WM_SYSCOMMAND with SC_CLOSE. */
static int CmdClose(int argc, char** argv) {
  const char* name = argc > 0 ? argv[0] : "backdrop";
  const char* why;
  char how[64];
  if (argc > 1) return Fail("usage: close [TARGET]");
  HWND w = Target(name, &why);
  if (!w) return Fail("%s: %s", Named(name), why ? why : "no such window");
  if (!Deliver(w, WM_SYSCOMMAND, SC_CLOSE, 0, how, sizeof how)) return Fail("%s: %s", Named(name), how);
  Ok("target=%s %s", name, how);
  EndLine();
  return 1;
}

static const struct { const char* name; WORD key; } kKeys[] = {
    {"return", VK_RETURN}, {"escape", VK_ESCAPE}, {"tab", VK_TAB}, {"space", VK_SPACE}};

/* Posts a key press to a control (default: the focused window of the scope's
 * thread); dialogs take Return and Escape from their message loop. */
static int CmdKey(int argc, char** argv) {
  WORD key = 0;
  for (size_t i = 0; argc >= 1 && i < sizeof kKeys / sizeof *kKeys; ++i)
    if (strcmp(argv[0], kKeys[i].name) == 0) key = kKeys[i].key;
  if (!key || argc > 2) return Fail("usage: key return|escape|tab|space [TARGET]");
  HWND w = NULL;
  const char* why = NULL;
  if (argc == 2) {
    w = Target(argv[1], &why);
  } else if (IsWindow(scope)) {
    GUITHREADINFO gui;
    memset(&gui, 0, sizeof gui);
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(scope, NULL), &gui)) w = gui.hwndFocus;
    why = "nothing has the focus";
  } else {
    why = "no wizard or window found yet";
  }
  if (!w) return Fail("%s", why ? why : "no such control");
  UINT scan = MapVirtualKeyA(key, 0);
  PostMessageA(w, WM_KEYDOWN, key, 1 | scan << 16);
  if (key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE || key == VK_TAB)
    PostMessageA(w, WM_CHAR, key == VK_RETURN ? '\r' : key == VK_ESCAPE ? 27 : key == VK_TAB ? '\t' : ' ',
                 1 | scan << 16);
  PostMessageA(w, WM_KEYUP, key, 1 | scan << 16 | 0xC0000000u);
  Ok("key=%s window=0x%lx", argv[0], Handle(w));
  EndLine();
  return 1;
}

typedef struct {
  const char *caption, *button_name;
  int button;
  HWND box;
} BoxQuery;

static HWND ProbeBox(void* context) {
  BoxQuery* q = (BoxQuery*)context;
  WindowQuery wq = {"#32770", q->caption, 0xFFFF, 0};
  return q->box = ProbeWindow(&wq);
}

static int CmdAnswer(int argc, char** argv) {
  static const struct { const char* name; int id; } kButtons[] = {
      {"ok", IDOK}, {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
      {"ignore", IDIGNORE}, {"yes", IDYES}, {"no", IDNO}};
  BoxQuery q = {Option(argc, argv, "title"), argc > 0 ? argv[0] : "", 0, NULL};
  const char* exact = Option(argc, argv, "text");
  const char* part = Option(argc, argv, "contains");
  long id;
  for (size_t i = 0; i < sizeof kButtons / sizeof *kButtons; ++i)
    if (lstrcmpiA(q.button_name, kButtons[i].name) == 0) q.button = kButtons[i].id;
  if (!q.button && ParseNumber(q.button_name, &id)) q.button = (int)id;
  if (!q.button) return Fail("usage: answer ok|cancel|yes|no|abort|retry|ignore|ID [title=CAPTION] [text=TEXT|contains=TEXT]");
  if (!Poll(ProbeBox, &q))
    return Fail("no message box%s%s%s within %lu ms", q.caption ? " with the caption \"" : "",
                q.caption ? q.caption : "", q.caption ? "\"" : "", (unsigned long)wait_limit);
  char* text = ReadText(ChildWithId(q.box, 0xFFFF), wait_limit);
  if (!text) return Fail("the message box did not answer");
  if ((exact && strcmp(text, exact) != 0) || (part && !strstr(text, part))) {
    fprintf(output, "FAIL %d %s: the message box reads ", step, verb);
    PutQuoted(text);
    fprintf(output, ", expected %s", exact ? "" : "a text containing ");
    PutQuoted(exact ? exact : part);
    EndLine();
    free(text);
    return 0;
  }
  HWND button = ChildWithId(q.box, q.button);
  char how[64];
  if (!button || !IsWindowVisible(button)) {
    fprintf(output, "FAIL %d %s: the message box has no button %s (id %d); it reads ", step, verb, q.button_name,
            q.button);
    PutQuoted(text);
    EndLine();
    free(text);
    return 0;
  }
  if (!Deliver(button, BM_CLICK, 0, 0, how, sizeof how)) {
    free(text);
    return Fail("button %d: %s", q.button, how);
  }
  DWORD start = GetTickCount();
  while (IsWindow(q.box) && GetTickCount() - start < wait_limit) Sleep(20);
  if (IsWindow(q.box)) {
    free(text);
    return Fail("the message box stayed open after button %d", q.button);
  }
  Ok("button=%d text=", q.button);
  PutQuoted(text);
  EndLine();
  free(text);
  return 1;
}

/* Copies a screen rectangle into 24-bit bottom-up rows. */
static unsigned char* Grab(RECT r, DWORD* size) {
  int w = r.right - r.left, h = r.bottom - r.top;
  int stride = (w * 3 + 3) & ~3;
  *size = (DWORD)stride * (DWORD)h;
  unsigned char* rows = (unsigned char*)malloc(*size);
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  int done = 0;
  if (rows && memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    done = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, old);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    done = done && GetDIBits(memory, bitmap, 0, (UINT)h, rows, &info, DIB_RGB_COLORS) == h;
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(NULL, screen);
  if (!done) free(rows);
  return done ? rows : NULL;
}

/* Takes a picture of a window (as it shows on the screen, overlapping windows
 * included) or of the whole screen, once three grabs in a row agree. */
static int CmdShot(int argc, char** argv) {
  if (argc < 1 || argc > 2) return Fail("usage: shot FILE.bmp [screen|backdrop|frame|page|window|ID]");
  const char* name = argc == 2 ? argv[1] : "screen";
  RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  HWND w = NULL;
  if (strcmp(name, "screen") != 0) {
    const char* why;
    w = Target(name, &why);
    if (!w) return Fail("%s: %s", Named(name), why ? why : "no such window");
    GetWindowRect(w, &r);
  }
  if (r.right <= r.left || r.bottom <= r.top) return Fail("%s has no area", Named(name));
  HWND repaint = w ? GetAncestor(w, GA_ROOT) : backdrop;
  if (repaint && IsWindow(repaint)) {
    DWORD_PTR ignored;
    RedrawWindow(repaint, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageTimeoutA(repaint, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, wait_limit, &ignored);
  }
  /* The painting is done (RDW_UPDATENOW sends WM_PAINT); the program hands
   * its pixels to the display once it waits for messages again. */
  DWORD size = 0, size2 = 0;
  unsigned char* rows = Grab(r, &size);
  for (int round = 0, same = 0; rows && same < 2 && round < 50; ++round) {
    Sleep(100);
    unsigned char* again = Grab(r, &size2);
    same = again && memcmp(rows, again, size) == 0 ? same + 1 : 0;
    free(rows);
    rows = again;
  }
  if (!rows) return Fail("the screen could not be read (Wine's null display driver shows no picture)");
  char path[MAX_PATH];
  WindowsPath(argv[0], path, sizeof path);
  FILE* f = fopen(path, "wb");
  if (!f) {
    free(rows);
    return Fail("cannot write %s", path);
  }
  BITMAPFILEHEADER file;
  BITMAPINFOHEADER info;
  memset(&file, 0, sizeof file);
  memset(&info, 0, sizeof info);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + size;
  info.biSize = sizeof info;
  info.biWidth = r.right - r.left;
  info.biHeight = r.bottom - r.top;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = size;
  int written = fwrite(&file, sizeof file, 1, f) == 1 && fwrite(&info, sizeof info, 1, f) == 1 &&
                fwrite(rows, size, 1, f) == 1;
  written = (fclose(f) == 0) && written;
  free(rows);
  if (!written) return Fail("cannot write %s", path);
  Ok("file=");
  PutQuoted(path);
  fprintf(output, " x=%ld y=%ld width=%ld height=%ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
  EndLine();
  return 1;
}

static int CmdExit(int argc, char** argv) {
  long expected = 0;
  if (argc > 1 || (argc == 1 && !ParseNumber(argv[0], &expected))) return Fail("usage: exit [CODE]");
  if (!process) return Fail("no setup program to wait for: use start, wizard or window first");
  if (WaitForSingleObject(process, wait_limit) != WAIT_OBJECT_0)
    return Fail("the setup program did not end within %lu ms", (unsigned long)wait_limit);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  if (argc == 1 && (long)(int)code != expected)
    return Fail("the setup program ended with %d, expected %ld", (int)code, expected);
  Ok("code=%d", (int)code);
  EndLine();
  return 1;
}

/* The window's screen rectangle, in pixels of the display. */
static int CmdRect(int argc, char** argv) {
  const char* why;
  if (argc != 1) return Fail("usage: rect TARGET");
  HWND w = Target(argv[0], &why);
  if (!w) return Fail("%s: %s", Named(argv[0]), why ? why : "no such control");
  RECT r;
  if (!GetWindowRect(w, &r)) return Fail("%s: no rectangle", Named(argv[0]));
  Ok("target=%s left=%ld top=%ld width=%ld height=%ld", argv[0], r.left, r.top, r.right - r.left,
     r.bottom - r.top);
  EndLine();
  return 1;
}

static int CmdTree(int argc, char** argv) {
  (void)argc, (void)argv;
  Ok("");
  EndLine();
  DumpTree();
  return 1;
}

static const struct {
  const char* name;
  int (*run)(int argc, char** argv);
} kCommands[] = {
    {"timeout", CmdTimeout}, {"start", CmdStart},         {"wizard", CmdWizard},   {"wait-page", CmdWaitPage},
    {"window", CmdWindow},   {"text", CmdText},           {"state", CmdState},     {"wait-text", CmdWaitText},
    {"wait-state", CmdWaitState}, {"set-text", CmdSetText}, {"click", CmdClick},   {"close", CmdClose},
    {"key", CmdKey},         {"answer", CmdAnswer},       {"shot", CmdShot},       {"exit", CmdExit},
    {"tree", CmdTree},       {"rect", CmdRect},
};

/* ---- the script -------------------------------------------------------- */

/* Splits a line into words in place: blanks separate words, double quotes
 * group (with \" \\ \n \t inside), a line starting with # is a comment.
 * Returns the number of words, -1 for an unclosed quote. */
static int Split(char* line, char** words) {
  int count = 0;
  char* from = line;
  while (*from == ' ' || *from == '\t') ++from;
  if (*from == '#') return 0;
  while (*from && count < kMaxWords) {
    char* to = from;
    words[count++] = to;
    int quoted = 0;
    for (; *from && (quoted || (*from != ' ' && *from != '\t')); ++from) {
      if (*from == '"') {
        quoted = !quoted;
      } else if (quoted && *from == '\\' && from[1]) {
        ++from;
        *to++ = *from == 'n' ? '\n' : *from == 't' ? '\t' : *from;
      } else {
        *to++ = *from;
      }
    }
    if (quoted) return -1;
    if (*from) ++from;
    *to = 0;
    while (*from == ' ' || *from == '\t') ++from;
  }
  return count;
}

/* Runs one line; returns 0 when the step failed. */
static int RunLine(char* line) {
  char* words[kMaxWords];
  size_t n = strlen(line);
  while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
  int count = Split(line, words);
  if (count == 0) return 1;
  ++step;
  verb = count > 0 ? words[0] : "?";
  if (count < 0) return Fail("unclosed quote in: %s", line);
  for (size_t i = 0; i < sizeof kCommands / sizeof *kCommands; ++i)
    if (strcmp(words[0], kCommands[i].name) == 0) return kCommands[i].run(count - 1, words + 1);
  return Fail("unknown command");
}

int main(int argc, char** argv) {
  const char* out_path = NULL;
  const char* script_path = NULL;
  int kill_on_failure = 0, first = 1;
  for (; first < argc && argv[first][0] == '-' && argv[first][1]; ++first) {
    if (strcmp(argv[first], "-k") == 0) kill_on_failure = 1;
    else if (strcmp(argv[first], "-o") == 0 && first + 1 < argc) out_path = argv[++first];
    else if (strcmp(argv[first], "-f") == 0 && first + 1 < argc) script_path = argv[++first];
    else if (strcmp(argv[first], "--") == 0) { ++first; break; }
    else {
      fprintf(stderr, "usage: wizard_driver [-o OUT] [-k] [-f SCRIPT] [\"COMMAND\" ...]\n");
      return 2;
    }
  }
  /* Rectangles, screen size and pictures in the display's own pixels at
   * any DPI, as the setup program (DPI-aware) has them: Windows scales them
   * to 96 DPI for a program that is not. */
  SetProcessDPIAware();
  char path[MAX_PATH];
  output = stdout;
  if (out_path) {
    WindowsPath(out_path, path, sizeof path);
    output = fopen(path, "w");
    if (!output) {
      fprintf(stderr, "wizard_driver: cannot write %s\n", path);
      return 2;
    }
  }
  int ok = 1;
  static char line[kMaxLine];
  if (script_path) {
    WindowsPath(script_path, path, sizeof path);
    FILE* script = fopen(path, "r");
    if (!script) {
      fprintf(output, "FAIL 0 script: cannot read %s\n", path);
      return 2;
    }
    while (ok && fgets(line, sizeof line, script)) ok = RunLine(line);
    fclose(script);
  }
  for (int i = first; ok && i < argc; ++i) {
    snprintf(line, sizeof line, "%s", argv[i]);
    ok = RunLine(line);
  }
  if (!ok) {
    DumpTree();
    if (kill_on_failure && process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process, kKilledCode);
      WaitForSingleObject(process, wait_limit);
      fprintf(output, "| the setup program was ended (exit code %d)\n", kKilledCode);
    }
  }
  if (output != stdout) fclose(output);
  return ok ? 0 : 1;
}

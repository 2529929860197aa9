// Formatted texts in controls, the link registry and the common notification
// handler of the wizard's dialog procedures.
#include <string.h>
#include <windows.h>
#include <richedit.h>
#include <shellapi.h>

#include "base/files.h"
#include "paths/variables.h"
#include "wizard/formatted_text.h"
#include "wizard/markup.h"

namespace {

// The styles that make a read-only rich-text control a scrolling text box
// rather than a label: WS_VSCROLL, WS_HSCROLL, ES_AUTOVSCROLL, ES_AUTOHSCROLL.
const LONG ScrollingStyles = 0x003000C0;
// Clicked targets are cut to this many bytes, terminator included.
const u32 TargetSize = 500;

struct LinkPair {
  HWND control;
  void* links;
};
// LinkRegistrySize pairs, allocated on the first registration; the pairs in
// use come first.
LinkPair* Registry;

int StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = (char)(c + ('a' - 'A'));
    if (c != *prefix) return 0;
  }
  return 1;
}

// Opens `path` with the shell; a file's own folder is the working folder.
void OpenWithShell(const char* path, const char* extension) {
  (void)extension;
  char folder[MAX_PATH];
  const char* workingFolder = nullptr;
  const char* slash = strrchr(path, '\\');
  if (slash && !StartsWithIgnoringCase(path, "http://") &&
      !StartsWithIgnoringCase(path, "https://") && (u32)(slash - path) < sizeof folder) {
    memcpy(folder, path, slash - path);
    folder[slash - path] = 0;
    workingFolder = folder;
  }
  ShellExecuteA(nullptr, "open", path, nullptr, workingFolder, SW_SHOW);
}

// Applies one character format to the current selection.
void FormatSelection(HWND control, u32 mask, u32 effects, u32 colour, LONG height) {
  CHARFORMATA format;
  memset(&format, 0, sizeof format);
  format.cbSize = sizeof format;  // 60
  format.dwMask = mask;
  format.dwEffects = effects;
  format.crTextColor = colour;
  format.yHeight = height;
  SendMessageA(control, EM_SETCHARFORMAT, SCF_SELECTION, (LPARAM)&format);
}

// The runs as character formatting. ENM_SELCHANGE is off meanwhile, so that
// the selection handling of rich-text labels does not undo the selections.
void ApplyRuns(HWND control, const ParsedMarkup* parsed, u32 defaultColour) {
  LRESULT events = SendMessageA(control, EM_GETEVENTMASK, 0, 0);
  if (events & ENM_SELCHANGE) SendMessageA(control, EM_SETEVENTMASK, 0, events & ~ENM_SELCHANGE);
  if (defaultColour != NoDefaultColour) {
    SendMessageA(control, EM_SETSEL, 0, -1);
    FormatSelection(control, CFM_COLOR, 0, defaultColour, 0);
  }
  for (u32 i = 0; i < parsed->runCount; ++i) {
    const MarkupRun* run = &parsed->runs[i];
    const MarkupTag* tag = &MarkupTags[run->row];
    SendMessageA(control, EM_SETSEL, run->start, run->end);
    // Each run switches on its own attribute only; sizes are in twips.
    if (tag->mask == MarkupMaskColour)
      FormatSelection(control, tag->mask, 0, tag->colour, 0);
    else if (run->row == MarkupRowFontSize)
      FormatSelection(control, tag->mask, 0, 0, (LONG)(run->size * 20));
    else
      FormatSelection(control, tag->mask, tag->mask, 0, 0);
  }
  if (events & ENM_SELCHANGE) SendMessageA(control, EM_SETEVENTMASK, 0, events);
  SendMessageA(control, EM_SETSEL, (WPARAM)-1, 0);
}

}  // namespace

DefaultColourSource TextColourForParent = nullptr;
DocumentOpener OpenLinkTarget = OpenWithShell;

void SetFormattedText(void* control, const char* text) {
  HWND window = (HWND)control;
  if (!window) return;
  if (!text) text = "";
  char className[16];
  if (!GetClassNameA(window, className, sizeof className)) className[0] = 0;
  int version2 = !lstrcmpiA(className, "RichEdit20A");
  int rich = version2 || !lstrcmpiA(className, "RICHEDIT");
  // Rich edit 2 keeps a CR LF line break as one character; positions follow.
  ParsedMarkup parsed;
  if (!ParseMarkup(text, version2, &parsed)) {
    // Without memory to take the tags out, the text is shown as it stands.
    SetWindowTextA(window, text);
    return;
  }
  SetWindowTextA(window, parsed.plain);
  if (rich) {
    u32 colour = TextColourForParent ? TextColourForParent(GetParent(window)) : NoDefaultColour;
    if (parsed.runCount || colour != NoDefaultColour) ApplyRuns(window, &parsed, colour);
    if (parsed.links) {
      RegisterLinks(window, parsed.links);
      parsed.links = nullptr;
      EnableWindow(window, TRUE);
    } else {
      // A read-only label without links takes neither focus nor clicks; the
      // rich-text subclass procedure still paints it in its normal colours.
      LONG style = GetWindowLongA(window, GWL_STYLE);
      if ((style & ES_READONLY) && !(style & ScrollingStyles)) EnableWindow(window, FALSE);
    }
  }
  FreeParsedMarkup(&parsed);
}

int RegisterLinks(void* control, void* list) {
  if (!Registry) AllocZeroed(LinkRegistrySize * sizeof(LinkPair), &Registry);
  for (u32 i = 0; Registry && control && i < LinkRegistrySize; ++i) {
    LinkPair* pair = &Registry[i];
    if (pair->control && pair->control != (HWND)control) continue;
    FreeBlock(&pair->links);
    pair->control = (HWND)control;
    pair->links = list;
    return 1;
  }
  FreeBlock(&list);
  return 0;
}

const char* FindLinkTarget(void* control, u32 start) {
  for (u32 i = 0; Registry && i < LinkRegistrySize && Registry[i].control; ++i)
    if (Registry[i].control == (HWND)control) return FindLinkInList(Registry[i].links, start);
  return nullptr;
}

void ClearLinks() {
  if (!Registry) return;
  for (u32 i = 0; i < LinkRegistrySize; ++i) FreeBlock(&Registry[i].links);
  FreeBlock(&Registry);
}

intptr_t HandleCommonNotify(void* window, u32 message, uintptr_t wParam, intptr_t lParam) {
  (void)window;
  (void)wParam;
  const NMHDR* header = (const NMHDR*)lParam;
  if (message != WM_NOTIFY || !header || !header->hwndFrom) return 0;
  if (header->code != EN_LINK && header->code != EN_SELCHANGE) return 0;
  HWND from = header->hwndFrom;
  char className[9];  // the name cut to 8 characters: both rich edit versions
  if (!GetClassNameA(from, className, sizeof className) || lstrcmpiA(className, "RichEdit"))
    return 0;
  if (header->code == EN_SELCHANGE) {
    SendMessageA(from, EM_SETSEL, (WPARAM)-1, 0);
    SendMessageA(from, EM_HIDESELECTION, TRUE, 0);
    return 0;
  }
  const ENLINK* link = (const ENLINK*)lParam;
  if (link->msg != WM_LBUTTONUP) return 0;
  // Twice the size: a link's own text is read in characters, and a character
  // of a double-byte code page takes two bytes.
  char target[2 * TargetSize];
  target[0] = 0;
  const char* registered = FindLinkTarget(from, (u32)link->chrg.cpMin);
  if (registered) {
    ExpandVariables(target, registered, TargetSize);
  } else if (link->chrg.cpMin >= 0) {
    // An address the control detected itself.
    TEXTRANGEA range;
    range.chrg = link->chrg;
    LONG longest = TargetSize - 1;
    if (range.chrg.cpMax < range.chrg.cpMin || range.chrg.cpMax - range.chrg.cpMin > longest)
      range.chrg.cpMax = range.chrg.cpMin + longest;
    range.lpstrText = target;
    SendMessageA(from, EM_GETTEXTRANGE, 0, (LPARAM)&range);
    target[sizeof target - 1] = 0;
  }
  if (!target[0]) return 0;
  u32 length = (u32)strlen(target);
  const char* extension = length >= 4 && target[length - 4] == '.' ? target + length - 4 : ".htm";
  if (OpenLinkTarget) OpenLinkTarget(target, extension);
  return 0;
}

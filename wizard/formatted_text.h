// Formatted texts in the wizard's controls: the markup taken out, rich-text
// controls formatted, links remembered per control and opened when clicked,
// and selections suppressed in rich-text labels. Windows handles are passed
// as void* (HWND).
#pragma once

#include "base/format.h"

// Sets `text` without its tags as the window text of `control`; in a
// rich-text control ("RichEdit20A" or "RICHEDIT") also applies the tags as
// character formatting and registers the links. A null control does nothing;
// `text` is not changed.
void SetFormattedText(void* control, const char* text);

// Gives `control` the link list `list` (a ParseMarkup link list), taking
// ownership: a list the control had before is freed. Returns 1; the registry
// serves LinkRegistrySize controls, and for any other (or without memory for
// the registry) the list is freed and 0 returned.
static const u32 LinkRegistrySize = 50;
int RegisterLinks(void* control, void* list);
// The target of the link of `control` that starts at character position
// `start` (as the control counts characters), or null.
const char* FindLinkTarget(void* control, u32 start);
// Frees every link list and empties the registry.
void ClearLinks();

// The handler every wizard dialog procedure ends with. Acts only on WM_NOTIFY
// from a rich-text control: EN_SELCHANGE removes and hides the selection,
// EN_LINK with WM_LBUTTONUP opens the link's target. Always returns 0.
intptr_t HandleCommonNotify(void* window, u32 message, uintptr_t wParam, intptr_t lParam);

// Seams to the code that owns what this module does not.
// The default text colour of rich-text controls whose parent is `parent`
// (the header pane or the page window), or NoDefaultColour. Set by the page
// framework; null means no default colour.
static const u32 NoDefaultColour = 0xFFFFFFFF;
typedef u32 (*DefaultColourSource)(void* parent);
extern DefaultColourSource TextColourForParent;
// Opens a clicked link's target as a document; `extension` (with its dot)
// names the type whose opening command serves when the shell cannot open
// the target itself. Defaults to the shell's "open".
typedef void (*DocumentOpener)(const char* path, const char* extension);
extern DocumentOpener OpenLinkTarget;

// Parsing of the markup of formatted texts. The text is walked twice with the
// same scanner: once to measure (plain length, runs, links, target bytes) and
// once to fill storage of exactly that size.
#include "wizard/markup.h"

#include <string.h>

#include "base/files.h"

const MarkupTag MarkupTags[MarkupTagCount] = {
    {"<b>", "</b>", 0x1, 0},
    {"<i>", "</i>", 0x2, 0},
    {"<u>", "</u>", 0x4, 0},
    {"<s>", "</s>", 0x8, 0},
    {"<link=", "</link>", 0x20, 0},
    {"<fontsize=", "</font>", 0x80000000, 0},
    {"<black>", "</black>", MarkupMaskColour, 0x000000},
    {"<white>", "</white>", MarkupMaskColour, 0xFFFFFF},
    {"<red>", "</red>", MarkupMaskColour, 0x0000FF},
    {"<green>", "</green>", MarkupMaskColour, 0x00FF00},
    {"<blue>", "</blue>", MarkupMaskColour, 0xFF0000},
};

namespace {

const u32 NotOpen = 0xFFFFFFFF;
// Every run but the ones closed at the end costs at least a 4-character
// closing tag, so this bounds the run storage to 4 times the text's length.
const u32 MaxTextLength = 0x10000000;

// The scanner's output. While measuring, the storage pointers are null and
// only the counts grow.
struct Scan {
  char* plain;
  MarkupRun* runs;
  LinkEntry* links;
  char* targets;     // the link list's text area
  u32 targetsStart;  // its offset from the start of the list
  u32 plainLength;
  u32 position;  // plain length, a line break counted once when asked
  u32 runCount;
  u32 linkCount;
  u32 lastLinkStart;
  u32 targetBytes;
  int crLfIsOneCharacter;
  char last;  // the last two characters of the plain text
  char beforeLast;
};

void Append(Scan* s, const char* text, u32 count) {
  for (u32 i = 0; i < count; ++i) {
    char c = text[i];
    if (s->plain) s->plain[s->plainLength] = c;
    s->plainLength++;
    // Such a control takes CR LF and CR CR LF as one line break each.
    if (s->crLfIsOneCharacter && c == '\n' && s->last == '\r') {
      if (s->beforeLast == '\r') s->position--;
    } else {
      s->position++;
    }
    s->beforeLast = s->last;
    s->last = c;
  }
}

// Records a run from `start` to the current position; returns the start
// used. A CR CR LF pair taken as one line break may have moved the position
// back before a run's opening.
u32 RecordRun(Scan* s, u32 row, u32 start, u32 size) {
  if (start > s->position) start = s->position;
  if (s->runs) {
    MarkupRun* run = &s->runs[s->runCount];
    run->row = row;
    run->start = start;
    run->end = s->position;
    run->size = size;
  }
  s->runCount++;
  return start;
}

void RecordLink(Scan* s, u32 start, const char* target, u32 length) {
  // A link whose text went into a CR CR LF line break gives way to the next.
  if (s->linkCount && s->lastLinkStart == start) s->linkCount--;
  s->lastLinkStart = start;
  if (s->links) {
    s->links[s->linkCount].start = start;
    s->links[s->linkCount].target = s->targetsStart + s->targetBytes;
    memcpy(s->targets + s->targetBytes, target, length);
    s->targets[s->targetBytes + length] = 0;
  }
  s->linkCount++;
  s->targetBytes += length + 1;
}

// Length of `tag` when the text at `at` begins with it (letter case aside),
// else 0. Stops at the text's terminator, which matches no tag character.
u32 MatchTag(const char* at, const char* tag) {
  u32 n = 0;
  for (; tag[n]; ++n) {
    char c = at[n];
    if (c >= 'A' && c <= 'Z') c = (char)(c + ('a' - 'A'));
    if (c != tag[n]) return 0;
  }
  return n;
}

void ScanText(const char* text, Scan* s) {
  u32 open[MarkupTagCount];
  for (u32 row = 0; row < MarkupTagCount; ++row) open[row] = NotOpen;
  const char* argument = text;
  u32 argumentLength = 0;
  u32 size = 0;
  const char* p = text;
  for (;;) {
    const char* lt = strchr(p, '<');
    if (!lt) {
      Append(s, p, (u32)strlen(p));
      break;
    }
    Append(s, p, (u32)(lt - p));
    const char* q = nullptr;
    for (u32 row = 0; row < MarkupTagCount; ++row) {
      u32 n = MatchTag(lt, MarkupTags[row].opening);
      if (n) {
        // A row open already keeps its first position.
        if (open[row] == NotOpen) open[row] = s->position;
        q = lt + n;
        if (row == MarkupRowLink) {
          argument = q;
          argumentLength = 0;
          while (q[argumentLength] && q[argumentLength] != '>') argumentLength++;
          q += argumentLength;
        } else if (row == MarkupRowFontSize) {
          size = 0;
          for (; *q && *q != '>'; ++q) {
            if (*q < '0' || *q > '9') continue;
            size = size * 10 + (u32)(*q - '0');
            if (size > MarkupMaxFontSize) size = MarkupMaxFontSize;
          }
        }
        // An argument without its ">" ends the text.
        if ((row == MarkupRowLink || row == MarkupRowFontSize) && *q == '>') q++;
        break;
      }
      n = MatchTag(lt, MarkupTags[row].closing);
      if (n && open[row] != NotOpen) {
        u32 start = RecordRun(s, row, open[row], size);
        // A link without a target, or without text to click, opens nothing.
        if (row == MarkupRowLink && argumentLength) {
          if (s->position != start) RecordLink(s, start, argument, argumentLength);
          argumentLength = 0;
        }
        open[row] = NotOpen;
        q = lt + n;
        break;
      }
    }
    if (!q) {
      // No tag: the "<" stays in the text as typed.
      Append(s, lt, 1);
      q = lt + 1;
    }
    p = q;
  }
  for (u32 row = 0; row < MarkupTagCount; ++row)
    if (open[row] != NotOpen) RecordRun(s, row, open[row], size);
}

}  // namespace

int ParseMarkup(const char* text, int crLfIsOneCharacter, ParsedMarkup* out) {
  memset(out, 0, sizeof *out);
  if (!text) text = "";
  if (strlen(text) >= MaxTextLength) return 0;

  Scan measure;
  memset(&measure, 0, sizeof measure);
  measure.crLfIsOneCharacter = crLfIsOneCharacter;
  ScanText(text, &measure);

  // Runs first, so that they stay aligned; the plain text behind them.
  u32 runBytes = measure.runCount * (u32)sizeof(MarkupRun);
  char* block = nullptr;
  if (!AllocBlock(runBytes + measure.plainLength + 1, &block)) return 0;
  char* links = nullptr;
  u32 targetsStart = (measure.linkCount + 1) * (u32)sizeof(LinkEntry);
  if (measure.linkCount && !AllocBlock(targetsStart + measure.targetBytes, &links)) {
    FreeBlock(&block);
    return 0;
  }

  Scan fill;
  memset(&fill, 0, sizeof fill);
  fill.crLfIsOneCharacter = crLfIsOneCharacter;
  fill.runs = (MarkupRun*)block;
  fill.plain = block + runBytes;
  if (links) {
    fill.links = (LinkEntry*)links;
    fill.targets = links + targetsStart;
    fill.targetsStart = targetsStart;
  }
  ScanText(text, &fill);
  fill.plain[fill.plainLength] = 0;
  // Runs closed inside a CR CR LF line break end where the break does.
  for (u32 i = 0; i < fill.runCount; ++i) {
    if (fill.runs[i].end > fill.position) fill.runs[i].end = fill.position;
    if (fill.runs[i].start > fill.runs[i].end) fill.runs[i].start = fill.runs[i].end;
  }
  if (links) {
    fill.links[fill.linkCount].start = LinkListEnd;
    fill.links[fill.linkCount].target = 0;
  }

  out->plain = fill.plain;
  out->plainLength = fill.plainLength;
  out->positions = fill.position;
  out->runs = fill.runs;
  out->runCount = fill.runCount;
  out->links = links;
  out->linkCount = fill.linkCount;
  out->block = block;
  return 1;
}

void FreeParsedMarkup(ParsedMarkup* parsed) {
  FreeBlock(&parsed->block);
  FreeBlock(&parsed->links);
  memset(parsed, 0, sizeof *parsed);
}

const char* FindLinkInList(const void* list, u32 start) {
  if (!list) return nullptr;
  for (const LinkEntry* entry = (const LinkEntry*)list; entry->start != LinkListEnd; ++entry)
    if (entry->start == start) return (const char*)list + entry->target;
  return nullptr;
}

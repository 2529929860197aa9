// libFuzzer target over the markup parser of formatted texts.
//
// Input: one byte of options (bit 0: a CR LF pair counts as one character),
// then the text (up to its first NUL). Broken invariants abort, so the fuzzer
// reports them.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "wizard/markup.h"

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

// The positions the plain text spans when CR LF and CR CR LF count as one,
// read forwards as the control reads the text.
u32 Positions(const char* plain, u32 length, int crLfIsOneCharacter) {
  if (!crLfIsOneCharacter) return length;
  u32 positions = 0;
  for (u32 i = 0; i < length; ++positions) {
    if (plain[i] == '\r' && plain[i + 1] == '\n') i += 2;
    else if (plain[i] == '\r' && plain[i + 1] == '\r' && plain[i + 2] == '\n') i += 3;
    else i += 1;
  }
  return positions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int crLfIsOneCharacter = data[0] & 1;
  std::string text((const char*)data + 1, size - 1);
  text.resize(strlen(text.c_str()));

  ParsedMarkup parsed;
  Check(ParseMarkup(text.c_str(), crLfIsOneCharacter, &parsed) == 1);
  Check(parsed.plain && parsed.plain[parsed.plainLength] == 0);
  Check(strlen(parsed.plain) == parsed.plainLength);
  Check(parsed.plainLength <= text.size());
  // The plain text is the text with pieces taken out, never anything added.
  size_t at = 0;
  for (u32 i = 0; i < parsed.plainLength; ++i, ++at) {
    while (at < text.size() && text[at] != parsed.plain[i]) ++at;
    Check(at < text.size());
  }
  if (text.find('<') == std::string::npos) {
    Check(text == parsed.plain);
    Check(parsed.runCount == 0 && parsed.links == nullptr);
  }

  u32 positions = Positions(parsed.plain, parsed.plainLength, crLfIsOneCharacter);
  Check(parsed.positions == positions);
  Check(parsed.runCount <= text.size() / 4 + MarkupTagCount);
  for (u32 i = 0; i < parsed.runCount; ++i) {
    const MarkupRun& run = parsed.runs[i];
    Check(run.row < MarkupTagCount);
    Check(run.start <= run.end && run.end <= positions);
    Check(run.size <= MarkupMaxFontSize);
  }

  Check((parsed.links != nullptr) == (parsed.linkCount != 0));
  if (parsed.links) {
    const LinkEntry* entries = (const LinkEntry*)parsed.links;
    for (u32 i = 0; i < parsed.linkCount; ++i) {
      const LinkEntry& link = entries[i];
      // A link whose text went into a CR CR LF break may start at the end.
      Check(link.start <= positions);
      Check(i == 0 || link.start > entries[i - 1].start);
      const char* target = (const char*)parsed.links + link.target;
      size_t length = strlen(target);
      Check(length > 0 && text.find(std::string(target, length)) != std::string::npos);
      Check(FindLinkInList(parsed.links, link.start) == target);
      // Every link has its run.
      bool found = false;
      for (u32 r = 0; r < parsed.runCount && !found; ++r)
        found = parsed.runs[r].row == MarkupRowLink && parsed.runs[r].start == link.start &&
                parsed.runs[r].end > link.start;
      Check(found);
    }
    Check(entries[parsed.linkCount].start == LinkListEnd);
  }
  FreeParsedMarkup(&parsed);
  return 0;
}

// libFuzzer target over setrunc's reading and rewriting of a program's
// manifest level: PE headers, the resource directory and the manifest text
// of any file (setrunc inspect reads them from whatever it is given).
//
// Invariants (a broken one aborts): the reader either answers or throws
// BuildError; every level it finds lies inside the file; a rewrite keeps the
// size and changes nothing outside the level's room and the checksum field.
#include <stdint.h>
#include <stdlib.h>

#include "builder/stub_manifest.h"

using setrunc::Bytes;

static void Check(bool condition) {
  if (!condition) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes image(data, data + size);
  std::vector<setrunc::ManifestLevel> levels;
  try {
    levels = setrunc::FindExecutionLevels(image.data(), image.size());
  } catch (const setrunc::BuildError&) {
    return 0;
  }
  for (const setrunc::ManifestLevel& l : levels)
    Check(l.offset <= size && l.room <= size - l.offset && l.level.size() < l.room);
  for (setrunc::Privileges p : {setrunc::Privileges::User, setrunc::Privileges::Admin}) {
    Bytes out;
    try {
      out = setrunc::StubWithPrivileges(image, p);
    } catch (const setrunc::BuildError&) {
      continue;
    }
    Check(out.size() == size);
    const size_t field = setrunc::PeChecksumOffset(out.data(), out.size());
    for (size_t i = 0; i < size; ++i) {
      if (out[i] == image[i] || (field && i >= field && i < field + 4)) continue;
      bool inside = false;
      for (const setrunc::ManifestLevel& l : levels)
        inside = inside || (i >= l.offset && i < l.offset + l.room);
      Check(inside);
    }
    // Read back: a single manifest apart from the directory it is listed in
    // holds the level written (crafted files may lay text over directories).
    try {
      auto after = setrunc::FindExecutionLevels(out.data(), out.size());
      if (levels.size() == 1 && after.size() == 1 && after[0].offset == levels[0].offset)
        Check(after[0].level == setrunc::ExecutionLevelOf(p));
    } catch (const setrunc::BuildError&) {
    }
  }
  return 0;
}

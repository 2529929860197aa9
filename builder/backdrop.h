// The backdrop records of a package: the resolution list with the picture
// variants, the title and the title style.
#pragma once

#include <vector>

#include "builder/model.h"

namespace setrunc {

// The title style record: shadow colour, text colour, alignment (0 left,
// otherwise right) and the title font.
static const u32 TitleStyleRecordSize = 72;
Bytes EncodeTitleStyle(u32 shadow, u32 colour, bool rightAligned, const LogFont& font);

// The records in stream order: a resolution list and one picture record per
// variant (when the project has pictures), the title, the title style. Each
// is a whole record (header and payload), compressed at `level` where the
// setup program allows it.
std::vector<Bytes> EncodeBackdropRecords(const Project& project, int level);

}  // namespace setrunc

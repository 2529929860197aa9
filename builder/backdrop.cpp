#include "builder/backdrop.h"

#include "builder/images.h"
#include "builder/package_writer.h"

namespace setrunc {

Bytes EncodeTitleStyle(u32 shadow, u32 colour, bool rightAligned, const LogFont& font) {
  Bytes out(TitleStyleRecordSize, 0);
  WriteU32(out.data() + 0, shadow);
  WriteU32(out.data() + 4, colour);
  WriteU32(out.data() + 8, rightAligned ? 1 : 0);
  PutLogFont(font, out.data() + 12);
  return out;
}

std::vector<Bytes> EncodeBackdropRecords(const Project& project, int level) {
  std::vector<Bytes> out;
  if (!project.backdropPictures.empty()) {
    // The setup program takes the variant for its screen from the list and
    // counts the picture records behind it.
    Bytes list(4 + 8 * project.backdropPictures.size());
    WriteU32(list.data(), (u32)project.backdropPictures.size());
    for (size_t i = 0; i < project.backdropPictures.size(); ++i) {
      WriteU32(list.data() + 4 + 8 * i, (u32)project.backdropPictures[i].screenWidth);
      WriteU32(list.data() + 8 + 8 * i, (u32)project.backdropPictures[i].screenHeight);
    }
    out.push_back(EncodeRecord(RecordResolutionList, list, true, level));
    for (const BackdropPicture& p : project.backdropPictures)
      out.push_back(EncodeRecord(RecordBackdropImage, p.bitmapFile, true, PictureCompressionLevel(level)));
  }
  if (project.backdropTitle) {
    const std::string& t = *project.backdropTitle;
    if (t.find('\0') != std::string::npos) throw BuildError("the backdrop title contains a NUL character");
    Bytes text(t.begin(), t.end());
    text.push_back(0);
    out.push_back(EncodeRecord(RecordBackdropTitle, text, true, level));
  }
  if (project.titleStyle) {
    if (project.titleStyle->size() != TitleStyleRecordSize)
      throw BuildError("the backdrop title style must have 72 bytes");
    out.push_back(EncodeRecord(RecordTitleStyle, *project.titleStyle, true, level));
  }
  return out;
}

}  // namespace setrunc

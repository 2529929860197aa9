// Images for the wizard and the backdrop: PNG and BMP files read with the
// stb image library, the pictures the builder draws itself, and their
// conversion into the device-independent bitmaps the setup program draws.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "builder/model.h"

namespace setrunc {

// An image in memory: rows top to bottom, 3 bytes per pixel (red, green,
// blue).
struct Rgb {
  int width = 0, height = 0;
  std::vector<u8> pixels;
};

// The largest width and height an image may have.
static const int MaxImageSide = 8192;

// Decodes a PNG or BMP file. Transparent pixels are laid over `background`
// (a COLORREF; the system colour counts as light grey). A file that is not a
// PNG or BMP file, or is damaged, throws BuildError with the reason (the
// caller adds the file name and the project key).
Rgb DecodeImage(const Bytes& file, u32 background);
Rgb LoadImageFile(const std::string& path, u32 background);
// The same with a background colour for each row of the image, for pictures
// laid over a gradient: `background(row, height)` with the row counted from
// 0 at the top and the image's height.
using RowBackground = std::function<u32(int row, int height)>;
Rgb DecodeImage(const Bytes& file, const RowBackground& background);

// The colour of row y of the backdrop gradient from colour a (top) to b
// (bottom) over a client `height` rows high, as the setup program paints it:
// each component a + y² (b − a) / height², truncated toward zero.
u32 GradientRow(u32 a, u32 b, int64_t y, int64_t height);

// The image scaled to width x height (filtered, for backdrop variants).
Rgb ScaleImage(const Rgb& image, int width, int height);

// A packed bitmap as the wizard's image table holds it: BITMAPINFOHEADER
// (40 bytes), no colour table, 24-bit rows bottom-up, each padded to 4 bytes.
Bytes PackedBitmap(const Rgb& image);
// A bitmap file as the backdrop picture record holds it: the 14-byte
// BITMAPFILEHEADER followed by the packed bitmap.
Bytes BitmapFile(const Rgb& image);

// The wizard image table: u32 count, the offset of each image, the images.
Bytes ImageTable(const std::vector<Bytes>& packedBitmaps);

// The compression level of the records holding pictures: at least 6, also in
// a build that stores its files (level 0), since the bitmaps are big and
// shrink well (the standard side banner: 183 KB raw, about 4 KB packed).
inline int PictureCompressionLevel(int level) { return level < 6 ? 6 : level; }

// The pictures drawn when a project gives none, in the accent colour: the
// banner of the side pane and the emblem at the right of the header, each
// laid over `background`.
Rgb DrawSideBanner(int width, int height, u32 accent);
Rgb DrawHeaderEmblem(int size, u32 accent, u32 background);

}  // namespace setrunc

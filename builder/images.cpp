#include "builder/images.h"

#include <stb_image.h>
#include <stb_image_resize.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "builder/package_writer.h"

namespace setrunc {

namespace {

struct Colour3 {
  double r, g, b;
};

Colour3 FromColorRef(u32 c) {
  if (c == SystemColour) c = 0x00F0F0F0;  // the usual button face
  return {(double)(c & 0xFF), (double)((c >> 8) & 0xFF), (double)((c >> 16) & 0xFF)};
}

Colour3 Mix(Colour3 a, Colour3 b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

u8 Channel(double v) { return (u8)std::lround(std::clamp(v, 0.0, 255.0)); }

void PutU16(u8* p, u16 v) { WriteU16(p, v); }

}  // namespace

Rgb DecodeImage(const Bytes& file, u32 background) {
  return DecodeImage(file, [background](int, int) { return background; });
}

u32 GradientRow(u32 a, u32 b, int64_t y, int64_t height) {
  if (height <= 0) return a;
  u32 out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int64_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
    out |= (u32)((ca + y * y * (cb - ca) / (height * height)) & 0xFF) << shift;
  }
  return out;
}

Rgb DecodeImage(const Bytes& file, const RowBackground& background) {
  const bool png = file.size() >= 8 && std::memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
  const bool bmp = file.size() >= 2 && file[0] == 'B' && file[1] == 'M';
  if (!png && !bmp) throw BuildError("is not a PNG or BMP file");
  if (file.size() > 0x7FFFFFFF) throw BuildError("is too large for an image");
  int w = 0, h = 0, channels = 0;
  if (!stbi_info_from_memory(file.data(), (int)file.size(), &w, &h, &channels))
    throw BuildError(std::string("cannot be read as an image: ") + stbi_failure_reason());
  if (w > MaxImageSide || h > MaxImageSide)
    throw BuildError("is " + std::to_string(w) + " x " + std::to_string(h) +
                     " pixels; an image may have at most " + std::to_string(MaxImageSide) +
                     " pixels each way");
  std::unique_ptr<u8, void (*)(void*)> pixels(
      stbi_load_from_memory(file.data(), (int)file.size(), &w, &h, &channels, 4), stbi_image_free);
  if (!pixels) throw BuildError(std::string("is damaged: ") + stbi_failure_reason());
  Rgb out;
  out.width = w;
  out.height = h;
  out.pixels.resize((size_t)w * h * 3);
  const u8* in = pixels.get();
  Colour3 bg{0, 0, 0};
  for (size_t i = 0; i < (size_t)w * h; ++i) {
    if (i % (size_t)w == 0) bg = FromColorRef(background((int)(i / (size_t)w), h));
    // Straight alpha over the background the image is drawn on.
    const double a = in[4 * i + 3] / 255.0;
    out.pixels[3 * i + 0] = Channel(bg.r + (in[4 * i + 0] - bg.r) * a);
    out.pixels[3 * i + 1] = Channel(bg.g + (in[4 * i + 1] - bg.g) * a);
    out.pixels[3 * i + 2] = Channel(bg.b + (in[4 * i + 2] - bg.b) * a);
  }
  return out;
}

Rgb LoadImageFile(const std::string& path, u32 background) {
  return DecodeImage(ReadWholeFile(path), background);
}

Rgb ScaleImage(const Rgb& image, int width, int height) {
  if (width == image.width && height == image.height) return image;
  Rgb out;
  out.width = width;
  out.height = height;
  out.pixels.resize((size_t)width * height * 3);
  if (!stbir_resize_uint8(image.pixels.data(), image.width, image.height, 0, out.pixels.data(),
                          width, height, 0, 3))
    throw BuildError("cannot scale the image to " + std::to_string(width) + " x " +
                     std::to_string(height));
  return out;
}

Bytes PackedBitmap(const Rgb& image) {
  const u32 stride = ((u32)image.width * 3 + 3) & ~3u;
  const u32 size = stride * (u32)image.height;
  Bytes out(40 + (size_t)size, 0);
  u8* h = out.data();
  WriteU32(h + 0, 40);                   // biSize
  WriteU32(h + 4, (u32)image.width);     // biWidth
  WriteU32(h + 8, (u32)image.height);    // biHeight: positive, rows bottom-up
  PutU16(h + 12, 1);                     // biPlanes
  PutU16(h + 14, 24);                    // biBitCount
  WriteU32(h + 16, 0);                   // biCompression: BI_RGB
  WriteU32(h + 20, size);                // biSizeImage
  WriteU32(h + 24, 3780);                // 96 DPI in pixels per metre
  WriteU32(h + 28, 3780);
  // biClrUsed and biClrImportant 0: no colour table.
  for (int y = 0; y < image.height; ++y) {
    const u8* src = image.pixels.data() + (size_t)(image.height - 1 - y) * image.width * 3;
    u8* dst = out.data() + 40 + (size_t)y * stride;
    for (int x = 0; x < image.width; ++x) {
      dst[3 * x + 0] = src[3 * x + 2];  // blue, green, red
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x + 0];
    }
  }
  return out;
}

Bytes BitmapFile(const Rgb& image) {
  Bytes dib = PackedBitmap(image);
  // resize and memcpy: GCC 12 warns wrongly about vector::insert of a range.
  Bytes out(14 + dib.size(), 0);
  out[0] = 'B';
  out[1] = 'M';
  WriteU32(out.data() + 2, (u32)out.size());  // bfSize
  WriteU32(out.data() + 10, 14 + 40);         // bfOffBits: no colour table
  std::memcpy(out.data() + 14, dib.data(), dib.size());
  return out;
}

Bytes ImageTable(const std::vector<Bytes>& images) {
  Bytes out(4 + 4 * images.size(), 0);
  WriteU32(out.data(), (u32)images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    if (out.size() > 0xFFFFFFFFu - images[i].size())
      throw BuildError("the wizard images take more than 4 GB");
    size_t at = out.size();
    WriteU32(out.data() + 4 + 4 * i, (u32)at);
    out.resize(at + images[i].size());
    if (!images[i].empty()) std::memcpy(out.data() + at, images[i].data(), images[i].size());
  }
  return out;
}

namespace {

// A canvas the builder paints on: every shape is a test of whether a point
// lies inside it, sampled 4 x 4 times per pixel for smooth edges.
class Canvas {
 public:
  Canvas(int w, int h) : w_(w), h_(h), c_((size_t)w * h, Colour3{0, 0, 0}) {}

  using Shape = std::function<bool(double x, double y)>;

  // Fills the whole canvas with a vertical blend from `top` to `bottom`.
  void Gradient(Colour3 top, Colour3 bottom) {
    for (int y = 0; y < h_; ++y) {
      Colour3 c = Mix(top, bottom, h_ > 1 ? (double)y / (h_ - 1) : 0);
      for (int x = 0; x < w_; ++x) c_[(size_t)y * w_ + x] = c;
    }
  }

  // Lays `colour` with `opacity` over the part of the canvas inside `shape`
  // (within the box x0..x1, y0..y1); `shade` may vary the colour by height.
  void Fill(const Shape& shape, double x0, double y0, double x1, double y1, double opacity,
            const std::function<Colour3(double y)>& shade) {
    const int ix0 = std::max(0, (int)std::floor(x0)), iy0 = std::max(0, (int)std::floor(y0));
    const int ix1 = std::min(w_, (int)std::ceil(x1)), iy1 = std::min(h_, (int)std::ceil(y1));
    for (int y = iy0; y < iy1; ++y)
      for (int x = ix0; x < ix1; ++x) {
        int hits = 0;
        for (int sy = 0; sy < 4; ++sy)
          for (int sx = 0; sx < 4; ++sx)
            if (shape(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)) ++hits;
        if (!hits) continue;
        Colour3& p = c_[(size_t)y * w_ + x];
        p = Mix(p, shade(y + 0.5), opacity * hits / 16.0);
      }
  }

  Rgb ToRgb() const {
    Rgb out;
    out.width = w_;
    out.height = h_;
    out.pixels.resize(c_.size() * 3);
    for (size_t i = 0; i < c_.size(); ++i) {
      out.pixels[3 * i + 0] = Channel(c_[i].r);
      out.pixels[3 * i + 1] = Channel(c_[i].g);
      out.pixels[3 * i + 2] = Channel(c_[i].b);
    }
    return out;
  }

 private:
  int w_, h_;
  std::vector<Colour3> c_;
};

Canvas::Shape Circle(double cx, double cy, double r) {
  return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

Canvas::Shape Box(double x0, double y0, double x1, double y1) {
  return [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}

Canvas::Shape RoundedBox(double x0, double y0, double x1, double y1, double r) {
  return [=](double x, double y) {
    if (x < x0 || x >= x1 || y < y0 || y >= y1) return false;
    double cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
  };
}

// The setup glyph: an arrow pointing down into a tray, in a square of side s
// at (ox, oy).
Canvas::Shape SetupGlyph(double ox, double oy, double s) {
  auto shaft = Box(ox + 0.44 * s, oy + 0.18 * s, ox + 0.56 * s, oy + 0.50 * s);
  auto tray = [=](double x, double y) {
    return Box(ox + 0.22 * s, oy + 0.72 * s, ox + 0.78 * s, oy + 0.81 * s)(x, y) ||
           Box(ox + 0.22 * s, oy + 0.58 * s, ox + 0.31 * s, oy + 0.81 * s)(x, y) ||
           Box(ox + 0.69 * s, oy + 0.58 * s, ox + 0.78 * s, oy + 0.81 * s)(x, y);
  };
  auto head = [=](double x, double y) {
    // Triangle with its base at 0.46 s and its tip at 0.68 s.
    double top = oy + 0.46 * s, tip = oy + 0.68 * s, cx = ox + 0.5 * s, half = 0.21 * s;
    if (y < top || y > tip) return false;
    return std::fabs(x - cx) <= half * (tip - y) / (tip - top);
  };
  return [=](double x, double y) { return shaft(x, y) || head(x, y) || tray(x, y); };
}

}  // namespace

Rgb DrawSideBanner(int width, int height, u32 accent) {
  const Colour3 a = FromColorRef(accent), white{255, 255, 255}, black{0, 0, 0};
  Canvas c(width, height);
  c.Gradient(Mix(a, white, 0.12), Mix(a, black, 0.45));
  const double w = width, h = height;
  auto flat = [&](Colour3 colour) { return [colour](double) { return colour; }; };
  // Soft discs that overlap the edges.
  c.Fill(Circle(w * 0.95, h * 0.80, w * 0.62), 0, 0, w, h, 0.08, flat(white));
  c.Fill(Circle(w * 0.10, h * 1.00, w * 0.48), 0, 0, w, h, 0.07, flat(white));
  c.Fill(Circle(w * 0.88, h * 0.40, w * 0.20), 0, 0, w, h, 0.06, flat(white));
  // The glyph near the top left, its left edge 24 pixels in.
  const double s = std::min(80.0, w * 0.5), ox = 24 - 0.22 * s, oy = 16;
  c.Fill(SetupGlyph(ox, oy, s), ox, oy, ox + s, oy + s, 0.95, flat(white));
  return c.ToRgb();
}

Rgb DrawHeaderEmblem(int size, u32 accent, u32 background) {
  const Colour3 a = FromColorRef(accent), white{255, 255, 255}, black{0, 0, 0};
  Canvas c(size, size);
  c.Gradient(FromColorRef(background), FromColorRef(background));
  const double s = size;
  const Colour3 top = Mix(a, white, 0.18), bottom = Mix(a, black, 0.15);
  c.Fill(RoundedBox(0, 0, s, s, s * 0.22), 0, 0, s, s, 1.0,
         [&](double y) { return Mix(top, bottom, y / s); });
  c.Fill(SetupGlyph(0, 0, s), 0, 0, s, s, 1.0, [&](double) { return white; });
  return c.ToRgb();
}

}  // namespace setrunc

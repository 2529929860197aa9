// The arithmetic of painting the backdrop and the wizard's panes: gradient
// colours, the dither pattern, where pictures and pane images go, and the
// colours of etched lines. Plain arithmetic, compiled for the setup program
// and natively for the unit tests.
#pragma once

#include "base/format.h"

// A rectangle as Windows has it: right and bottom are exclusive.
struct PaintRect {
  i32 left, top, right, bottom;
};

// The colour (0x00BBGGRR) of row y of a gradient from `top` at row 0 to
// `bottom` at row `height`: each component is
//   top + y^2 * (bottom - top) / height^2
// signed, truncated toward zero and kept in its low 8 bits. Computed in 64
// bits, exact for every height up to 2^27 rows, the largest coordinate GDI
// takes (in 32 bits, y^2 * 255 overflowed from about 2,900 rows on). A
// height of 0 or less gives `top`.
u32 GradientColour(u32 top, u32 bottom, i32 y, i32 height);

// The 8 x 8 dither table, rows in pixel storage order.
extern const u8 DitherTable[64];

// The 64 pixels (blue, green, red: 192 bytes) of the pattern that fills the
// eight rows from row `r` on: pixel k takes the colour of gradient row
// min(r + 8 * DitherTable[k], height).
void FillDitherPattern(u8* pixels, u32 top, u32 bottom, i32 r, i32 height);

// Where a picture of w x h goes, 1:1, in the client rectangle under the
// layout flags 0x100 (centred across), 0x200 (right; wins over 0x100), 0x1000
// (centred down), 0x2000 (bottom; wins over 0x1000). Signed divisions that
// truncate toward zero.
PaintRect PicturePlacement(const PaintRect& client, i32 w, i32 h, u32 layoutFlags);

// The rectangle of a w x h header image in the header pane's client area:
// `centred` moves it down by half the free height (upward when the image is
// taller) and in from the side by as much; `right` puts it at the right edge.
PaintRect HeaderImageRect(const PaintRect& client, i32 w, i32 h, bool centred, bool right);

// The rectangle of a w x h side image: at the top-left, cut to the client
// area, or `centred` both ways (not cut).
PaintRect SideImageRect(const PaintRect& client, i32 w, i32 h, bool centred);

// The dark colour of an etched line on a background: each of red, green and
// blue halved. (The light colour is white; a background of 0xFFFFFFFF takes
// the system's shadow and highlight colours instead.)
static inline u32 EtchedDarkColour(u32 background) { return (background & 0xFEFEFE) >> 1; }
static const u32 EtchedLightColour = 0xFFFFFF;

// zlib's inflate refers to crc32() for gzip streams. The setup program reads
// only zlib streams, so the library's table-driven version (about 7 KB of the
// program image) is replaced by this small bitwise one: correct, slower, and
// never on the path of a package.
#include <zlib.h>

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
  if (!buf) return 0;
  uLong c = ~crc & 0xFFFFFFFFul;
  while (len--) {
    c ^= *buf++;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320ul & (0ul - (c & 1)));
  }
  return ~c & 0xFFFFFFFFul;
}

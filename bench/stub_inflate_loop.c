/* The plain inflate loop of the reader benchmark, compiled against the setup
 * program's own inflater (third_party/zlib, with the program's options)
 * instead of the system's zlib: its names carry the z_ prefix, so both are in
 * the benchmark at once. */
#include "bench/stub_inflate_loop.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

int StubZlibInflate(const char* sourcePath, uint32_t packedSize) {
  int in = open(sourcePath, O_RDONLY), out = open("/dev/null", O_WRONLY);
  static unsigned char input[8192], window[32768];
  z_stream z = {0};
  inflateInit(&z);
  uint32_t left = packedSize;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0) {
      uint32_t chunk = left < sizeof input ? left : (uint32_t)sizeof input;
      if (chunk == 0 || read(in, input, chunk) != (ssize_t)chunk) break;
      left -= chunk;
      z.next_in = input;
      z.avail_in = chunk;
    }
    z.next_out = window;
    z.avail_out = sizeof window;
    result = inflate(&z, Z_NO_FLUSH);
    size_t produced = sizeof window - z.avail_out;
    if (write(out, window, produced) != (ssize_t)produced) break;
    if (result != Z_OK && result != Z_STREAM_END) break;
  }
  inflateEnd(&z);
  close(in);
  close(out);
  return result == Z_STREAM_END ? 0 : 1;
}

const char* StubZlibVersion(void) { return zlibVersion(); }

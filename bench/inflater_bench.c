/* Benchmark of the setup program's inflater (not a test), for the Windows
 * builds under Wine: the inflater as the program links it (third_party/zlib
 * with the program's size options, names prefixed z_) against Debian's static
 * zlib for the same target (built for speed), the one the program used
 * before, on the same streams in the same process, round by round.
 *   setrun_inflater_bench [--quick]
 * Prints one line per data set; own/debian > 1 means the program's inflater
 * is faster. Aborts when either inflater returns wrong bytes. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Debian's zlib through the plain names; the program's inflater through the
 * prefixed ones, declared here as third_party/zlib/zconf.h names them. */
#include <zlib.h>
extern int z_inflateInit_(z_streamp, const char*, int);
extern int z_inflate(z_streamp, int);
extern int z_inflateEnd(z_streamp);

typedef int (*InitFn)(z_streamp, const char*, int);
typedef int (*InflateFn)(z_streamp, int);
typedef int (*EndFn)(z_streamp);

typedef struct {
  const char* name;
  InitFn init;
  InflateFn inflate;
  EndFn end;
} Inflater;

static const Inflater Debian = {"debian", inflateInit_, inflate, inflateEnd};
static const Inflater Own = {"own", z_inflateInit_, z_inflate, z_inflateEnd};

/* CPU time of this thread in seconds: comparable on a busy machine. Under
 * Wine it advances in steps of 10 ms, so each timed sample repeats the
 * stream enough times to take about a second (--quick: 0.3 s). */
static double Now(void) {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  return (double)(k.QuadPart + u.QuadPart) * 1e-7;
}

static int Compare(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static double Median(double* v, int n) {
  qsort(v, (size_t)n, sizeof *v, Compare);
  return v[n / 2];
}

/* The same data sets as the reader benchmark (bench/reader_bench.cpp). */
static void ProgramLike(unsigned char* b, size_t size) {
  unsigned x = 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    size_t block = (i / 4096) % 4;
    if (block == 0) b[i] = (unsigned char)(x >> 24);
    else if (block == 1) b[i] = (unsigned char)((x >> 28) * 3);
    else if (block == 2) b[i] = (unsigned char)"\x8b\x45\x08\x89\x44\x24\x04\xe8"[(x >> 29) & 7];
    else b[i] = (unsigned char)(i & 0x3F);
  }
}

static void TextLike(unsigned char* b, size_t size) {
  static const char* words[] = {"setup ", "install ", "the ", "folder ", "file ", "registry ",
                                "value ", "shortcut ", "program ", "\r\n", "of ", "and "};
  unsigned x = 777;
  size_t at = 0;
  while (at < size) {
    x = x * 1103515245u + 12345u;
    const char* w = words[(x >> 16) % 12];
    for (; *w && at < size; ++w) b[at++] = (unsigned char)*w;
  }
}

static void Noise(unsigned char* b, size_t size) {
  unsigned x = 99;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    b[i] = (unsigned char)(x >> 24);
  }
}

static double WallNow(void) {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return (double)t.QuadPart / (double)f.QuadPart;
}

/* Inflates the stream the way the program does (8 KB of input, a 32 KB
 * window emptied after every call); with `expected`, compares the output with
 * it. Aborts on a wrong result. */
static void Run(const Inflater* with, const unsigned char* packed, size_t packedSize,
                const unsigned char* expected, size_t size) {
  static unsigned char window[32768];
  z_stream z;
  memset(&z, 0, sizeof z);
  if (with->init(&z, "1.1.3", (int)sizeof z) != Z_OK) abort();
  size_t left = packedSize, out = 0;
  int result = Z_OK;
  int mismatch = 0;
  while (result == Z_OK) {
    if (z.avail_in == 0) {
      size_t chunk = left < 8192 ? left : 8192;
      z.next_in = (Bytef*)packed + (packedSize - left);
      z.avail_in = (uInt)chunk;
      left -= chunk;
    }
    z.next_out = window;
    z.avail_out = sizeof window;
    result = with->inflate(&z, Z_NO_FLUSH);
    size_t produced = sizeof window - z.avail_out;
    if (expected && (out + produced > size || memcmp(window, expected + out, produced) != 0))
      mismatch = 1;
    out += produced;
  }
  with->end(&z);
  if (result != Z_STREAM_END || out != size || mismatch) {
    fprintf(stderr, "%s: wrong result (%d, %u of %u bytes)\n", with->name, result,
            (unsigned)out, (unsigned)size);
    abort();
  }
}

/* CPU seconds per inflation of the stream, over `repeats` of them. */
static double Timed(const Inflater* with, const unsigned char* packed, size_t packedSize,
                    size_t size, int repeats) {
  double t0 = Now();
  for (int i = 0; i < repeats; ++i) Run(with, packed, packedSize, NULL, size);
  return (Now() - t0) / repeats;
}

int main(int argc, char** argv) {
  const int quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 3 : 9;
  const size_t size = quick ? (4u << 20) : (16u << 20);
  const double target = quick ? 0.3 : 1.0; /* seconds per timed sample */
  struct {
    const char* name;
    void (*make)(unsigned char*, size_t);
    size_t size;
  } sets[] = {{"program-like", ProgramLike, size},
              {"text-like", TextLike, size},
              {"incompressible", Noise, size / 2}};
  printf("%d-bit; zlib %s (Debian) against the program's own; thread CPU time, medians of %d "
         "rounds\n\n", (int)(sizeof(void*) * 8), zlibVersion(), rounds);
  printf("%-16s %8s %8s %12s %12s %11s\n", "inflate stream", "MB out", "ratio z", "debian MB/s",
         "own MB/s", "own/debian");
  for (size_t s = 0; s < sizeof sets / sizeof sets[0]; ++s) {
    unsigned char* data = malloc(sets[s].size);
    uLongf packedSize = compressBound((uLong)sets[s].size);
    unsigned char* packed = malloc(packedSize);
    if (!data || !packed) return 1;
    sets[s].make(data, sets[s].size);
    if (compress2(packed, &packedSize, data, (uLong)sets[s].size, 9) != Z_OK) return 1;
    /* Both give the right bytes; the timed rounds only count them. */
    double w0 = WallNow();
    Run(&Debian, packed, packedSize, data, sets[s].size);
    double once = WallNow() - w0;
    Run(&Own, packed, packedSize, data, sets[s].size);
    int repeats = (int)(target / (once > 0.001 ? once : 0.001)) + 1;
    double debian[9], own[9];
    for (int r = 0; r < rounds; ++r) {
      /* Alternating which goes first, so that neither always finds the
       * caches warmed by the other. */
      if (r % 2 == 0) {
        debian[r] = Timed(&Debian, packed, packedSize, sets[s].size, repeats);
        own[r] = Timed(&Own, packed, packedSize, sets[s].size, repeats);
      } else {
        own[r] = Timed(&Own, packed, packedSize, sets[s].size, repeats);
        debian[r] = Timed(&Debian, packed, packedSize, sets[s].size, repeats);
      }
    }
    const double mb = sets[s].size / 1e6, d = Median(debian, rounds), o = Median(own, rounds);
    printf("%-16s %8.1f %8.2f %12.0f %12.0f %11.2f\n", sets[s].name, mb,
           (double)sets[s].size / packedSize, mb / d, mb / o, d / o);
    free(data);
    free(packed);
  }
  return 0;
}

// The reader benchmark's plain inflate loop over the setup program's own
// inflater (bench/stub_inflate_loop.c).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Inflates the zlib stream of packedSize bytes at the start of the file to
// /dev/null, 8 KB of input and a 32 KB window at a time. 0 when it ended.
int StubZlibInflate(const char* sourcePath, uint32_t packedSize);
const char* StubZlibVersion(void);

#ifdef __cplusplus
}
#endif

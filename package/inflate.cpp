// Decompression of zlib streams read from the package in bounded chunks.
#include "package/inflate.h"

#include <string.h>
#include <zlib.h>

#include "base/user_interface.h"
#include "package/data_volumes.h"
#include "package/reader_seam.h"

u32 InflateStatusWord;
i32 PumpCountdown;
FileHandle DataSource = InvalidFile;
u32 VolumeNumber;
u32 VolumeLength;
u32 VolumeBase;
u32 VolumeBytesLeft;
ReaderSeam Reader;

static const u32 InputChunk = 8192;
static const u32 OutputWindow = 32768;
static const u32 PumpInterval = 4096;
// Packages are made for the zlib 1.1.3 interface; later versions accept it.
static const char ZlibInterface[] = "1.1.3";

// The data source is read ahead in blocks of this size: every read is a
// call into the system (under Wine a round through its file layer), and the
// streams of many small files lie back to back. The inflater still takes
// its input in chunks of InputChunk bytes.
static const u32 ReadAheadSize = 65536;
static u8 ReadAhead[ReadAheadSize];
static u32 AheadFilePosition;  // file position of ReadAhead[0]
static u32 AheadNext;          // first byte not yet handed out
static u32 AheadEnd;           // bytes held

void ForgetReadAhead() { AheadNext = AheadEnd = 0; }

void SeekDataSource(u32 position) {
  if (AheadEnd && position >= AheadFilePosition && position - AheadFilePosition <= AheadEnd) {
    AheadNext = position - AheadFilePosition;  // already read
    return;
  }
  ForgetReadAhead();
  SeekFile(DataSource, position);
}

// Reads n bytes (n <= VolumeBytesLeft) of the current volume through the
// read-ahead. 0, or 1 on failure.
static int ReadVolume(FileHandle source, u8* at, u32 n) {
  while (n) {
    if (AheadNext == AheadEnd) {
      // What lies behind the bytes already handed out (where the file
      // stands now), up to the end of the volume.
      const u32 position = TellFile(source);
      const u32 fill = VolumeBytesLeft < ReadAheadSize ? VolumeBytesLeft : ReadAheadSize;
      ForgetReadAhead();
      if (ReadExact(source, ReadAhead, fill)) {
        // The volume ends early or cannot be read: read what was asked for
        // alone, so that a file whose own data is all there still installs.
        SeekFile(source, position);
        if (ReadExact(source, at, n)) return 1;
        VolumeBytesLeft -= n;
        return 0;
      }
      AheadFilePosition = position;
      AheadEnd = fill;
    }
    u32 take = AheadEnd - AheadNext < n ? AheadEnd - AheadNext : n;
    memcpy(at, ReadAhead + AheadNext, take);
    AheadNext += take;
    VolumeBytesLeft -= take;
    at += take;
    n -= take;
  }
  return 0;
}

int ReadPackageData(FileHandle* source, void* buffer, u32 n) {
  int failed = 0;
  const u32 requested = n;
  if (*source == DataSource && DataSource != InvalidFile) {
    u8* at = (u8*)buffer;
    while (n > 0) {
      if (n <= VolumeBytesLeft) {
        if (ReadVolume(*source, at, n)) failed = 1;
        break;
      }
      if (VolumeBytesLeft) {
        u32 rest = VolumeBytesLeft;
        if (ReadVolume(*source, at, rest)) {
          failed = 1;
          break;
        }
        at += rest;
        n -= rest;
      }
      VolumeBytesLeft = 0;
      ForgetReadAhead();
      *source = Reader.openNextVolume ? Reader.openNextVolume() : InvalidFile;
      if (*source == InvalidFile) {
        failed = 1;
        break;
      }
    }
  } else {
    failed = ReadExact(*source, buffer, n);
  }
  // Compared in 64 bits: a request of 2 GB or more must not wrap the signed
  // countdown round.
  if ((int64_t)PumpCountdown - requested <= 0) {
    PumpCountdown = PumpInterval;
    PumpWhileReading();
  } else {
    PumpCountdown -= (i32)requested;
  }
  return failed;
}

static int MapZlibResult(int result) {
  if (result == Z_STREAM_END || result == Z_OK) return InflateOk;
  return result == Z_MEM_ERROR ? InflateNoMemory : InflateDataError;
}

static void RecordFailure(u32 cls, int result) {
  InflateStatusWord = (cls << 8) | ((u32)result & 0xFF);
}

// The bytes a stream of "the whole source" may still read.
static u32 PackedBytes(FileHandle* source, u32 packedSize) {
  if (packedSize != 0xFFFFFFFFu) return packedSize;
  u32 length = FileLength(*source), position = TellFile(*source);
  return length > position ? length - position : 0;
}

// The output side of one decompression: a file with its counters, a fixed
// memory block, or a block that grows with the output.
struct InflateOutput {
  FileHandle file;
  u8* window;       // null for memory
  u32 written;
  u32 checksum;
  u8** block;       // growing block, or null
  u32 capacity;     // its size so far
  u32 limit;        // the most it may grow to
};

static const u32 FirstRecordBlock = 65536;

// 128 b0 + 64 b1 + ... + b7 for the bytes b0 (lowest) to b7 of w: adjacent
// bytes, then pairs, then quads are combined in their lanes.
static inline u32 WeighEight(uint64_t w) {
  uint64_t pairs = ((w & 0x00FF00FF00FF00FFull) << 1) + ((w >> 8) & 0x00FF00FF00FF00FFull);
  uint64_t quads = ((pairs & 0x0000FFFF0000FFFFull) << 2) + ((pairs >> 16) & 0x0000FFFF0000FFFFull);
  return ((u32)quads << 4) + (u32)(quads >> 32);
}

// The rotate-and-add sum over produced output, eight bytes a step: from s,
// eight bytes b0..b7 lead to rotl(s, 8) + (128 b0 + 64 b1 + ... + b7) unless
// one of the inner additions carries into bit 31, which needs bits 8 to 23 of
// s all set; such steps (about one in 65,536) take the byte loop.
static u32 SumOutput(u32 s, const u8* data, u32 n) {
  for (; n >= 8; data += 8, n -= 8) {
    if (((s >> 8) & 0xFFFFu) == 0xFFFFu) {
      s = RotateAddSum(s, data, 8);
    } else {
      uint64_t w = (uint64_t)ReadU32(data) | ((uint64_t)ReadU32(data + 4) << 32);
      s = ((s << 8) | (s >> 24)) + WeighEight(w);
    }
  }
  return RotateAddSum(s, data, n);
}

// A growing block that is full is moved into one twice its size (at most
// the limit), so that memory follows the bytes the stream produces. At the
// limit nothing changes: a stream with more to give then fails.
static int Grow(z_stream* z, InflateOutput* out) {
  if (z->avail_out != 0 || out->capacity == out->limit) return 0;
  u32 size = out->capacity > out->limit / 2 ? out->limit : out->capacity * 2;
  u8* larger = nullptr;
  if (!AllocBlock(size, &larger)) return InflateNoMemory;
  memcpy(larger, *out->block, out->capacity);
  FreeBlock(out->block);
  *out->block = larger;
  z->next_out = larger + out->capacity;
  z->avail_out = size - out->capacity;
  out->capacity = size;
  return 0;
}

// Writes out what the window holds. 0 or InflateWriteError. Output into
// memory has no window; an invalid output file fails like any other write.
static int Drain(z_stream* z, InflateOutput* out) {
  if (!out->window) return out->block ? Grow(z, out) : 0;
  u32 produced = OutputWindow - z->avail_out;
  if (produced) {
    if (WriteExact(out->file, out->window, produced)) return InflateWriteError;
    out->written += produced;
    out->checksum = SumOutput(out->checksum, out->window, produced);
  }
  z->next_out = out->window;
  z->avail_out = OutputWindow;
  return 0;
}

static int RunInflate(z_stream* z, FileHandle* source, u32 left, u8* input,
                      InflateOutput* out, u32 failClass) {
  int result = Z_OK;
  bool finishing = false;
  while (!finishing) {
    if (z->avail_in == 0) {
      u32 chunk = left < InputChunk ? left : InputChunk;
      left -= chunk;
      if (chunk == 0) break;
      if (ReadPackageData(source, input, chunk)) return InflateReadError;
      z->next_in = input;
      z->avail_in = chunk;
    }
    result = inflate(z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) RecordFailure(failClass, result);
    if (int status = Drain(z, out)) return status;
    if (result == Z_STREAM_END) finishing = true;
    else if (result != Z_OK) return MapZlibResult(result);
  }
  // All input is in: Z_FINISH decides whether the stream ends here.
  for (;;) {
    u32 before = z->total_out;
    result = inflate(z, Z_FINISH);
    if (result != Z_OK && result != Z_STREAM_END) RecordFailure(failClass, result);
    if (int status = Drain(z, out)) return status;
    if (z->total_out == before || result != Z_OK) break;
  }
  int status = MapZlibResult(result);
  if (status == InflateOk) InflateStatusWord = 0;
  return status;
}

static_assert(InflateClassFileInit == InflateClassFile - 1 &&
                  InflateClassMemoryInit == InflateClassMemory - 1,
              "a failure to start is the class before the stream's");

// Starts an inflater on `z` and runs one stream of `packedSize` bytes
// through it. `failClass` (InflateClassFile or InflateClassMemory) names a
// failure on the way; a failure to start is the class before it (...Init).
static int InflateStream(z_stream* z, FileHandle* source, u32 packedSize, u8* input,
                         InflateOutput* out, u32 failClass) {
  int init = inflateInit_(z, ZlibInterface, (int)sizeof(z_stream));
  if (init != Z_OK) {
    RecordFailure(failClass - 1, init);
    return MapZlibResult(init);
  }
  int status = RunInflate(z, source, packedSize, input, out, failClass);
  inflateEnd(z);
  return status;
}

int InflateToFile(FileHandle output, FileHandle* source, u32 packedSize, u32* written,
                  u32* checksum) {
  if (written) *written = 0;
  if (checksum) *checksum = 0;
  if (packedSize == 0) return InflateOk;
  u8* input = nullptr;
  InflateOutput out = {output, nullptr, 0, 0, nullptr, 0, 0};
  if (!AllocBlock(InputChunk, &input) || !AllocBlock(OutputWindow, &out.window)) {
    FreeBlock(&input);
    return InflateNoMemory;
  }
  z_stream z = {};
  z.next_out = out.window;
  z.avail_out = OutputWindow;
  int status =
      InflateStream(&z, source, PackedBytes(source, packedSize), input, &out, InflateClassFile);
  FreeBlock(&input);
  FreeBlock(&out.window);
  if (written) *written = out.written;
  if (checksum) *checksum = out.checksum;
  return status;
}

int InflateToMemory(u8* destination, u32 capacity, FileHandle* source, u32 packedSize) {
  if (packedSize == 0) return InflateOk;
  u8* input = nullptr;
  if (!AllocBlock(InputChunk, &input)) return InflateNoMemory;
  InflateOutput out = {InvalidFile, nullptr, 0, 0, nullptr, 0, 0};
  z_stream z = {};
  z.next_out = destination;
  z.avail_out = capacity;
  int status =
      InflateStream(&z, source, PackedBytes(source, packedSize), input, &out, InflateClassMemory);
  FreeBlock(&input);
  return status;
}

int InflateRecord(FileHandle* source, u32 packedSize, u32 expected, u8** block) {
  *block = nullptr;
  u8* input = nullptr;
  // The first block is at most 64 KB and never empty: zlib needs somewhere
  // to write even when nothing is expected.
  u32 first = expected < FirstRecordBlock ? expected : FirstRecordBlock;
  if (!AllocBlock(InputChunk, &input) || !AllocBlock(first ? first : 1, block)) {
    FreeBlock(&input);
    FreeBlock(block);
    return InflateNoMemory;
  }
  InflateOutput out = {InvalidFile, nullptr, 0, 0, block, first, expected};
  z_stream z = {};
  z.next_out = *block;
  z.avail_out = first;
  int status = InflateOk;
  if (packedSize != 0)
    status = InflateStream(&z, source, packedSize, input, &out, InflateClassMemory);
  // Fewer bytes than stated: the stream is not the payload it claims to be.
  if (status == InflateOk && z.total_out != expected) {
    RecordFailure(InflateClassMemory, Z_DATA_ERROR);
    status = InflateDataError;
  }
  FreeBlock(&input);
  if (status != InflateOk) FreeBlock(block);
  return status;
}

// Compressed streams: zlib streams read from the package in bounded chunks,
// inflated into memory (record payloads) or into a file (installed files).
#pragma once

#include "base/files.h"

enum InflateStatus {
  InflateOk = 0,
  InflateDataError = 1,
  InflateNoMemory = 2,
  InflateReadError = 3,
  InflateWriteError = 4,
};

// Status word of the last failed decompression: (class << 8) | (zlib code & 0xFF).
extern u32 InflateStatusWord;
// Counts down the bytes read; every 4,096 bytes the message queue is pumped.
extern i32 PumpCountdown;

static const u32 InflateClassFileInit = 0x10;
static const u32 InflateClassFile = 0x11;
static const u32 InflateClassMemoryInit = 0x30;
static const u32 InflateClassMemory = 0x31;

// Reads n bytes. When `source` is the data source, reads continue across data
// volumes and *source follows the volume change. 0, or 1 on failure.
int ReadPackageData(FileHandle* source, void* buffer, u32 n);
// The data source is read ahead: SeekDataSource positions it at a file
// position of the current volume (without a seek when the bytes there were
// read ahead already), and ForgetReadAhead drops what was read ahead; it is
// called whenever DataSource is opened anew.
void SeekDataSource(u32 position);
void ForgetReadAhead();

// packedSize: compressed bytes to consume; 0xFFFFFFFF = the whole length of
// the source file; 0 = nothing to do.
int InflateToFile(FileHandle output, FileHandle* source, u32 packedSize, u32* written,
                  u32* checksum);
int InflateToMemory(u8* destination, u32 capacity, FileHandle* source, u32 packedSize);
// Inflates a record payload of packedSize bytes (0: no stream) into a block
// allocated here that grows with the output, never beyond `expected` bytes.
// InflateOk only when the stream ends after exactly `expected` bytes; then
// *block holds them. On failure *block is null.
int InflateRecord(FileHandle* source, u32 packedSize, u32 expected, u8** block);

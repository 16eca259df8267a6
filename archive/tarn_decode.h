// The Tarn stream decoder (format: tarn_format.h). It holds the output window, at most
// min(2^window log, output size) bytes, a 64 KiB input buffer, a 64 KiB dictionary cache and
// its model (about 30 KiB); the dictionary is read through its file, never held whole.
//
// Malformed streams end with INVALIDFORMAT: a bad header, a match reaching before the
// dictionary or past the window, a token longer than the output left, coded bytes that run out
// or are left over, an output CRC that differs. Nothing is read or written outside the buffers,
// and every token makes at least one byte, so decoding ends.
#pragma once

#include "core/errors.h"
#include "file/file.h"

struct TarnHeader {
  u8 flags;
  u8 literalContextBits;
  u8 literalPositionBits;
  u8 positionBits;
  u8 windowLog;
  u32 outputSize;
  u32 dictionarySize;
  u32 dictionaryCrc;
  u32 outputCrc;
};

// Reads and checks the header at the start of bytes[0 .. size).
ErrorCode TarnReadHeader(const u8* bytes, u32 size, TarnHeader* header);

// Reads and checks the header of the stream that lies at [offset, offset + size) of input.
ErrorCode TarnReadFileHeader(CFile* input, u32 offset, u32 size, TarnHeader* header);

// Decodes the stream that lies at [offset, offset + size) of input and writes its output to
// output (Write, from its current position). dictionary is the file the stream was coded
// against, of the size the header names, or null when it names none. Output written before a
// failure stays written.
ErrorCode TarnDecodeFile(CFile* input, u32 offset, u32 size, CFile* dictionary, CFile* output);

// As TarnDecodeFile for a stream without a dictionary, into output[0 .. header output size),
// which capacity must cover; the output is the window, so nothing more is held.
ErrorCode TarnDecodeFileInto(CFile* input, u32 offset, u32 size, u8* output, u32 capacity);

// Decodes a stream held in memory into output[0 .. header output size), which capacity must
// cover; the dictionary, when the header names one, is dictionary[0 .. dictionarySize).
ErrorCode TarnDecodeMemory(const u8* stream, u32 size, const u8* dictionary, u32 dictionarySize,
                           u8* output, u32 capacity);

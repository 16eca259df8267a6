// Locating the patch payload behind an executable image. The executable records nowhere where
// its payload begins, so the file is scanned for the container header.
#pragma once

#include "file/file.h"

// Bytes tested at each position: the signature "LZSS", and the block size word 8 bytes later.
constexpr u32 kPayloadProbeLength = 12;
constexpr u32 kPayloadBlockSize = 32768;
constexpr u32 kPayloadScanStep = 8192;
constexpr u32 kPayloadScanOverlap = 18;

// Scans the whole file from its start in steps of 8192 bytes (one buffer, 18 bytes of overlap)
// for "LZSS" whose little-endian 32-bit word at +8 is 32768; the first hit in file order wins.
// A payload anywhere up to the end of the file is found. ERR_NOTFOUND when there is none,
// ERR_BADPARAMS for null arguments, ERR_NOTENOUGHMEM without a scan buffer, and the file's error
// when a read fails before the end.
ErrorCode FindPayload(CFile* file, u32* offset);

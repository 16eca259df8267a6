// Locating the patch payload behind an executable image. The executable records nowhere where
// its payload begins, so the file is scanned for the container header.
#pragma once

#include "archive/payload_seal.h"
#include "file/file.h"

// Bytes tested at each position: the signature "LZSS", and the block size word 8 bytes later.
constexpr u32 kPayloadProbeLength = 12;
constexpr u32 kPayloadBlockSize = 32768;
constexpr u32 kPayloadScanStep = 8192;
// Enough for a whole seal record at the last position of a step.
constexpr u32 kPayloadScanOverlap = kSealSize;

// Scans the whole file from its start in steps of 8192 bytes (one buffer, a seal record's length
// of overlap) for "LZSS" whose little-endian 32-bit word at +8 is 32768; the first hit in file
// order wins. With `seal` given, a sound seal record counts as a hit too: *offset is then the
// container's offset right behind it and *seal holds the record (seal->length 0 when the hit is
// a bare header). A payload anywhere up to the end of the file is found. ERR_NOTFOUND when there
// is none, ERR_BADPARAMS for null arguments, ERR_NOTENOUGHMEM without a scan buffer, and the
// file's error when a read fails before the end.
ErrorCode FindPayload(CFile* file, u32* offset, PayloadSeal* seal = nullptr);

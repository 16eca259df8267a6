// Layout constants of the pack file: a 40-byte header, the front-coded directory, then member data.
#pragma once

#include "core/types.h"

// "KVLSYS PackFile\n\x1a" and its terminating NUL occupy bytes 0 to 17 of the header.
constexpr char kPackMagic[] = "KVLSYS PackFile\n\x1a";
constexpr u32 kPackMagicSize = sizeof(kPackMagic);  // 18, the NUL included
constexpr u32 kPackHeaderSize = 40;
constexpr u32 kPackCountOffset = 32;
constexpr u32 kPackDirectorySizeOffset = 36;
constexpr u32 kPackRecordSize = 8;  // member offset and size, 32-bit little-endian each
constexpr u32 kPackFieldWidth = 4;
constexpr u16 kPackCheckpointStep = 100;
constexpr u32 kPackMaxNameLength = 255;

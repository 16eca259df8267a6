// Full check of a pack file: header, directory, member ranges, the CRC-32 table, and every byte
// of every member read back through the given file (for a pack inside an LZSS container that
// also decodes every block).
#pragma once

#include "core/errors.h"
#include "file/file.h"

// Null when the pack is sound. Otherwise the error (INVALIDFORMAT for a fault of the pack
// itself, ALLOCFAIL, or the file's own read error) and, in `message` (may be null; always
// terminated when messageSize > 0), what is wrong and which member it concerns.
ErrorCode VerifyPack(CFile* pack, char* message, u32 messageSize);
